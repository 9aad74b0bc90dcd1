// The virtual evaluation board window beside the panel: what it shows of the
// chip and of every exchange, and how its switches break the board as the
// panel sees it.

#include "BoardWindow.h"
#include "Focus.h"
#include "Panel.h"
#include "StatusBar.h"
#include "TraceLines.h"
#include "TraceView.h"
#include "TrackBar.h"

#include <QStyle>
#include <QStyleOptionButton>

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

using testing_support::Panel;
using virtualboard::BoardWindow;
using virtualboard::Lamp;
using virtualboard::VirtualBridge;

namespace {

const std::string kBoard = VirtualBridge::evaluationBoard().path;

const QString kNoAcknowledge = QStringLiteral("I2C error : no Acknowledge from device");
const QString kNotConnected = QStringLiteral("USB error : device not connected");

double expectedBrightness(int pwm, int peak) { return (pwm / 31.0) * (peak / 31.0); }

// A panel on a virtual bridge and the board window on the same bridge, both shown.
class Board : public ::testing::Test {
protected:
    explicit Board(bool plugged = true) : p(plugged), board(p.bridge, p.record)
    {
        board.show();
        (void)QTest::qWaitForWindowExposed(&board);
    }

    template <typename T>
    T& on(const char* name)
    {
        T* found = board.findChild<T*>(QString::fromLatin1(name));
        if (!found)
            throw std::runtime_error(std::string("no board control named ") + name);
        return *found;
    }

    // What the board window shows once the event loop has run, as anyone
    // looking at it sees it: the trace and the counts follow at that point.
    QString text(const char* label)
    {
        QCoreApplication::processEvents();
        return on<QLabel>(label).text();
    }
    double brightness(const char* lamp) { return on<Lamp>(lamp).brightness(); }

    // The operator clicks a switch on the board window, on its check mark.
    void click(const char* name)
    {
        auto& button = on<QAbstractButton>(name);
        QStyleOptionButton opt;
        opt.initFrom(&button);
        const auto mark = qobject_cast<QRadioButton*>(&button) ? QStyle::SE_RadioButtonIndicator
                                                               : QStyle::SE_CheckBoxIndicator;
        const QRect at = button.style()->subElementRect(mark, &opt, &button);
        QTest::mouseClick(&button, Qt::LeftButton, {}, at.center());
    }

    // The operator focuses one of the panel's track bars and presses a key on it.
    void press(const char* bar, Qt::Key key)
    {
        auto& slider = p.find<toolkit::TrackBar>(bar);
        testing_support::focusOn(slider);
        QTest::keyClick(&slider, key);
    }

    QStringList trace()
    {
        QCoreApplication::processEvents();
        return testing_support::exchangeColumns(on<monitor::TraceView>("Trace").lines());
    }
    // The last line in view: the trace follows the newest.
    QString lastTrace()
    {
        QCoreApplication::processEvents();
        const QStringList lines = on<monitor::TraceView>("Trace").linesInView();
        return lines.isEmpty() ? QString() : testing_support::exchangeColumn(lines.back());
    }
    QString reports() { return QString::number(p.bridge.written().size()); }

    Panel p;
    BoardWindow board;
};

class UnpluggedBoard : public Board {
protected:
    UnpluggedBoard() : Board(false) {}
};

}  // namespace

