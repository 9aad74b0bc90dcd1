// The panel as the program for real hardware builds it (the hidapi host, the
// platform's device notices, the window) on simulated hidraw bridges: plugged,
// commanded, unplugged, replugged, refused, silenced.

#include "Cli.h"
#include "HidapiHost.h"
#include "Machine.h"
#include "Panel.h"
#include "StatusBar.h"
#include "TForm1.h"
#include "TrackBar.h"

#include <QCheckBox>
#include <QRadioButton>
#include <QTest>
#include <QTextEdit>

#include <gtest/gtest.h>

#include <pthread.h>
#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>

using hidraw_sim::BridgeSpec;
using hidraw_sim::Machine;
using hidraw_sim::Notices;
using namespace std::chrono_literals;

namespace {

constexpr int kNoticeWaitMs = 5000;  // how long a notice may take to reach the window

// A machine, the real host, and the panel's window on it.
struct Bench {
    explicit Bench(Notices notices = Notices::Kernel) : machine(notices) {}

    void openPanel()
    {
        form = std::make_unique<app::TForm1>(host);
        form->show();
    }

    template <typename T>
    T& find(const char* name)
    {
        return testing_support::control<T>(*form, name);
    }
    toolkit::StatusBar& bar(const char* name) { return find<toolkit::StatusBar>(name); }
    QString panel(const char* name, int index) { return bar(name).text(index); }
    QString portw() { return find<QTextEdit>("PORTW").toPlainText(); }

    // Lets the event loop run until the panel shows `text` (a notice has been handled).
    bool shows(const char* name, int index, const QString& text)
    {
        return QTest::qWaitFor([&] { return panel(name, index) == text; }, kNoticeWaitMs);
    }

    // A key pressed on a track bar (one command), or pressed and let go (the
    // same command twice: on key down and at the end of tracking).
    void press(const char* trackBar, Qt::Key key = Qt::Key_Right)
    {
        auto& slider = find<toolkit::TrackBar>(trackBar);
        slider.setFocus();
        QTest::keyPress(&slider, key);
    }
    void click(const char* trackBar, Qt::Key key = Qt::Key_Right)
    {
        auto& slider = find<toolkit::TrackBar>(trackBar);
        slider.setFocus();
        QTest::keyClick(&slider, key);
    }

    // A closed file reaches the node a little later (FUSE releases asynchronously).
    bool opensBecome(int minor, int count)
    {
        return QTest::qWaitFor([&] { return machine.opens(minor) == count; }, kNoticeWaitMs);
    }

    Machine machine;
    bridge::HidapiHost host;
    std::unique_ptr<app::TForm1> form;
};

class Hidraw : public ::testing::Test {
protected:
    void SetUp() override { HIDRAW_REQUIRE_MACHINE(); }
};

class HidrawNotices : public ::testing::TestWithParam<Notices> {
protected:
    void SetUp() override { HIDRAW_REQUIRE_MACHINE(); }
};

}  // namespace

TEST_P(HidrawNotices, PluggingAndUnpluggingShowInTheStatusBars)
{
    Bench b(GetParam());
    b.openPanel();
    EXPECT_EQ(b.panel("StatusBar2", 0), "USB = Disconnected ");

    BridgeSpec spec;
    spec.serial = "KRL-0042";
    const int minor = b.machine.plug(spec);
    ASSERT_TRUE(b.shows("StatusBar2", 0, "USB = OPEN "));
    EXPECT_EQ(b.panel("StatusBar2", 1), "VID=$6017");
    EXPECT_EQ(b.panel("StatusBar2", 2), "PID=$0200");
    EXPECT_EQ(b.panel("StatusBar2", 3), "HID =KRL-0042");
    EXPECT_EQ(b.panel("StatusBar1", 3), "KRL7741 USB-I2C Bridge");
    EXPECT_EQ(b.machine.opens(minor), 1);

    b.machine.unplug(minor);
    ASSERT_TRUE(b.shows("StatusBar2", 0, "USB = Disconnected "));
    EXPECT_EQ(b.panel("StatusBar2", 1), "VID=$0000");
    EXPECT_EQ(b.panel("StatusBar2", 2), "PID=$0000");
    EXPECT_TRUE(b.opensBecome(minor, 0));  // the handle was let go
}

