// The set-up and dimming track bars, worked with keys and mouse, and the
// transaction each notification makes: the exact reports the bridge receives
// and what the window shows of the reply.

#include "Focus.h"
#include "Panel.h"
#include "StatusBar.h"
#include "Tag.h"
#include "TrackBar.h"

#include <QApplication>

#include <gtest/gtest.h>

using testing_support::commands;
using testing_support::dragTo;
using testing_support::hex;
using testing_support::Panel;
using virtualboard::ReplyShape;
using virtualboard::VirtualBridge;

namespace {

toolkit::TrackBar& focused(Panel& p, const char* name)
{
    auto& bar = p.find<toolkit::TrackBar>(name);
    testing_support::focusOn(bar);
    return bar;
}

QColor portwColour(Panel& p)
{
    QTextCursor cursor(p.find<QTextEdit>("PORTW").document());
    cursor.movePosition(QTextCursor::End);
    return cursor.charFormat().foreground().color();
}

}  // namespace

TEST(Commands, DraggingPwmLed2To12WritesTheReportAndShowsTheReply)
{
    Panel p;
    auto& bar = p.find<toolkit::TrackBar>("LED2slider");
    dragTo(bar, 12);
    ASSERT_EQ(bar.value(), 12);
    ASSERT_GE(p.bridge.written().size(), 3u);  // drag steps, final position, end of tracking
    for (const auto& report : p.bridge.written()) {
        ASSERT_EQ(report.size(), 4u);
        EXPECT_EQ(report[0], 0x00);
        EXPECT_EQ(report[1], 0x70);
        EXPECT_EQ(report[2], report[3]);
        EXPECT_EQ(report[2] & 0xE0, 0x60);
    }
    const auto& last = p.bridge.written();
    EXPECT_EQ(hex(last[last.size() - 1]), "00 70 6C 6C");
    EXPECT_EQ(hex(last[last.size() - 2]), "00 70 6C 6C");
    EXPECT_EQ(p.find<QLabel>("VAL_PWM2").text(), "37.5%");
    EXPECT_EQ(p.panel("StatusBar2", 3), "$01- $6C- $6C");
    EXPECT_TRUE(p.portw().isEmpty());
    EXPECT_EQ(p.bridge.registers().pwm[1], 12);
}

TEST(Commands, OneArrowPressSendsOnKeyDownAndAgainOnKeyUp)
{
    Panel p;
    auto& bar = focused(p, "LED1slider");
    for (int i = 0; i < 4; ++i)
        QTest::keyClick(&bar, Qt::Key_Right);
    p.bridge.clearWritten();

    QTest::keyPress(&bar, Qt::Key_Right);
    EXPECT_EQ(commands(p.bridge), std::vector<int>({0x45}));
    QTest::keyRelease(&bar, Qt::Key_Right);
    EXPECT_EQ(commands(p.bridge), std::vector<int>({0x45, 0x45}));
    EXPECT_EQ(p.find<QLabel>("VAL_PWM1").text(), "15.625%");
}

TEST(Commands, PeakCurrentZeroSendsTheOffByte)
{
    Panel p;
    auto& bar = focused(p, "ILEDslider");
    QTest::keyClick(&bar, Qt::Key_Right);
    EXPECT_EQ(commands(p.bridge), std::vector<int>({0x21, 0x21}));
    EXPECT_EQ(p.find<QLabel>("VAL_ILED").text(), "3.125%");
    EXPECT_EQ(p.find<QTextEdit>("PORTW").toPlainText(), "");

    p.bridge.clearWritten();
    QTest::keyClick(&bar, Qt::Key_Left);
    EXPECT_EQ(commands(p.bridge), std::vector<int>({0x00, 0x00}));
    EXPECT_EQ(p.find<QLabel>("VAL_ILED").text(), "0%");
    EXPECT_EQ(p.bridge.registers().peakCurrent, 0);
}

