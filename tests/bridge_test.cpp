// The bridge link on the virtual host: finding the bridge, following it, and
// the command transaction.

#include "BridgeLink.h"
#include "OpenFailure.h"
#include "Panel.h"
#include "VirtualBridge.h"

#include <gtest/gtest.h>

using bridge::BridgeLink;
using bridge::Outcome;
using State = bridge::ScanResult::State;
using testing_support::bridgeAt;
using testing_support::hex;
using testing_support::keyboardAt;
using virtualboard::ReplyShape;
using virtualboard::VirtualBridge;

namespace {

class BridgeLinkTest : public ::testing::Test {
protected:
    BridgeLinkTest() { host.setRealTime(false); }
    VirtualBridge host;
    BridgeLink link{host};
};

}  // namespace

TEST_F(BridgeLinkTest, NoBridgeMeansDisconnected)
{
    host.plug(keyboardAt("kbd"));
    const auto scan = link.scan();
    EXPECT_EQ(scan.state, State::Disconnected);
    EXPECT_TRUE(scan.openFailure.empty());
    EXPECT_FALSE(link.connected());
    EXPECT_EQ(host.openHandles(), 0);
}

TEST_F(BridgeLinkTest, OpensTheBridgeOnceAndLeavesItAloneWhileItStays)
{
    host.plug(keyboardAt("kbd"));
    host.plug(bridgeAt("b1"));
    const auto first = link.scan();
    EXPECT_EQ(first.state, State::Opened);
    EXPECT_EQ(first.product, std::u16string(u"KRL7741 Evaluation Board"));
    EXPECT_EQ(first.serial, std::u16string(u"EVB-0001"));
    EXPECT_EQ(host.openHandles(), 1);

    host.plug(keyboardAt("mouse"));
    const auto again = link.scan();
    EXPECT_EQ(again.state, State::StillOpen);
    EXPECT_FALSE(again.product);
    EXPECT_EQ(host.openHandles(), 1);
}

TEST_F(BridgeLinkTest, ReleasesTheHandleOnUnplugAndReopensOnReplug)
{
    for (int round = 0; round < 3; ++round) {
        host.plug(bridgeAt("b1"));
        EXPECT_EQ(link.scan().state, State::Opened);
        EXPECT_EQ(host.openHandles(), 1);
        host.unplug("b1");
        EXPECT_EQ(link.scan().state, State::Disconnected);
        EXPECT_EQ(host.openHandles(), 0);
    }
}

TEST_F(BridgeLinkTest, FirstBridgeInListingOrderWins)
{
    host.plug(bridgeAt("b1"));
    host.plug(bridgeAt("b2"));
    ASSERT_EQ(link.scan().state, State::Opened);
    link.transact(0x70, 0x41, 0x41);
    host.unplug("b2");
    EXPECT_EQ(link.scan().state, State::StillOpen);
    EXPECT_EQ(link.transact(0x70, 0x42, 0x42).outcome(), Outcome::Acknowledged);

    // When the first goes, the second takes over as a new bridge.
    host.plug(bridgeAt("b2"));
    host.unplug("b1");
    EXPECT_EQ(link.scan().state, State::Opened);
    EXPECT_EQ(host.openHandles(), 1);
}

TEST_F(BridgeLinkTest, AnOpenBridgeIsKeptWhileAnEarlierOneCannotBeOpened)
{
    host.plug(bridgeAt("b1"));
    host.setOpenFailure("b1", "Permission denied", true);
    host.plug(bridgeAt("b2"));
    ASSERT_EQ(link.scan().state, State::Opened);
    host.plug(keyboardAt("kbd"));
    EXPECT_EQ(link.scan().state, State::StillOpen);
    EXPECT_EQ(host.openHandles(), 1);
}

TEST_F(BridgeLinkTest, UnreadableStringsDoNotStopTheOpen)
{
    auto board = bridgeAt("b1");
    board.serial.reset();
    board.product.reset();
    host.plug(board);
    const auto scan = link.scan();
    EXPECT_EQ(scan.state, State::Opened);
    EXPECT_FALSE(scan.serial);
    EXPECT_FALSE(scan.product);
}

TEST_F(BridgeLinkTest, StringsEndAtTheirFirstNulAndAt256Characters)
{
    auto board = bridgeAt("b1");
    board.product = std::u16string(u"Bridge\0junk", 11);
    board.serial = std::u16string(300, u'7');
    host.plug(board);
    const auto scan = link.scan();
    EXPECT_EQ(scan.product, std::u16string(u"Bridge"));
    EXPECT_EQ(scan.serial->size(), 256u);
}

