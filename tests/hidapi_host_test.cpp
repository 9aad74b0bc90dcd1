// The real host on a machine without the bridge: the panel starts and shows
// the Disconnected texts.

#include "HidapiHost.h"
#include "StatusBar.h"
#include "TForm1.h"

#include <gtest/gtest.h>

#include <cerrno>

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

// hidapi's hidraw backend: the error number decides, never the message.
TEST(HidFailure, OnThisSystemTheErrorNumberTellsGoneAndDenied)
{
    using bridge::meansDenied;
    using bridge::meansGone;
    EXPECT_TRUE(meansGone({ENODEV, L"No such device"}));
    EXPECT_TRUE(meansGone({EIO, L"Input/output error"}));
    EXPECT_TRUE(meansGone({ENODEV, L"Kein passendes Ger\u00e4t gefunden"})) << "localised words";
    // A read whose poll() finds the descriptor hung up fails without errno.
    EXPECT_TRUE(meansGone({0, L"hid_read_timeout: unexpected poll error (device disconnected)"}));
    EXPECT_FALSE(meansGone({EINVAL, L"Invalid argument (device disconnected)"})) << "words ignored";
    EXPECT_FALSE(meansGone({EAGAIN, nullptr}));
    EXPECT_FALSE(meansGone({EACCES, L"Permission denied"}));

    EXPECT_TRUE(meansDenied({EACCES, L"Keine Berechtigung"}));
    EXPECT_TRUE(meansDenied({EPERM, nullptr}));
    EXPECT_FALSE(meansDenied({ENOENT, L"Permission denied"})) << "words ignored";
    EXPECT_FALSE(meansDenied({0, nullptr}));
}
