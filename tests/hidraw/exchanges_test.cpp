// The bridge link on the real host, hidapi's hidraw backend, through every
// exchange of the fault table (Exchanges.h) that the Windows host also runs.

#include "BridgeLink.h"
#include "Exchanges.h"
#include "HidapiHost.h"
#include "Machine.h"

#include <gtest/gtest.h>

namespace {

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

}  // namespace