INSTANTIATE_TEST_SUITE_P(, HidrawNotices, ::testing::Values(Notices::Kernel, Notices::Udev),
                         [](const auto& info) {
                             return std::string(info.param == Notices::Kernel ? "Kernel" : "Udev");
                         });

TEST_F(Hidraw, KeysOnATrackBarSendTheExactBytes)
{
    Bench b;
    const int minor = b.machine.plug();
    b.openPanel();
    ASSERT_EQ(b.panel("StatusBar2", 0), "USB = OPEN ");

    b.click("LED1slider");
    EXPECT_EQ(b.panel("StatusBar2", 3), "$01- $41- $41");
    b.click("LED1slider");
    EXPECT_EQ(b.panel("StatusBar2", 3), "$01- $42- $42");
    b.click("LED1slider", Qt::Key_Left);
    EXPECT_EQ(b.panel("StatusBar2", 3), "$01- $41- $41");
    EXPECT_EQ(b.portw(), "");
    EXPECT_EQ(b.machine.written(minor),
              (std::vector<std::string>{"704141", "704141", "704242", "704242", "704141", "704141"}));
}

TEST_F(Hidraw, TheOtherAddressIsNotAcknowledged)
{
    Bench b;
    const int minor = b.machine.plug();
    b.openPanel();
    QTest::mouseClick(&b.find<QRadioButton>("KRL7741C"), Qt::LeftButton);

    b.press("ILEDslider");
    EXPECT_EQ(b.panel("StatusBar2", 3), "$F0- $21- $21");
    EXPECT_EQ(b.portw(), "I2C error : no Acknowledge from device");
    EXPECT_EQ(b.panel("StatusBar1", 0), "NACK =1");
    b.click("ILEDslider");
    EXPECT_EQ(b.panel("StatusBar1", 0), "NACK =3");
    EXPECT_EQ(b.machine.written(minor), (std::vector<std::string>{"722121", "722222", "722222"}));
}

TEST_F(Hidraw, ASilentBridgeIsWaitedForWithinTheBound)
{
    Bench b;
    const int minor = b.machine.plug();
    b.openPanel();
    b.machine.tell(minor, "silent 1");

    const auto start = std::chrono::steady_clock::now();
    b.press("LED2slider");
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, bridge::kReplyTimeout);
    EXPECT_EQ(b.panel("StatusBar2", 3), "$00- $00- $00");
    EXPECT_EQ(b.portw(), "USB error : device not connected");
    EXPECT_EQ(b.panel("StatusBar2", 0), "USB = OPEN ");  // silent is not gone
    EXPECT_EQ(b.machine.written(minor), (std::vector<std::string>{"706161"}));
}

TEST_F(Hidraw, LateRepliesAreNotTakenForTheNextAnswer)
{
    Bench b;
    const int minor = b.machine.plug();
    b.openPanel();
    b.machine.tell(minor, "delay 450");  // well past the reply wait
    b.press("LED3slider");
    EXPECT_EQ(b.panel("StatusBar2", 3), "$00- $00- $00");
    QTest::qWait(400);  // the late reply comes in
    b.machine.tell(minor, "delay 0");
    b.press("LED3slider");
    EXPECT_EQ(b.panel("StatusBar2", 3), "$01- $82- $82");
}

TEST_F(Hidraw, UnpluggedDuringARampThePanelLetsGoAndSaysSo)
{
    Bench b;
    const int minor = b.machine.plug();
    b.openPanel();
    QTest::mouseClick(&b.find<QCheckBox>("RUN_SEQ"), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return b.machine.written(minor).size() >= 3; }, kNoticeWaitMs));

    b.machine.unplug(minor);
    ASSERT_TRUE(b.shows("StatusBar2", 0, "USB = Disconnected "));
    QTest::qWait(200);  // the ramp goes on stepping, into nothing
    EXPECT_EQ(b.panel("StatusBar2", 0), "USB = Disconnected ");
    EXPECT_EQ(b.panel("StatusBar2", 3), "$00- $00- $00");
    EXPECT_EQ(b.portw(), "USB error : device not connected");
    EXPECT_TRUE(b.opensBecome(minor, 0));

    // Plugged back, the ramp reaches the bridge again.
    const int again = b.machine.plug({}, minor);
    ASSERT_TRUE(b.shows("StatusBar2", 0, "USB = OPEN "));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !b.machine.written(again).empty(); }, kNoticeWaitMs));
}