TEST(Commands, EachTrackBarProgramsItsOwnRegister)
{
    struct Case {
        const char* bar;
        Qt::Key key;
        int presses;
        int byte;
        const char* label;
        const char* text;
    };
    const Case cases[] = {
        {"LED3slider", Qt::Key_End, 1, 0x9E, "VAL_PWM3", "93.75%"},
        {"GD_START", Qt::Key_End, 1, 0xFE, "VAL_WIDTH", "240ms"},
        {"ILED_DWN", Qt::Key_PageDown, 6, 0xCC, "Val_STOP", "12mA"},
        {"ILED_UP", Qt::Key_Down, 3, 0xA3, "VAL_START", "3mA"},
    };
    for (const Case& c : cases) {
        Panel p;
        auto& bar = focused(p, c.bar);
        for (int i = 0; i < c.presses; ++i)
            QTest::keyClick(&bar, c.key);
        ASSERT_FALSE(p.bridge.written().empty()) << c.bar;
        EXPECT_EQ(commands(p.bridge).back(), c.byte) << c.bar;
        EXPECT_EQ(p.find<QLabel>(c.label).text(), QString::fromLatin1(c.text)) << c.bar;
        EXPECT_EQ(p.bridge.written().size(), 2u * c.presses) << c.bar << ": one per key down, one per key up";
    }

    Panel p;
    auto& gd = focused(p, "GD_START");
    QTest::keyClick(&gd, Qt::Key_Right);
    EXPECT_EQ(commands(p.bridge).back(), 0xE1);
    EXPECT_EQ(p.find<QLabel>("VAL_WIDTH").text(), "8ms");
}

TEST(Commands, MovingOneTrackBarNeverResendsTheOthers)
{
    Panel p;
    auto& bar = focused(p, "LED1slider");
    QTest::keyClick(&bar, Qt::Key_PageDown);
    for (const int byte : commands(p.bridge))
        EXPECT_EQ(byte, 0x42);
}

