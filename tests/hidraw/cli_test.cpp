// krl7741 on the real host (hidapi's hidraw backend) and simulated hidraw
// bridges: what it lists, what reaches the bridge, and a bridge pulled out
// in the middle of a ramp.

#include "Cli.h"
#include "CliRun.h"
#include "HidapiHost.h"
#include "Machine.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <optional>

using hidraw_sim::BridgeSpec;
using hidraw_sim::Machine;
using hidraw_sim::Notices;

namespace {

class HidrawCli : public ::testing::Test {
protected:
    void SetUp() override { HIDRAW_REQUIRE_MACHINE(); }
};

using Result = testing_support::CliRun;

Result krl7741(bridge::HIDapi& host, const char* line)
{
    return testing_support::krl7741(host, QLatin1String(line));
}

QString listed(int minor, const char* serial, bool used)
{
    return QStringLiteral("%1%2  6017:0200  product \"KRL7741 USB-I2C Bridge\"  serial \"%3\"")
        .arg(used ? "* " : "  ", QString::fromStdString(Machine::devnode(minor)), QLatin1String(serial));
}

}  // namespace

TEST_F(HidrawCli, ListShowsEveryBridgeAndTheOneThatWouldBeUsed)
{
    Machine machine(Notices::Kernel);
    bridge::HidapiHost host;
    Result r = krl7741(host, "list");
    EXPECT_EQ(r.status, cli::kExitNoBridge);

    BridgeSpec first, second;
    first.serial = "KRL-0001";
    second.serial = "KRL-0002";
    const int a = machine.plug(first);
    r = krl7741(host, "list");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.lines(), QStringList({listed(a, "KRL-0001", true)}));

    const int b = machine.plug(second);
    r = krl7741(host, "--serial KRL-0002 list");
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.lines().contains(listed(a, "KRL-0001", false))) << r.out.toStdString();
    EXPECT_TRUE(r.lines().contains(listed(b, "KRL-0002", true))) << r.out.toStdString();
    EXPECT_TRUE(machine.written(a).empty());
    EXPECT_TRUE(machine.written(b).empty());
}

TEST_F(HidrawCli, SetReachesTheBridgeAsThePanelSendsIt)
{
    Machine machine(Notices::Kernel);
    bridge::HidapiHost host;
    const int minor = machine.plug();
    const Result r = krl7741(host, "set peak=24 pwm1=17 pwm2=0 pwm3=30");
    EXPECT_EQ(r.status, cli::kExitAcknowledged) << r.err.toStdString();
    EXPECT_EQ(machine.written(minor), (std::vector<std::string>{"703838", "705151", "706060", "709E9E"}));
    EXPECT_EQ(r.lines().first(), "ILED PEAK = $38: 00 70 38 38 -> 00 01 38 38  acknowledged");
    EXPECT_TRUE(QTest::qWaitFor([&] { return machine.opens(minor) == 0; }, 5000)) << "closed at the end";
}

TEST_F(HidrawCli, ABridgeUnpluggedMidRampEndsItWithTwo)
{
    Machine machine(Notices::Kernel);
    bridge::HidapiHost host;
    const int minor = machine.plug();
    // Unplugged once the ramp is under way (ten reports: past the zeros),
    // however long a busy machine takes to get there.
    constexpr std::size_t kUnderWay = 10;
    std::size_t reached = 0;
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, [&] {
        if (machine.written(minor).size() < kUnderWay)
            return;
        look.stop();
        reached = machine.written(minor).size();
        machine.unplug(minor);
    });
    look.start(5);
    const Result r = krl7741(host, "ramp seq3 --interval 10");
    EXPECT_EQ(r.status, cli::kExitNoAnswer) << r.err.toStdString();
    EXPECT_GE(reached, kUnderWay) << "the ramp was under way";
    // One line for each command that reached the bridge, and one for the one that found it gone.
    EXPECT_EQ(r.lines().size(), static_cast<qsizetype>(reached) + 1) << r.out.toStdString();
    EXPECT_TRUE(r.lines().last().endsWith("(nothing)  bridge lost")) << r.out.toStdString();
    EXPECT_EQ(r.err, "krl7741: the bridge was lost\n");
}

// The bridge stops taking output reports during a ramp (the kernel holds the
// write) and takes them again: the steps meanwhile go unanswered, the bridge
// is never lost, and the ramp goes on acknowledged to its end.
TEST_F(HidrawCli, ARampOnABridgeThatStopsTakingReportsGoesUnansweredThenAnswersAgain)
{
    Machine machine(Notices::Kernel);
    bridge::HidapiHost host;
    const int minor = machine.plug();
    std::optional<hidraw_sim::HeldWrites> hold;
    int heldThen = 0;
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, [&] {
        if (!hold) {
            if (machine.written(minor).size() >= 10)
                hold.emplace(machine, minor);
        } else if ((heldThen = hold->held()) > 0) {
            look.stop();
            hold->release();
        }
    });
    look.start(5);
    const Result r = krl7741(host, "ramp seq3 --interval 10");
    EXPECT_EQ(heldThen, 1) << "the ramp went on while the write was held";
    EXPECT_EQ(r.status, cli::kExitNoAnswer) << r.err.toStdString();
    EXPECT_TRUE(r.err.isEmpty()) << r.err.toStdString();
    EXPECT_GE(r.lines().filter("  no answer").size(), 1) << r.out.toStdString();
    EXPECT_TRUE(r.lines().filter("bridge lost").isEmpty()) << r.out.toStdString();
    EXPECT_TRUE(r.lines().last().endsWith("  acknowledged")) << r.out.toStdString();
}

// A bridge that answers each command 320 ms late (the bound is 250 ms): every
// reply comes while a later command waits, and is printed as the stray it is,
// never as that command's answer.
TEST_F(HidrawCli, RepliesThatComeLateArePrintedAsStraysNotAsTheNextCommandsAnswer)
{
    Machine machine(Notices::Kernel);
    const int minor = machine.plug();
    machine.tell(minor, "delay 320");
    bridge::HidapiHost host;
    const Result r = krl7741(host, "--json set pwm1=1 pwm2=2 pwm3=3 peak=4");
    EXPECT_EQ(r.status, cli::kExitNoAnswer);
    QStringList answered, strays;
    for (const QString& line : r.lines()) {
        const QJsonObject o = QJsonDocument::fromJson(line.toUtf8()).object();
        const QString received
            = QString::fromUtf8(QJsonDocument(o["received"].toArray()).toJson(QJsonDocument::Compact));
        if (o.contains("message"))
            answered << o["message"].toString() + " " + received + " " + o["verdict"].toString();
        else
            strays << received + " " + o["verdict"].toString()
                    + (o["sent"].toArray().isEmpty() ? "" : " sent?");
    }
    EXPECT_EQ(answered.join('\n').toStdString(),
              "PWM LED1 = $41 [] no answer\nPWM LED2 = $62 [] no answer\n"
              "PWM LED3 = $83 [] no answer\nILED PEAK = $24 [] no answer");
    // LED1's, LED2's and LED3's replies; LED3's may come after the program ends.
    const QStringList late{"[1,65,65] stray report", "[1,98,98] stray report", "[1,131,131] stray report"};
    EXPECT_GE(strays.size(), 2);
    EXPECT_EQ(strays.join('\n').toStdString(), late.mid(0, strays.size()).join('\n').toStdString());
}