// Unplugged and plugged back at the same path before the notices are read:
// one command fails at most, and the panel shows the bridge open again.
TEST_P(HidrawNotices, AFastReplugAtTheSamePathCostsOneCommandAtMost)
{
    Bench b(GetParam());
    const int minor = b.machine.plug();
    b.openPanel();
    b.press("LED1slider");
    ASSERT_EQ(b.panel("StatusBar2", 3), "$01- $41- $41");

    BridgeSpec second;
    second.serial = "KRL-0002";
    b.machine.unplug(minor);
    b.machine.plug(second, minor);
    QTest::qWait(100);  // both notices are read in one go
    EXPECT_EQ(b.panel("StatusBar2", 0), "USB = OPEN ");

    b.press("LED1slider");  // finds the old handle dead
    EXPECT_EQ(b.portw(), "USB error : device not connected");
    EXPECT_EQ(b.panel("StatusBar2", 0), "USB = OPEN ");
    EXPECT_EQ(b.panel("StatusBar2", 3), "HID =KRL-0002");
    b.press("LED1slider");
    EXPECT_EQ(b.panel("StatusBar2", 3), "$01- $43- $43");
    EXPECT_EQ(b.panel("StatusBar2", 0), "USB = OPEN ");
    EXPECT_EQ(b.machine.written(minor), (std::vector<std::string>{"704343"}));
    EXPECT_TRUE(b.opensBecome(minor, 1));  // the old node's handle was let go
}

TEST_F(Hidraw, AFailedWriteIsAnsweredByNothing)
{
    Bench b;
    const int minor = b.machine.plug();
    b.openPanel();
    b.machine.tell(minor, "writefail 32");    // EPIPE: the transfer stalled
    b.machine.tell(minor, "send 30 014141");  // a report that comes in meanwhile
    b.press("LED1slider");
    EXPECT_EQ(b.panel("StatusBar2", 3), "$00- $00- $00");
    EXPECT_EQ(b.portw(), "USB error : device not connected");
    EXPECT_EQ(b.panel("StatusBar2", 0), "USB = OPEN ");
    EXPECT_TRUE(b.machine.written(minor).empty());
}

// A bridge that stops taking output reports: the kernel holds the write. The
// window comes back while it is held: the command went unanswered, the
// bridge stays open; a command meanwhile is unanswered at once; once the
// write ends the bridge answers again.
TEST_F(Hidraw, ABridgeThatStopsTakingReportsGoesUnansweredNeverLost)
{
    Bench b;
    const int minor = b.machine.plug();
    b.openPanel();
    hidraw_sim::HeldWrites hold(b.machine, minor);
    b.press("LED1slider");
    EXPECT_EQ(hold.held(), 1) << "the window came back while the write was held";
    EXPECT_EQ(b.panel("StatusBar2", 3), "$00- $00- $00");
    b.press("LED1slider");
    EXPECT_EQ(hold.held(), 1);
    EXPECT_EQ(b.panel("StatusBar2", 0), "USB = OPEN ");
    hold.release();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            b.press("LED1slider");
            return b.panel("StatusBar2", 3).startsWith("$01-");
        },
        kNoticeWaitMs));
    EXPECT_EQ(b.panel("StatusBar2", 0), "USB = OPEN ");
    const std::vector<std::string> written = b.machine.written(minor);
    ASSERT_EQ(written.size(), 2u);
    EXPECT_EQ(written[0], "704141");
    EXPECT_EQ(QString::fromStdString(written[1]).right(2), b.panel("StatusBar2", 3).right(2));
}

