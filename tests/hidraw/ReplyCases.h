#pragma once
// The ways a report that is not a command's answer reaches the link while the
// command waits, played alike on the FUSE bridge (exchanges_test.cpp) and on a
// USB gadget (tests/kernel/): a reply that comes after its command gave up,
// a report of the bridge's own, another program's reply. None of them is the
// waiting command's answer; its own is, when it comes within the bound.
//   tell: carries out a bridge command (BridgeBehaviour.h, and "send <ms> <hex>")

#include "BridgeLink.h"
#include "Exchanges.h"
#include "HidapiHost.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

namespace hidraw_sim {

inline void expectEachReplyCreditedToItsOwnCommand(bridge::HidapiHost& host, bridge::BridgeLink& link,
                                                   const std::function<void(const std::string&)>& tell)
{
    using namespace std::chrono_literals;
    const auto send
        = [&link](std::uint8_t command) { return describe(link.transact(0x70, command, command)); };

    // Each reply comes 320 ms late, while the next command waits (the bound is 250 ms).
    tell("delay 320");
    for (const std::uint8_t command : {0x41, 0x62, 0x83, 0x24}) {
        SCOPED_TRACE(command);
        EXPECT_EQ(send(command), "00 00 00 no-answer");
    }
    tell("delay 0");
    std::this_thread::sleep_for(600ms);  // the last late reply arrives
    EXPECT_EQ(send(0x45), "01 45 45 acknowledged");

    // A silent bridge sends one report of its own while a command waits.
    tell("silent 1");
    tell("send 50 01FFFF");
    EXPECT_EQ(send(0x46), "00 00 00 no-answer");
    tell("silent 0");

    // Another program's command, written just before ours; the bridge answers
    // both, in turn, to both programs.
    bridge::OpenResult other = host.open(link.path());
    ASSERT_TRUE(other.device) << other.error;
    tell("delay 80");
    const std::uint8_t theirs[] = {0x00, 0x70, 0x4C, 0x4C};
    ASSERT_EQ(other.device->write(theirs), 4);
    EXPECT_EQ(send(0x47), "01 47 47 acknowledged");
    std::uint8_t reply[4] = {};
    ASSERT_EQ(other.device->read(reply, 1s), 4);
    EXPECT_EQ(reply[2], 0x4C) << "the other program's own reply came first";
    tell("delay 0");
}

}  // namespace hidraw_sim