TEST_F(BridgeLinkTest, ABridgeThatCannotBeOpenedIsNotConnected)
{
    host.plug(bridgeAt("b1"));
    host.setOpenFailure("b1", "Permission denied", true);
    const auto scan = link.scan();
    EXPECT_EQ(scan.state, State::Disconnected);
    EXPECT_EQ(scan.openFailure, "Permission denied");
    EXPECT_TRUE(scan.permissionDenied);
    EXPECT_EQ(host.openHandles(), 0);

    // The next bridge in line that opens is used instead.
    host.plug(bridgeAt("b2"));
    EXPECT_EQ(link.scan().state, State::Opened);
}

// A bridge another program holds (Windows only; the words are shared).
TEST(OpenFailure, ABridgeInUseNamesTheOtherProgramAndWhatToDo)
{
    bridge::ScanResult scan;
    EXPECT_EQ(bridge::whyNotOpened(scan), "");
    scan.openFailure = "CreateFile: (0x00000020) x";
    scan.inUse = true;
    EXPECT_EQ(bridge::whyNotOpened(scan),
              "the bridge is plugged in, but in use by another program "
              "(CreateFile: (0x00000020) x); close that program, then plug the "
              "bridge in again");
}

TEST_F(BridgeLinkTest, WritesOneFourByteReportAndReadsTheReply)
{
    host.plug(bridgeAt("b1"));
    link.scan();
    const auto reply = link.transact(0x70, 0x6C, 0x6C);
    ASSERT_EQ(host.written().size(), 1u);
    EXPECT_EQ(hex(host.written()[0]), "00 70 6C 6C");
    EXPECT_EQ(reply.status, 0x01);
    EXPECT_EQ(reply.first, 0x6C);
    EXPECT_EQ(reply.second, 0x6C);
    EXPECT_EQ(reply.outcome(), Outcome::Acknowledged);
    EXPECT_EQ(host.registers().pwm[1], 12);
}

TEST_F(BridgeLinkTest, NoChipAtTheAddressIsANack)
{
    host.plug(bridgeAt("b1"));
    link.scan();
    const auto reply = link.transact(0x72, 0x45, 0x45);
    EXPECT_EQ(reply.status, 0xF0);
    EXPECT_EQ(reply.outcome(), Outcome::NotAcknowledged);
    EXPECT_EQ(host.registers(), virtualboard::Registers{});
}

TEST_F(BridgeLinkTest, ASilentBridgeIsWaitedForOnlyBriefly)
{
    host.plug(bridgeAt("b1"));
    link.scan();
    host.setReplyShape(ReplyShape::Silent);
    const auto reply = link.transact(0x70, 0x45, 0x45);
    EXPECT_EQ(reply.outcome(), Outcome::NoAnswer);
    EXPECT_EQ(reply.status, 0);
    EXPECT_EQ(reply.first, 0);
    EXPECT_EQ(host.lastReadTimeout(), bridge::kReplyTimeout);
    EXPECT_GT(bridge::kReplyTimeout.count(), 0);
    EXPECT_LE(bridge::kReplyTimeout.count(), 500);
    EXPECT_TRUE(link.connected());
}

TEST_F(BridgeLinkTest, ALateReplyIsNotTakenForTheNextAnswer)
{
    host.plug(bridgeAt("b1"));
    link.scan();
    host.setReplyShape(ReplyShape::Late);
    EXPECT_EQ(link.transact(0x70, 0x45, 0x45).outcome(), Outcome::NoAnswer);
    host.setReplyShape(ReplyShape::Normal);
    const auto reply = link.transact(0x70, 0x46, 0x46);
    EXPECT_EQ(reply.first, 0x46);
    EXPECT_EQ(reply.second, 0x46);
}

TEST_F(BridgeLinkTest, OddlySizedRepliesAreReadSafely)
{
    host.plug(bridgeAt("b1"));
    link.scan();
    host.setReplyShape(ReplyShape::Long);
    const auto reply = link.transact(0x70, 0x46, 0x46);
    EXPECT_EQ(reply.status, 0x01);
    EXPECT_EQ(reply.first, 0x46);
    EXPECT_EQ(reply.second, 0x46);
}