namespace {
void ignoreSignal(int) {}
}  // namespace

TEST_F(Hidraw, ASignalDuringTheWaitDoesNotEndIt)
{
    Bench b;
    const int minor = b.machine.plug();
    b.openPanel();
    b.machine.tell(minor, "delay 120");

    struct sigaction action = {};
    action.sa_handler = ignoreSignal;  // no SA_RESTART: poll() returns EINTR
    struct sigaction previous = {};
    sigaction(SIGUSR1, &action, &previous);
    const pthread_t panelThread = pthread_self();
    std::thread signaller([panelThread] {
        std::this_thread::sleep_for(40ms);
        pthread_kill(panelThread, SIGUSR1);
    });
    b.press("LED1slider");
    signaller.join();
    sigaction(SIGUSR1, &previous, nullptr);

    EXPECT_EQ(b.panel("StatusBar2", 3), "$01- $41- $41");
    EXPECT_EQ(b.portw(), "");
}

TEST_F(Hidraw, OfTwoBridgesOneIsUsedAndTheOtherTakesOver)
{
    Bench b;
    BridgeSpec first;
    first.serial = "KRL-A";
    BridgeSpec second;
    second.serial = "KRL-B";
    const int a = b.machine.plug(first);
    const int c = b.machine.plug(second);
    b.openPanel();
    EXPECT_EQ(b.panel("StatusBar2", 3), "HID =KRL-A");
    b.press("LED1slider");
    EXPECT_EQ(b.machine.written(a), (std::vector<std::string>{"704141"}));
    EXPECT_TRUE(b.machine.written(c).empty());
    EXPECT_EQ(b.machine.opens(c), 0);

    b.machine.unplug(a);
    ASSERT_TRUE(b.shows("StatusBar2", 3, "HID =KRL-B"));
    EXPECT_EQ(b.panel("StatusBar2", 0), "USB = OPEN ");
    b.press("LED1slider");
    EXPECT_EQ(b.machine.written(c), (std::vector<std::string>{"704242"}));
}

namespace {

// What the unprivileged user sees; run by the test below in a program of its own.
class AsUser : public ::testing::Test {
    void TestBody() override
    {
        bridge::HidapiHost host;
        app::TForm1 form(host);
        auto& bar2 = testing_support::control<toolkit::StatusBar>(form, "StatusBar2");
        EXPECT_EQ(bar2.text(0), "USB = Disconnected ");
        EXPECT_EQ(bar2.text(1), "VID=$0000");
        EXPECT_EQ(bar2.text(2), "PID=$0000");
        const QString tip = bar2.panel(0).toolTip();
        EXPECT_TRUE(tip.contains("70-krl7741-bridge.rules")) << tip.toStdString();
        EXPECT_TRUE(tip.contains("Permission denied")) << tip.toStdString();

        // krl7741 gives the same reason, and exit status 3.
        QString out, err;
        QTextStream o(&out), e(&err);
        EXPECT_EQ(cli::run({"krl7741", "set", "pwm1=3"}, host, o, e), cli::kExitNoBridge);
        EXPECT_TRUE(err.contains("70-krl7741-bridge.rules")) << err.toStdString();
        EXPECT_TRUE(err.contains("Permission denied")) << err.toStdString();
    }
};

}  // namespace

void hidraw_sim::registerAsUserTests()
{
    ::testing::RegisterTest("HidrawAsUser", "ANodeThisUserMayNotOpen", nullptr, nullptr, __FILE__, __LINE__,
                            []() -> ::testing::Test* { return new AsUser; });
}

TEST_F(Hidraw, ANodeThisUserMayNotOpenIsExplained)
{
    Machine machine(Notices::Kernel);
    const int minor = machine.plug();  // root's, mode 0600: no udev rule gave it to the user
    std::string output;
    const int status = hidraw_sim::runAsUser("HidrawAsUser.*", output);
    EXPECT_EQ(status, 0) << output;
    EXPECT_NE(output.find("[  PASSED  ] 1 test"), std::string::npos) << output;
    EXPECT_EQ(machine.opens(minor), 0);
}
