// The record on the real host (hidapi's hidraw backend) and simulated hidraw
// bridges: the verdict of every fault the bridge can show, and the panel's log
// on a file system that fills up.

#include "BridgeLink.h"
#include "HidapiHost.h"
#include "Machine.h"
#include "Program.h"
#include "Record.h"
#include "RecordingHost.h"
#include "TrackBar.h"

#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>

#include <gtest/gtest.h>

#include <sys/mount.h>

#include <functional>
#include <thread>

using hidraw_sim::Machine;
using hidraw_sim::Notices;
using namespace std::chrono_literals;
using record::Bytes;
using record::Verdict;

namespace {

class HidrawRecord : public ::testing::Test {
protected:
    void SetUp() override { HIDRAW_REQUIRE_MACHINE(); }
};

}  // namespace

TEST_F(HidrawRecord, EveryFaultOfTheBridgeGetsItsVerdict)
{
    Machine machine(Notices::Kernel);
    bridge::HidapiHost host;
    record::Record traffic;
    record::RecordingHost recorded(host, traffic);
    bridge::BridgeLink link(recorded);
    int minor = machine.plug();
    ASSERT_EQ(link.scan().state, bridge::ScanResult::State::Opened);

    struct Fault {
        const char* name;
        std::function<void()> before;  // sets the fault up; the exchange follows
        std::uint8_t command;
        Bytes received;
        Verdict verdict;
        Bytes stray = {};  // noted after the exchange: a report that answered no command
    };
    // The bridge sends a report of its own (the node puts the report id
    // first) while the panel waits for the reply that never comes: a short
    // one, which the kernel drops, or noise, cut to the four bytes read and
    // noted as the stray it is.
    const auto sendsInstead = [&](const char* hex) {
        return [&machine, &minor, hex] {
            machine.tell(minor, "silent 1");
            machine.tell(minor, std::string("send 100 ") + hex);
        };
    };
    // Gone while the panel waits for the reply (the bridge takes 200 ms to answer).
    std::thread unplugger;
    const auto unplugMidway = [&] {
        machine.tell(minor, "delay 200");
        const auto pull = [&machine, minor] {
            std::this_thread::sleep_for(50ms);
            machine.tell(minor, "gone");
        };
        unplugger = std::thread(pull);
    };
    const auto replug = [&] {
        unplugger.join();
        machine.unplug(minor);
        minor = machine.plug();
        link.scan();
    };
    const Fault faults[] = {
        {"acknowledged", [] {}, 0x45, {0x00, 0x01, 0x45, 0x45}, Verdict::Acknowledged},
        {"NACK",
         [&] { machine.tell(minor, "chip 72"); },
         0x46,
         {0x00, 0xF0, 0x46, 0x46},
         Verdict::NotAcknowledged},
        {"silent", [&] { machine.tell(minor, "silent 1"); }, 0x47, {}, Verdict::NoAnswer},
        {"short: dropped by the HID core", sendsInstead("01"), 0x48, {}, Verdict::NoAnswer},
        {"garbage", sendsInstead("5AA53CC3"), 0x49, {}, Verdict::NoAnswer, {0x00, 0x5A, 0xA5, 0x3C}},
        {"write stalls", [&] { machine.tell(minor, "writefail 32"); }, 0x4A, {}, Verdict::NoAnswer},  // EPIPE
        {"unplugged mid-exchange", unplugMidway, 0x4B, {}, Verdict::BridgeLost},
        {"plugged in again", replug, 0x4C, {0x00, 0x01, 0x4C, 0x4C}, Verdict::Acknowledged},
    };
    std::vector<std::tuple<Bytes, Bytes, Verdict>> expected, recordedAs;
    for (const Fault& fault : faults) {
        machine.tell(minor, "chip 70");
        machine.tell(minor, "silent 0");
        machine.tell(minor, "writefail 0");
        fault.before();
        machine.ask(minor, "opens");  // the node has taken the commands before the exchange
        link.transact(0x70, fault.command, fault.command);
        expected.emplace_back(Bytes{0x00, 0x70, fault.command, fault.command}, fault.received, fault.verdict);
        if (!fault.stray.empty())
            expected.emplace_back(Bytes{}, fault.stray, Verdict::Stray);
    }
    for (const record::Exchange& e : traffic.exchanges())
        recordedAs.emplace_back(e.sent, e.received, e.verdict);
    EXPECT_EQ(recordedAs, expected);
    record::Registers view;
    view.pwm[0] = 0x0C;
    EXPECT_EQ(traffic.registers(), view) << "the last acknowledged PWM LED1 only";
}

TEST_F(HidrawRecord, ALogOnAFullFileSystemStopsWithTheReasonAndThePanelGoesOn)
{
    Machine machine(Notices::Kernel);
    const int minor = machine.plug();
    // A file system with room for a few dozen lines, in this test's own mount namespace.
    QTemporaryDir dir;
    ASSERT_EQ(mount("tmpfs", dir.path().toLocal8Bit().constData(), "tmpfs", 0, "size=8k"), 0);
    const QString path = dir.filePath(QStringLiteral("traffic.jsonl"));
    bridge::HidapiHost host;
    QString errText;
    QTextStream out(stdout), err(&errText);
    {
        app::Program::Started started = app::Program::start(
            {QStringLiteral("KRL7741AT"), QStringLiteral("--monitor"), QStringLiteral("--log"), path}, host,
            out, err);
        ASSERT_TRUE(started.program);
        app::Program& program = *started.program;
        program.show();
        auto* slider = program.form().findChild<toolkit::TrackBar*>("LED1slider");
        auto* status = program.monitor()->findChild<QLabel*>("LogStatus");
        int presses = 0;
        for (; presses < 500 && !status->text().contains(QLatin1String("stopped")); ++presses) {
            slider->setFocus();
            QTest::keyClick(slider, presses % 60 < 30 ? Qt::Key_Right : Qt::Key_Left);
        }
        EXPECT_EQ(status->text(), "The log " + path + " stopped: No space left on device");
        const std::size_t before = machine.written(minor).size();
        QTest::keyClick(slider, Qt::Key_Right);
        EXPECT_EQ(machine.written(minor).size(), before + 2) << "the panel goes on";
        EXPECT_EQ(program.form().findChild<QTextEdit*>("PORTW")->toPlainText(), "");
        EXPECT_GT(presses, 5);
        EXPECT_EQ(errText, "");
    }
    umount(dir.path().toLocal8Bit().constData());
}