TEST_F(Board, StartsFromTheBridgeAsItIs)
{
    EXPECT_EQ(board.windowTitle(), "virtual evaluation board");
    EXPECT_TRUE(board.isWindow());
    EXPECT_TRUE(on<QCheckBox>("UsbPlugged").isChecked());
    EXPECT_TRUE(on<QRadioButton>("ChipBT").isChecked());
    EXPECT_FALSE(on<QCheckBox>("Silent").isChecked());
    EXPECT_TRUE(on<QCheckBox>("StringsReadable").isChecked());
    EXPECT_EQ(on<QCheckBox>("UsbPlugged").text(), "USB plugged in");
    EXPECT_EQ(on<QRadioButton>("ChipBT").text(), "KRL7741B/T at $70");
    EXPECT_EQ(on<QRadioButton>("ChipC").text(), "KRL7741C at $72");
    EXPECT_EQ(on<QRadioButton>("NoChip").text(), "No chip");
    EXPECT_EQ(on<QCheckBox>("Silent").text(), "Bridge silent");
    EXPECT_EQ(on<QCheckBox>("StringsReadable").text(), "Product and serial strings readable");

    EXPECT_EQ(text("RegPeak"), "Peak current: 0 (0x00)");
    EXPECT_EQ(text("RegPwm1"), "PWM LED1: 0 (0x00)");
    EXPECT_EQ(text("RegIStart"), "I-START: 0 (0x00)");
    for (const char* lamp : {"LED1", "LED2", "LED3"})
        EXPECT_EQ(brightness(lamp), 0.0) << lamp;
    EXPECT_TRUE(trace().isEmpty());
    EXPECT_EQ(text("AckCount"), "Acknowledged: 0");
    EXPECT_EQ(text("NackCount"), "NACK: 0");
    EXPECT_EQ(text("NoAnswerCount"), "No answer: 0");
    EXPECT_EQ(text("BridgeLostCount"), "Bridge lost: 0");
    EXPECT_EQ(text("StrayCount"), "Stray: 0");
}

TEST_F(UnpluggedBoard, OpenedOnABrokenBoardShowsItBroken)
{
    p.bridge.setChipAddress(std::nullopt);
    p.bridge.setReplyShape(virtualboard::ReplyShape::Silent);
    BoardWindow second(p.bridge, p.record);
    EXPECT_FALSE(second.findChild<QCheckBox*>("UsbPlugged")->isChecked());
    EXPECT_TRUE(second.findChild<QRadioButton*>("NoChip")->isChecked());
    EXPECT_TRUE(second.findChild<QCheckBox*>("Silent")->isChecked());
}

TEST_F(Board, FollowsChangesMadeToTheBridgeElsewhere)
{
    p.bridge.unplug(kBoard);
    EXPECT_FALSE(on<QCheckBox>("UsbPlugged").isChecked());
    p.bridge.plug(VirtualBridge::evaluationBoard());
    EXPECT_TRUE(on<QCheckBox>("UsbPlugged").isChecked());

    p.bridge.setChipAddress(virtualboard::kAddressC);
    EXPECT_TRUE(on<QRadioButton>("ChipC").isChecked());
    p.bridge.setChipAddress(0x10);  // no switch for this one
    EXPECT_FALSE(on<QRadioButton>("ChipBT").isChecked());
    EXPECT_FALSE(on<QRadioButton>("ChipC").isChecked());
    EXPECT_FALSE(on<QRadioButton>("NoChip").isChecked());
    p.bridge.setChipAddress(std::nullopt);
    EXPECT_TRUE(on<QRadioButton>("NoChip").isChecked());

    p.bridge.setReplyShape(virtualboard::ReplyShape::Silent);
    EXPECT_TRUE(on<QCheckBox>("Silent").isChecked());
    p.bridge.setReplyShape(virtualboard::ReplyShape::Normal);
    EXPECT_FALSE(on<QCheckBox>("Silent").isChecked());
}

