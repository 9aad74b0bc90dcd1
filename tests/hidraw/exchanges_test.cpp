// The bridge link on the real host, hidapi's hidraw backend, through every
// exchange of the fault table (Exchanges.h) that the Windows host also runs.

#include "BridgeLink.h"
#include "Exchanges.h"
#include "HidapiHost.h"
#include "Machine.h"

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

// The bridge echoes the command byte in bytes 2 and 3 of its reply, and
// hidraw gives every input report to every open file: a reply that comes
// after its command gave up, another program's reply and a report of the
// bridge's own all reach the link while a later command waits. None of them
// is that command's answer; its own is, when it comes within the bound.
TEST(HidrawExchanges, AReplyIsCreditedOnlyToItsOwnCommand)
{
    HIDRAW_REQUIRE_MACHINE();
    hidraw_sim::Machine machine(hidraw_sim::Notices::Kernel);
    const int minor = machine.plug();
    bridge::HidapiHost host;
    bridge::BridgeLink link(host);
    ASSERT_EQ(link.scan().state, bridge::ScanResult::State::Opened);
    const auto send = [&link](std::uint8_t command) {
        return hidraw_sim::describe(link.transact(0x70, command, command));
    };

    // Each reply comes 320 ms late, while the next command waits (the bound is 250 ms).
    machine.tell(minor, "delay 320");
    for (const std::uint8_t command : {0x41, 0x62, 0x83, 0x24}) {
        SCOPED_TRACE(command);
        EXPECT_EQ(send(command), "00 00 00 no-answer");
    }
    machine.tell(minor, "delay 0");
    std::this_thread::sleep_for(400ms);  // the last late reply arrives
    EXPECT_EQ(send(0x45), "01 45 45 acknowledged");

    // A silent bridge sends one report of its own while a command waits.
    machine.tell(minor, "silent 1");
    machine.tell(minor, "send 50 01FFFF");
    EXPECT_EQ(send(0x46), "00 00 00 no-answer");
    machine.tell(minor, "silent 0");

    // Another program's command, written just before ours; the bridge answers
    // both, in turn, to both programs.
    bridge::OpenResult other = host.open(link.path());
    ASSERT_TRUE(other.device) << other.error;
    machine.tell(minor, "delay 150");
    const std::uint8_t theirs[] = {0x00, 0x70, 0x4C, 0x4C};
    ASSERT_EQ(other.device->write(theirs), 4);
    EXPECT_EQ(send(0x47), "01 47 47 acknowledged");
    std::uint8_t reply[4] = {};
    ASSERT_EQ(other.device->read(reply, 1s), 4);
    EXPECT_EQ(reply[2], 0x4C) << "the other program's own reply came first";
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
