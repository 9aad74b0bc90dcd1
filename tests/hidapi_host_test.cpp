// The real host on a machine without the bridge: the panel starts and shows
// the Disconnected texts.

#include "HidapiHost.h"
#include "StatusBar.h"
#include "TForm1.h"

#include <gtest/gtest.h>

TEST(HidapiHost, FindsNoBridgeOnAMachineWithoutOne)
{
    bridge::HidapiHost host;
    for (const auto& i : host.interfaces())
        if (i.vendorId == 0x6017 && i.productId == 0x0200)
            GTEST_SKIP() << "a real bridge is plugged in; this test needs a machine without one";
    const auto opened = host.open("/dev/no-such-hidraw");
    EXPECT_FALSE(opened.device);
    EXPECT_FALSE(opened.error.empty());

    app::TForm1 form(host);
    auto& bar = *form.findChild<toolkit::StatusBar*>("StatusBar2");
    EXPECT_EQ(bar.text(0), "USB = Disconnected ");
    EXPECT_EQ(bar.text(1), "VID=$0000");
    EXPECT_EQ(bar.text(2), "PID=$0000");

    form.WriteDriverCommand(0x45, 0x45);
    EXPECT_EQ(bar.text(3), "$00- $00- $00");
}