TEST_F(Board, PanelTrackBarsSetTheRegistersAndLightTheLamps)
{
    press("ILEDslider", Qt::Key_End);
    EXPECT_EQ(text("RegPeak"), "Peak current: 30 (0x1E)");
    EXPECT_EQ(brightness("LED1"), 0.0) << "no PWM yet, no light";

    press("LED1slider", Qt::Key_Right);
    EXPECT_EQ(text("RegPwm1"), "PWM LED1: 1 (0x01)");
    EXPECT_DOUBLE_EQ(brightness("LED1"), expectedBrightness(1, 30));
    EXPECT_EQ(brightness("LED2"), 0.0);
    EXPECT_EQ(brightness("LED3"), 0.0);

    press("LED3slider", Qt::Key_End);
    EXPECT_EQ(text("RegPwm3"), "PWM LED3: 30 (0x1E)");
    EXPECT_EQ(text("RegPwm2"), "PWM LED2: 0 (0x00)");
    EXPECT_DOUBLE_EQ(brightness("LED3"), expectedBrightness(30, 30));

    press("ILED_UP", Qt::Key_Right);
    press("ILED_DWN", Qt::Key_PageDown);
    press("GD_START", Qt::Key_End);
    EXPECT_EQ(text("RegIStart"), "I-START: 1 (0x01)");
    EXPECT_EQ(text("RegIStop"), "I-STOP: 2 (0x02)");
    EXPECT_EQ(text("RegGdStart"), "GD START: 30 (0x1E)");

    // Halving the peak current halves every lamp; none goes out.
    press("ILEDslider", Qt::Key_Home);
    for (int i = 0; i < 15; ++i)
        press("ILEDslider", Qt::Key_Right);
    EXPECT_EQ(text("RegPeak"), "Peak current: 15 (0x0F)");
    EXPECT_DOUBLE_EQ(brightness("LED1"), expectedBrightness(1, 15));
    EXPECT_DOUBLE_EQ(brightness("LED3"), expectedBrightness(30, 15));

    // Peak current off (the panel sends $00) puts every lamp out, PWM or not.
    press("ILEDslider", Qt::Key_Home);
    EXPECT_EQ(text("RegPeak"), "Peak current: 0 (0x00)");
    EXPECT_EQ(text("RegPwm3"), "PWM LED3: 30 (0x1E)");
    EXPECT_EQ(brightness("LED3"), 0.0);
}

TEST_F(Board, ALampIsDrawnBrighterTheBrighterItIs)
{
    auto centre = [this](const char* lamp) {
        const QImage image = on<Lamp>(lamp).grab().toImage();
        return image.pixelColor(image.rect().center()).value();
    };
    const int off = centre("LED1");
    press("ILEDslider", Qt::Key_End);
    press("LED1slider", Qt::Key_Right);
    const int dim = centre("LED1");
    press("LED1slider", Qt::Key_End);
    const int bright = centre("LED1");
    EXPECT_LT(off, dim);
    EXPECT_LT(dim, bright);
    EXPECT_EQ(centre("LED2"), off);
}

TEST_F(Board, ARampSequenceBrightensLed1OneStepAtATime)
{
    press("ILEDslider", Qt::Key_End);
    std::vector<double> seen{brightness("LED1")};
    QObject::connect(&p.bridge, &VirtualBridge::registersChanged, &board, [&] {
        if (brightness("LED1") != seen.back())
            seen.push_back(brightness("LED1"));
    });

    auto& run = p.find<QCheckBox>("RUN_SEQ");
    QTest::mouseClick(&run, Qt::LeftButton, {}, QPoint(5, run.height() / 2));
    ASSERT_TRUE(run.isChecked());
    for (int tick = 0; tick < 32; ++tick)
        p.form->TimerSEQATimer();

    std::vector<double> ramp{0.0};
    for (int step = 1; step <= 31; ++step)
        ramp.push_back(expectedBrightness(step, 30));
    EXPECT_EQ(seen, ramp);
    EXPECT_EQ(text("RegPwm1"), "PWM LED1: 31 (0x1F)");
}