TEST(Commands, TheWheelMovesNothingAndSendsNothing)
{
    Panel p;
    auto& bar = focused(p, "LED1slider");
    QWheelEvent wheel(QPointF(20, 10), bar.mapToGlobal(QPointF(20, 10)), {}, QPoint(0, 120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(&bar, &wheel);
    EXPECT_EQ(bar.value(), 0);
    EXPECT_TRUE(p.bridge.written().empty());
}

TEST(Commands, TheSelectedDeviceAddressIsReadForEveryCommand)
{
    Panel p;
    p.bridge.setChipAddress(virtualboard::kAddressC);
    QTest::mouseClick(&p.find<QRadioButton>("KRL7741C"), Qt::LeftButton);
    auto& bar = focused(p, "LED1slider");
    QTest::keyClick(&bar, Qt::Key_Right);
    EXPECT_EQ(hex(p.bridge.written().back()), "00 72 41 41");
    EXPECT_TRUE(p.portw().isEmpty());

    QTest::mouseClick(&p.find<QRadioButton>("KRL7741B"), Qt::LeftButton);
    testing_support::focusOn(bar);
    QTest::keyClick(&bar, Qt::Key_Right);
    EXPECT_EQ(hex(p.bridge.written().back()), "00 70 42 42");
    EXPECT_EQ(p.portw(), "I2C error : no Acknowledge from device");
}

TEST(Commands, ANackIsReportedInRedCountedAndShown)
{
    Panel p;
    QTest::mouseClick(&p.find<QRadioButton>("KRL7741C"), Qt::LeftButton);  // no chip answers at $72
    auto& bar = focused(p, "LED1slider");
    QTest::keyClick(&bar, Qt::Key_Right);

    EXPECT_EQ(p.portw(), "I2C error : no Acknowledge from device");
    EXPECT_EQ(portwColour(p), QColor(255, 0, 0));
    EXPECT_EQ(p.panel("StatusBar2", 3), "$F0- $41- $41");
    EXPECT_EQ(toolkit::tag(p.find<QTextEdit>("PORTW")), 2);
    EXPECT_EQ(p.panel("StatusBar1", 0), "NACK =2");
    EXPECT_EQ(p.find<QLabel>("VAL_PWM1").text(), "3.125%") << "the label keeps its new value";

    // An acknowledged command clears the message but not the count.
    QTest::mouseClick(&p.find<QRadioButton>("KRL7741B"), Qt::LeftButton);
    p.form->LED1sliderChange();
    EXPECT_TRUE(p.portw().isEmpty());
    EXPECT_EQ(toolkit::tag(p.find<QTextEdit>("PORTW")), 2);
    EXPECT_EQ(p.panel("StatusBar1", 0), "NACK =2");
}

TEST(Commands, ASilentBridgeIsReportedAndTheWindowCarriesOn)
{
    Panel p;
    p.bridge.setReplyShape(ReplyShape::Silent);
    auto& bar = focused(p, "LED2slider");
    QTest::keyClick(&bar, Qt::Key_Right);
    EXPECT_EQ(p.portw(), "USB error : device not connected");
    EXPECT_EQ(portwColour(p), QColor(255, 0, 0));
    EXPECT_EQ(p.panel("StatusBar2", 3), "$00- $00- $00");
    EXPECT_EQ(p.bridge.lastReadTimeout(), bridge::kReplyTimeout) << "the wait is bounded";
    EXPECT_EQ(p.panel("StatusBar2", 0), "USB = OPEN ") << "silence is not an unplug";

    p.bridge.setReplyShape(ReplyShape::Normal);
    QTest::keyClick(&bar, Qt::Key_Right);
    EXPECT_TRUE(p.portw().isEmpty());
    EXPECT_EQ(p.panel("StatusBar2", 3), "$01- $62- $62");
}

TEST(Commands, ALateReplyIsNotShownAsTheNextAnswer)
{
    Panel p;
    p.bridge.setReplyShape(ReplyShape::Late);
    p.form->WriteDriverCommand(0x45, 0x45);
    EXPECT_EQ(p.portw(), "USB error : device not connected");
    p.bridge.setReplyShape(ReplyShape::Normal);
    p.form->WriteDriverCommand(0x46, 0x46);
    EXPECT_EQ(p.panel("StatusBar2", 3), "$01- $46- $46");
}

TEST(Commands, RepliesAreShownAsTwoUpperCaseDigitsEach)
{
    Panel p;
    p.form->WriteDriverCommand(0x0A, 0x0A);
    EXPECT_EQ(p.panel("StatusBar2", 3), "$01- $0A- $0A");
    EXPECT_TRUE(p.portw().isEmpty());

    p.bridge.setChipAddress(std::nullopt);
    p.form->WriteDriverCommand(0xCB, 0xCB);
    EXPECT_EQ(p.panel("StatusBar2", 3), "$F0- $CB- $CB");
}

// A report that does not echo the command is not its answer: the command
// shows as unanswered, whatever that report's status says.
TEST(Commands, AReplyThatDoesNotEchoTheCommandIsNoAnswer)
{
    for (const ReplyShape shape : {ReplyShape::Garbage, ReplyShape::Short}) {
        Panel p;
        p.bridge.setReplyShape(shape);
        p.form->WriteDriverCommand(0x45, 0x45);
        EXPECT_EQ(p.panel("StatusBar2", 3), "$00- $00- $00");
        EXPECT_EQ(p.portw(), "USB error : device not connected");
    }
}

TEST(Commands, WithoutABridgeEveryCommandReportsTheUsbError)
{
    Panel p(false);
    auto& bar = focused(p, "LED1slider");
    QTest::keyClick(&bar, Qt::Key_Right);
    EXPECT_EQ(p.portw(), "USB error : device not connected");
    EXPECT_EQ(p.panel("StatusBar2", 3), "$00- $00- $00");
    EXPECT_EQ(p.find<QLabel>("VAL_PWM1").text(), "3.125%");
}

TEST(Commands, ABridgeFoundGoneByACommandShowsAsUnplugged)
{
    Panel p;
    p.bridge.unplug(VirtualBridge::evaluationBoard().path, false);  // the notice is lost
    EXPECT_EQ(p.panel("StatusBar2", 0), "USB = OPEN ");
    p.form->WriteDriverCommand(0x45, 0x45);
    EXPECT_EQ(p.portw(), "USB error : device not connected");
    EXPECT_EQ(p.panel("StatusBar2", 0), "USB = Disconnected ");
    EXPECT_EQ(p.panel("StatusBar2", 1), "VID=$0000");
    EXPECT_EQ(p.bridge.openHandles(), 0);

    p.bridge.plug(VirtualBridge::evaluationBoard());
    EXPECT_EQ(p.panel("StatusBar2", 0), "USB = OPEN ");
    EXPECT_EQ(p.bridge.openHandles(), 1);
}

TEST(Commands, ValuesUseTheUsersDecimalSeparatorAndFollowItsChanges)
{
    QLocale locale(QLocale::German, QLocale::Germany);
    app::Environment env;
    env.locale = [&] { return locale; };
    Panel p(true, env);
    auto& bar = focused(p, "LED2slider");
    for (int i = 0; i < 12; ++i)
        QTest::keyClick(&bar, Qt::Key_Right);
    EXPECT_EQ(p.find<QLabel>("VAL_PWM2").text(), "37,5%");

    locale = QLocale(QLocale::English, QLocale::UnitedKingdom);
    QEvent changed(QEvent::LocaleChange);
    QApplication::sendEvent(p.form.get(), &changed);
    QTest::keyClick(&bar, Qt::Key_Right);
    EXPECT_EQ(p.find<QLabel>("VAL_PWM2").text(), "40.625%");
    EXPECT_GE(p.find<QLabel>("VAL_PWM2").width(), p.find<QLabel>("VAL_PWM2").sizeHint().width())
        << "the label grows with its text";
}

// What anyone can see or read of the window after each change stays exactly
// what it was when every change rewrote PORTW and measured its label: the
// value text with the label as wide as that text needs, an empty red PORTW
// after an answer, the red error after a NACK, and the status panels' texts.
TEST(Commands, EveryChangeLeavesTheSameTextsColoursAndLabelSizes)
{
    Panel p;
    const struct {
        const char* bar;
        const char* label;
    } controls[] = {{"ILEDslider", "VAL_ILED"}, {"LED1slider", "VAL_PWM1"}, {"LED2slider", "VAL_PWM2"},
                    {"LED3slider", "VAL_PWM3"}, {"ILED_UP", "VAL_START"},   {"ILED_DWN", "Val_STOP"},
                    {"GD_START", "VAL_WIDTH"}};
    auto& portw = p.find<QTextEdit>("PORTW");
    for (const auto& c : controls) {
        SCOPED_TRACE(c.bar);
        auto& bar = focused(p, c.bar);
        auto& label = p.find<QLabel>(c.label);
        for (int round = 0; round < 2; ++round) {  // the second time, every text has been seen before
            QTest::keyClick(&bar, Qt::Key_Home);
            for (int v = 0; v <= 30; ++v) {
                if (v > 0)
                    QTest::keyClick(&bar, Qt::Key_Right);
                ASSERT_EQ(bar.value(), v);
                const driver::SetupCommand expected = driver::setupCommand(
                    static_cast<driver::SetupControl>(&c - controls), v, QLatin1Char('.'));
                EXPECT_EQ(label.text(), expected.value);
                EXPECT_EQ(label.width(), label.sizeHint().width()) << expected.value.toStdString();
                EXPECT_TRUE(portw.toPlainText().isEmpty());
                EXPECT_EQ(portw.textColor(), QColor(255, 0, 0));
                EXPECT_EQ(p.panel("StatusBar2", 3),
                          QStringLiteral("$01- $%1- $%1").arg(driver::hexByte(expected.byte)));
            }
        }
    }

    // A NACK writes its message in red; the next answer empties PORTW again.
    auto& bar = focused(p, "LED1slider");
    p.bridge.setChipAddress(virtualboard::kAddressC);
    QTest::keyClick(&bar, Qt::Key_Left);
    EXPECT_EQ(p.portw(), "I2C error : no Acknowledge from device");
    EXPECT_EQ(portwColour(p), QColor(255, 0, 0));
    p.bridge.setChipAddress(virtualboard::kAddressBT);
    QTest::keyClick(&bar, Qt::Key_Left);
    EXPECT_TRUE(p.portw().isEmpty());
    EXPECT_EQ(portw.textColor(), QColor(255, 0, 0));
    // Something typed into PORTW goes at the next answer, as before.
    portw.setFocus();
    QTest::keyClicks(&portw, "x");
    testing_support::focusOn(bar);
    QTest::keyClick(&bar, Qt::Key_Left);
    EXPECT_TRUE(p.portw().isEmpty());
    EXPECT_EQ(portw.textColor(), QColor(255, 0, 0));
}
