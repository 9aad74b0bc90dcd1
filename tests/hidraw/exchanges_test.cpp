// The bridge link on the real host, hidapi's hidraw backend, through every
// exchange of the fault table (Exchanges.h) that the Windows host also runs.

#include "BridgeLink.h"
#include "Exchanges.h"
#include "HidapiHost.h"
#include "Machine.h"
#include "ReplyCases.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

using namespace std::chrono_literals;

TEST(HidrawExchanges, EveryExchangeOfTheFaultTableEndsAsTheTableSays)
{
    HIDRAW_REQUIRE_MACHINE();
    hidraw_sim::Machine machine(hidraw_sim::Notices::Kernel);
    const int minor = machine.plug();
    bridge::HidapiHost host;
    bridge::BridgeLink link(host);
    ASSERT_EQ(link.scan().state, bridge::ScanResult::State::Opened);
    for (const hidraw_sim::Exchange& e : hidraw_sim::kExchanges) {
        SCOPED_TRACE(e.name);
        for (const std::string& command : e.setUp)
            machine.tell(minor, command);
        unsigned address = 0, first = 0, second = 0;
        ASSERT_EQ(std::sscanf(e.sent, "%x %x %x", &address, &first, &second), 3);
        const auto before = machine.written(minor).size();
        EXPECT_EQ(hidraw_sim::describe(link.transact(static_cast<std::uint8_t>(address),
                                                     static_cast<std::uint8_t>(first),
                                                     static_cast<std::uint8_t>(second))),
                  e.reply);
        const auto written = machine.written(minor);
        ASSERT_EQ(written.size(), before + (e.reachesBridge ? 1 : 0));
        if (e.reachesBridge) {
            EXPECT_EQ(written.back(), hidraw_sim::withoutBlanks(e.sent));
        }
        for (const std::string& command : e.tearDown)
            machine.tell(minor, command);
    }
}

// Reports that are not the waiting command's answer (ReplyCases.h).
TEST(HidrawExchanges, AReplyIsCreditedOnlyToItsOwnCommand)
{
    HIDRAW_REQUIRE_MACHINE();
    hidraw_sim::Machine machine(hidraw_sim::Notices::Kernel);
    const int minor = machine.plug();
    bridge::HidapiHost host;
    bridge::BridgeLink link(host);
    ASSERT_EQ(link.scan().state, bridge::ScanResult::State::Opened);
    hidraw_sim::expectEachReplyCreditedToItsOwnCommand(
        host, link, [&](const std::string& command) { machine.tell(minor, command); });
}

// A bridge that stops taking output reports: the kernel holds the write
// (usbhid gives such a device 5 s) and the node holds it the same way. The
// link returns while the write is still held: no answer, the bridge kept. A
// command meanwhile goes unanswered at once and never reaches the kernel.
// Once the write ends (the report taken late, or usbhid giving up) commands
// are answered again.
TEST(HidrawExchanges, AWriteTheKernelStillHoldsGoesUnansweredAndTheBridgeAnswersOnceItEnds)
{
    HIDRAW_REQUIRE_MACHINE();
    struct Case {
        const char* release;
        std::vector<std::string> written;
    };
    for (const Case& c : {Case{"hold 0", {"704141", "704343"}}, Case{"hold 0 110", {"704343"}}}) {
        SCOPED_TRACE(c.release);
        hidraw_sim::Machine machine(hidraw_sim::Notices::Kernel);
        const int minor = machine.plug();
        bridge::HidapiHost host;
        bridge::BridgeLink link(host);
        ASSERT_EQ(link.scan().state, bridge::ScanResult::State::Opened);

        hidraw_sim::HeldWrites hold(machine, minor);
        const std::string first = hidraw_sim::describe(link.transact(0x70, 0x41, 0x41));
        const int heldThen = hold.held();
        const std::string second = hidraw_sim::describe(link.transact(0x70, 0x42, 0x42));
        const int heldAfter = hold.held();
        EXPECT_EQ(first, "00 00 00 no-answer");
        EXPECT_EQ(heldThen, 1) << "the link returned while the write was held";
        EXPECT_EQ(second, "00 00 00 no-answer");
        EXPECT_EQ(heldAfter, 1) << "the second command did not queue behind the first";
        EXPECT_TRUE(link.connected());

        hold.release(c.release);
        // The host's writer sees the write end in its own time.
        std::string last;
        for (const auto until = std::chrono::steady_clock::now() + 20s;
             last != "01 43 43 acknowledged" && std::chrono::steady_clock::now() < until;
             std::this_thread::sleep_for(10ms))
            last = hidraw_sim::describe(link.transact(0x70, 0x43, 0x43));
        EXPECT_EQ(last, "01 43 43 acknowledged");
        EXPECT_EQ(machine.written(minor), c.written);
    }
}

}  // namespace
