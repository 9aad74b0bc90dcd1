#pragma once
// The ways a report that is not a command's answer reaches the link while the
// command waits, played alike on the FUSE bridge (exchanges_test.cpp), on a
// USB gadget (tests/kernel/) and by the Windows host under wine
// (wine_test.cpp): a reply that comes after its command gave up, a report of
// the bridge's own, another program's reply. None of them is the waiting
// command's answer; its own is, when it comes within the bound.

#include "BridgeLink.h"
#include "Exchanges.h"
#include "HIDapi.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

namespace hidraw_sim {

// What the steps need of a host and its bridge.
class ReplyCaseBench {
public:
    virtual ~ReplyCaseBench() = default;
    // Carries out a bridge command (BridgeBehaviour.h, and "send <ms> <hex>").
    virtual void tell(const std::string& command) = 0;
    // The link's exchange 70 <command> <command>, as describe() writes it.
    virtual std::string send(std::uint8_t command) = 0;
    // Another handle on the link's bridge writes 70 <command> <command>; true when written.
    virtual bool otherSends(std::uint8_t command) = 0;
    // The command byte the other handle's first report echoes (its byte 2),
    // read within a second; -1 when none came.
    virtual int otherReply() = 0;
};

inline void expectEachReplyCreditedToItsOwnCommand(ReplyCaseBench& bench)
{
    using namespace std::chrono_literals;

    // Each reply comes 320 ms late, while the next command waits (the bound is 250 ms).
    bench.tell("delay 320");
    for (const std::uint8_t command : {0x41, 0x62, 0x83, 0x24}) {
        SCOPED_TRACE(command);
        EXPECT_EQ(bench.send(command), "00 00 00 no-answer");
    }
    bench.tell("delay 0");
    std::this_thread::sleep_for(600ms);  // the last late reply arrives
    EXPECT_EQ(bench.send(0x45), "01 45 45 acknowledged");

    // A silent bridge sends one report of its own while a command waits.
    bench.tell("silent 1");
    bench.tell("send 50 01FFFF");
    EXPECT_EQ(bench.send(0x46), "00 00 00 no-answer");
    bench.tell("silent 0");

    // Another program's command, written just before ours; the bridge answers
    // both, in turn, to both programs.
    bench.tell("delay 80");
    ASSERT_TRUE(bench.otherSends(0x4C));
    EXPECT_EQ(bench.send(0x47), "01 47 47 acknowledged");
    EXPECT_EQ(bench.otherReply(), 0x4C) << "the other program's own reply came first";
    bench.tell("delay 0");
}

// The same with the real host and link of this program.
inline void expectEachReplyCreditedToItsOwnCommand(bridge::HIDapi& host, bridge::BridgeLink& link,
                                                   const std::function<void(const std::string&)>& tell)
{
    struct Bench final : ReplyCaseBench {
        Bench(bridge::HIDapi& h, bridge::BridgeLink& l, const std::function<void(const std::string&)>& t)
            : host(h), link(l), teller(t)
        {
        }
        bridge::HIDapi& host;
        bridge::BridgeLink& link;
        const std::function<void(const std::string&)>& teller;
        bridge::OpenResult other;

        void tell(const std::string& command) override { teller(command); }
        std::string send(std::uint8_t command) override
        {
            return describe(link.transact(0x70, command, command));
        }
        bool otherSends(std::uint8_t command) override
        {
            other = host.open(link.path());
            EXPECT_TRUE(other.device) << other.error;
            const std::uint8_t report[] = {0x00, 0x70, command, command};
            return other.device && other.device->write(report) == 4;
        }
        int otherReply() override
        {
            std::uint8_t reply[4] = {};
            return other.device->read(reply, std::chrono::seconds{1}) == 4 ? reply[2] : -1;
        }
    } bench(host, link, tell);
    expectEachReplyCreditedToItsOwnCommand(bench);
}

}  // namespace hidraw_sim