TEST_F(Board, AChipAtTheOtherAddressNacksInTheTraceTheCountAndThePanel)
{
    QTest::mouseClick(&p.find<QRadioButton>("KRL7741C"), Qt::LeftButton, {}, QPoint(5, 8));
    ASSERT_TRUE(p.find<QRadioButton>("KRL7741C").isChecked());

    press("LED1slider", Qt::Key_Right);
    EXPECT_EQ(lastTrace(), "00 72 41 41 -> 00 F0 41 41  not acknowledged");
    EXPECT_EQ(text("NackCount"), "NACK: " + reports());
    EXPECT_EQ(text("AckCount"), "Acknowledged: 0");
    EXPECT_EQ(p.portw(), kNoAcknowledge);
    EXPECT_EQ(p.panel("StatusBar2", 3), "$F0- $41- $41");
    EXPECT_EQ(text("RegPwm1"), "PWM LED1: 0 (0x00)") << "a NACKed command sets nothing";

    // Swap the chip for a KRL7741C: the panel's choice is answered.
    const auto nacks = p.bridge.written().size();
    click("ChipC");
    EXPECT_EQ(p.bridge.chipAddress(), virtualboard::kAddressC);
    press("LED1slider", Qt::Key_Right);
    EXPECT_EQ(lastTrace(), "00 72 42 42 -> 00 01 42 42  acknowledged");
    EXPECT_EQ(text("AckCount"), "Acknowledged: " + QString::number(p.bridge.written().size() - nacks));
    EXPECT_EQ(p.portw(), "");
    EXPECT_EQ(text("RegPwm1"), "PWM LED1: 2 (0x02)");

    // No chip at all: everything NACKs.
    click("NoChip");
    EXPECT_EQ(p.bridge.chipAddress(), std::nullopt);
    press("LED1slider", Qt::Key_Right);
    EXPECT_EQ(lastTrace(), "00 72 43 43 -> 00 F0 43 43  not acknowledged");
    EXPECT_EQ(p.portw(), kNoAcknowledge);

    click("ChipBT");
    EXPECT_EQ(p.bridge.chipAddress(), virtualboard::kAddressBT);
    EXPECT_EQ(trace().size(), static_cast<qsizetype>(p.bridge.written().size()))
        << "one trace line for every report";
}

TEST_F(Board, UnpluggingTheUsbCableDisconnectsThePanelAndPluggingItInReopens)
{
    ASSERT_EQ(p.panel("StatusBar2", 0), "USB = OPEN ");
    click("UsbPlugged");
    EXPECT_FALSE(on<QCheckBox>("UsbPlugged").isChecked());
    EXPECT_FALSE(p.bridge.isPlugged(kBoard));
    EXPECT_EQ(p.panel("StatusBar2", 0), "USB = Disconnected ");
    EXPECT_EQ(p.panel("StatusBar2", 1), "VID=$0000");
    EXPECT_EQ(p.panel("StatusBar2", 2), "PID=$0000");
    EXPECT_EQ(p.bridge.openHandles(), 0);

    // Nothing reaches the board while its cable is out.
    press("LED1slider", Qt::Key_Right);
    EXPECT_EQ(p.portw(), kNotConnected);
    EXPECT_TRUE(trace().isEmpty());
    EXPECT_EQ(text("RegPwm1"), "PWM LED1: 0 (0x00)");

    click("UsbPlugged");
    EXPECT_TRUE(on<QCheckBox>("UsbPlugged").isChecked());
    EXPECT_EQ(p.panel("StatusBar2", 0), "USB = OPEN ");
    EXPECT_EQ(p.panel("StatusBar2", 1), "VID=$6017");
    EXPECT_EQ(p.panel("StatusBar2", 2), "PID=$0200");
    EXPECT_EQ(p.bridge.openHandles(), 1);

    press("LED1slider", Qt::Key_Right);
    EXPECT_EQ(lastTrace(), "00 70 42 42 -> 00 01 42 42  acknowledged");
    EXPECT_EQ(text("RegPwm1"), "PWM LED1: 2 (0x02)");
}

TEST_F(UnpluggedBoard, UnreadableStringsShowAtTheNextPlug)
{
    ASSERT_FALSE(on<QCheckBox>("UsbPlugged").isChecked());
    click("StringsReadable");
    EXPECT_FALSE(on<QCheckBox>("StringsReadable").isChecked());
    click("UsbPlugged");
    EXPECT_EQ(p.panel("StatusBar2", 0), "USB = OPEN ");
    EXPECT_EQ(p.panel("StatusBar1", 3), "");
    EXPECT_EQ(p.panel("StatusBar2", 3), "");

    click("UsbPlugged");
    click("StringsReadable");
    EXPECT_EQ(p.panel("StatusBar1", 3), "") << "the panel reads them only when it opens the bridge";
    click("UsbPlugged");
    EXPECT_EQ(p.panel("StatusBar2", 0), "USB = OPEN ");
    EXPECT_EQ(p.panel("StatusBar1", 3), "KRL7741 Evaluation Board");
    EXPECT_EQ(p.panel("StatusBar2", 3), "HID =EVB-0001");

    // Unticked while plugged in, the board's strings go at once.
    click("StringsReadable");
    const bridge::OpenResult opened = p.bridge.open(kBoard);
    ASSERT_TRUE(opened.device);
    EXPECT_EQ(opened.device->productString(), std::nullopt);
    EXPECT_EQ(opened.device->serialString(), std::nullopt);
}