// The bridge echoes the command byte in bytes 2 and 3 of its reply. Only a
// report that does is the command's answer: any other read meanwhile (a late
// reply to an earlier command, another program's, a report of the bridge's
// own, noise) is read past, and the command waits on for its own.
TEST_F(BridgeLinkTest, AReplyIsTheCommandsOwnOnlyWhenItEchoesTheCommand)
{
    host.plug(bridgeAt("b1"));
    link.scan();
    struct Case {
        const char* name;
        ReplyShape shape;
        std::vector<std::uint8_t> meanwhile;  // a report that comes while the command waits
        const char* reply;                    // status, first, second
        Outcome outcome;
    };
    const Case cases[] = {
        {"its own reply", ReplyShape::Normal, {}, "01 47 47", Outcome::Acknowledged},
        {"another command's reply first",
         ReplyShape::Normal,
         {0x00, 0x01, 0x46, 0x46},
         "01 47 47",
         Outcome::Acknowledged},
        {"another command's NACK first",
         ReplyShape::Normal,
         {0x00, 0xF0, 0x46, 0x46},
         "01 47 47",
         Outcome::Acknowledged},
        {"a report of the bridge's own, and then nothing",
         ReplyShape::Silent,
         {0x00, 0x01, 0xFF, 0xFF},
         "00 00 00",
         Outcome::NoAnswer},
        {"a reply that echoes nothing", ReplyShape::Garbage, {}, "00 00 00", Outcome::NoAnswer},
        {"a reply too short to echo", ReplyShape::Short, {}, "00 00 00", Outcome::NoAnswer},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        host.setReplyShape(c.shape);
        if (!c.meanwhile.empty())
            host.sendDuringNextWait("b1", c.meanwhile);
        const auto reply = link.transact(0x70, 0x47, 0x47);
        EXPECT_EQ(hex({reply.status, reply.first, reply.second}), c.reply);
        EXPECT_EQ(reply.outcome(), c.outcome);
        EXPECT_FALSE(reply.deviceLost);
    }
    // A reply that comes after the command gave up is no later command's answer.
    host.setReplyShape(ReplyShape::Late);
    EXPECT_EQ(link.transact(0x70, 0x48, 0x48).outcome(), Outcome::NoAnswer);
    host.setReplyShape(ReplyShape::Silent);
    const auto next = link.transact(0x70, 0x49, 0x49);
    EXPECT_EQ(hex({next.status, next.first, next.second}), "00 00 00");
}

TEST_F(BridgeLinkTest, WithoutABridgeNothingIsWrittenAndNothingAnswers)
{
    EXPECT_EQ(link.transact(0x70, 0x45, 0x45).outcome(), Outcome::NoAnswer);
    EXPECT_TRUE(host.written().empty());
}

TEST_F(BridgeLinkTest, ABridgeFoundGoneByAWriteIsClosed)
{
    host.plug(bridgeAt("b1"));
    link.scan();
    host.unplug("b1");  // before any scan has noticed
    const auto reply = link.transact(0x70, 0x45, 0x45);
    EXPECT_TRUE(reply.deviceLost);
    EXPECT_EQ(reply.outcome(), Outcome::NoAnswer);
    EXPECT_FALSE(link.connected());
    EXPECT_EQ(host.openHandles(), 0);

    host.plug(bridgeAt("b1"));
    EXPECT_EQ(link.scan().state, State::Opened);
}

TEST_F(BridgeLinkTest, ABridgeRepluggedAtTheSamePathBetweenTwoScansIsReopenedByTheNextCommand)
{
    host.plug(bridgeAt("b1"));
    link.scan();
    // Unplugged and plugged back before the next scan: the path is listed as before.
    host.unplug("b1", false);
    host.plug(bridgeAt("b1"));
    ASSERT_EQ(link.scan().state, State::StillOpen);

    const auto failed = link.transact(0x70, 0x45, 0x45);
    EXPECT_TRUE(failed.deviceLost);
    EXPECT_EQ(failed.outcome(), Outcome::NoAnswer);
    EXPECT_EQ(failed.rescan.state, State::Opened);
    EXPECT_EQ(failed.rescan.serial, std::u16string(u"EVB-0001"));
    EXPECT_TRUE(link.connected());
    EXPECT_EQ(host.openHandles(), 1);

    const auto next = link.transact(0x70, 0x46, 0x46);
    EXPECT_FALSE(next.deviceLost);
    EXPECT_EQ(next.outcome(), Outcome::Acknowledged);
    ASSERT_EQ(host.written().size(), 1u);
    EXPECT_EQ(hex(host.written()[0]), "00 70 46 46");
}

TEST_F(BridgeLinkTest, AFailedWriteIsNotFollowedByARead)
{
    host.plug(bridgeAt("b1"));
    link.scan();
    host.setWritesFail(true);
    host.sendDuringNextWait("b1", {0x00, 0x01, 0x45, 0x45});
    const auto reply = link.transact(0x70, 0x45, 0x45);
    EXPECT_EQ(reply.outcome(), Outcome::NoAnswer);
    EXPECT_EQ(reply.status, 0);
    EXPECT_EQ(reply.first, 0);
    EXPECT_EQ(reply.second, 0);
    EXPECT_FALSE(reply.deviceLost);  // the bridge is still there
    EXPECT_TRUE(link.connected());
    EXPECT_TRUE(host.written().empty());
}

TEST_F(BridgeLinkTest, ABridgeGoneForGoodLeavesTheLinkDisconnectedAfterTheRescan)
{
    host.plug(bridgeAt("b1"));
    link.scan();
    host.unplug("b1", false);
    const auto reply = link.transact(0x70, 0x45, 0x45);
    EXPECT_TRUE(reply.deviceLost);
    EXPECT_EQ(reply.rescan.state, State::Disconnected);
    EXPECT_FALSE(link.connected());
    EXPECT_EQ(host.openHandles(), 0);
}
