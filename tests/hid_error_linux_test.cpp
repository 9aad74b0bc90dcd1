// hidapi's hidraw backend reports failures through errno: the error number
// decides whether the bridge is gone or access denied, never the message.
// (The Windows backend's codes are checked in tests/windows.)

#include "HidapiHost.h"

#include <gtest/gtest.h>

#include <cerrno>

TEST(HidFailure, OnThisSystemTheErrorNumberTellsGoneAndDenied)
{
    using bridge::meansDenied;
    // This system's codes are never ambiguous: no listing to ask.
    const auto meansGone = [](const bridge::HidFailure& failure) {
        EXPECT_NE(bridge::meaningOf(failure), bridge::FailureMeaning::AskTheListing);
        return bridge::meaningOf(failure) == bridge::FailureMeaning::Gone;
    };
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