TEST_F(Board, ASilentBridgeIsNoAnswerAndThePanelGoesOnOnceItSpeaksAgain)
{
    click("Silent");
    EXPECT_EQ(p.bridge.replyShape(), virtualboard::ReplyShape::Silent);
    press("LED1slider", Qt::Key_Right);
    EXPECT_EQ(p.portw(), kNotConnected);
    EXPECT_EQ(p.panel("StatusBar2", 3), "$00- $00- $00");
    EXPECT_EQ(lastTrace(), "00 70 41 41 -> (nothing)  no answer");
    EXPECT_EQ(text("NoAnswerCount"), "No answer: " + reports());
    EXPECT_EQ(text("AckCount"), "Acknowledged: 0");

    click("Silent");
    EXPECT_EQ(p.bridge.replyShape(), virtualboard::ReplyShape::Normal);
    press("LED1slider", Qt::Key_Right);
    EXPECT_EQ(p.portw(), "");
    EXPECT_EQ(p.panel("StatusBar2", 3), "$01- $42- $42");
    EXPECT_EQ(p.panel("StatusBar2", 0), "USB = OPEN ");
    EXPECT_EQ(lastTrace(), "00 70 42 42 -> 00 01 42 42  acknowledged");
    EXPECT_EQ(text("RegPwm1"), "PWM LED1: 2 (0x02)");
}

TEST_F(Board, TheTraceKeepsTheNewestLinesAndTheCountsKeepEverything)
{
    const int total = static_cast<int>(record::Record::kKept) + 5;
    for (int i = 0; i < total; ++i)
        p.form->link().transact(virtualboard::kAddressBT, static_cast<std::uint8_t>(i & 0xFF),
                                static_cast<std::uint8_t>(i >> 8));

    const QStringList lines = trace();
    ASSERT_EQ(lines.size(), static_cast<qsizetype>(record::Record::kKept));
    EXPECT_EQ(lines.front(), "00 70 05 00 -> 00 01 05 00  acknowledged");  // report 5
    EXPECT_EQ(lines.back(), "00 70 04 10 -> 00 01 04 10  acknowledged");   // report 4100
    EXPECT_EQ(lastTrace(), lines.back());
    EXPECT_EQ(text("AckCount"), "Acknowledged: 4101");
}

TEST(VirtualBridgeRecord, KeepsOnlyTheNewestReportsSoALongDemoStaysSmall)
{
    VirtualBridge bridge;
    bridge.setRealTime(false);
    bridge.plug(VirtualBridge::evaluationBoard());
    bridge::BridgeLink link(bridge);
    ASSERT_EQ(link.scan().state, bridge::ScanResult::State::Opened);
    const std::size_t total = VirtualBridge::kWrittenKept + 300;
    for (std::size_t i = 0; i < total; ++i)
        link.transact(virtualboard::kAddressBT, static_cast<std::uint8_t>(i & 0xFF),
                      static_cast<std::uint8_t>(i >> 8));

    ASSERT_EQ(bridge.written().size(), VirtualBridge::kWrittenKept);
    ASSERT_EQ(bridge.writtenAt().size(), VirtualBridge::kWrittenKept);
    EXPECT_EQ(testing_support::hex(bridge.written().front()), "00 70 2C 01");  // report 300
    const std::size_t last = total - 1;
    EXPECT_EQ(bridge.written().back(),
              virtualboard::Report({0x00, 0x70, static_cast<std::uint8_t>(last & 0xFF),
                                    static_cast<std::uint8_t>(last >> 8)}));
    EXPECT_TRUE(std::is_sorted(bridge.writtenAt().begin(), bridge.writtenAt().end()));
    bridge.clearWritten();
    EXPECT_TRUE(bridge.written().empty());
    EXPECT_TRUE(bridge.writtenAt().empty());
}
