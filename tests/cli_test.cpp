// krl7741 from the command line, through the virtual host: the exact reports
// each command sends, the lines it prints, its exit status, and that a bad
// command line sends nothing at all.

#include "Cli.h"
#include "OpenFailure.h"
#include "Panel.h"
#include "RampRun.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>

using testing_support::bridgeAt;
using testing_support::commands;
using testing_support::hex;
using testing_support::keyboardAt;
using testing_support::Panel;

namespace {

// One krl7741 run on a virtual host: what it printed and what it returned.
struct Result {
    int status = -1;
    QString out;
    QString err;

    QStringList lines() const { return out.split(QLatin1Char('\n'), Qt::SkipEmptyParts); }
    QStringList errLines() const { return err.split(QLatin1Char('\n'), Qt::SkipEmptyParts); }
};

Result krl7741(virtualboard::VirtualBridge& host, QStringList arguments)
{
    Result run;
    QTextStream out(&run.out);
    QTextStream err(&run.err);
    arguments.prepend(QStringLiteral("krl7741"));
    run.status = cli::run(arguments, host, out, err);
    return run;
}

std::vector<std::string> reports(const virtualboard::VirtualBridge& host)
{
    std::vector<std::string> all;
    for (const auto& report : host.written())
        all.push_back(hex(report));
    return all;
}

// A virtual host with the evaluation board's bridge plugged in; replies that
// do not come are not waited for.
struct Board {
    Board()
    {
        host.setRealTime(false);
        host.plug(virtualboard::VirtualBridge::evaluationBoard());
    }
    Result operator()(const QStringList& arguments) { return krl7741(host, arguments); }

    virtualboard::VirtualBridge host;
};

QStringList args(const char* text) { return QString::fromLatin1(text).split(QLatin1Char(' ')); }

}  // namespace

TEST(CliSet, OneTransactionPerPairInTheOrderGivenWithThePanelsBytes)
{
    Board board;
    const Result run = board(args("set peak=24 pwm1=17 pwm2=0 pwm3=30"));
    EXPECT_EQ(run.status, cli::kExitAcknowledged);
    EXPECT_EQ(reports(board.host),
              std::vector<std::string>({"00 70 38 38", "00 70 51 51", "00 70 60 60", "00 70 9E 9E"}));
    EXPECT_EQ(run.lines(),
              QStringList({
                  "ILED PEAK = $38: 00 70 38 38 -> 00 01 38 38  acknowledged",
                  "PWM LED1 = $51: 00 70 51 51 -> 00 01 51 51  acknowledged",
                  "PWM LED2 = $60: 00 70 60 60 -> 00 01 60 60  acknowledged",
                  "PWM LED3 = $9E: 00 70 9E 9E -> 00 01 9E 9E  acknowledged",
              }));
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(board.host.registers().peakCurrent, 24);
    EXPECT_EQ(board.host.registers().pwm, (std::array<int, 3>{17, 0, 30}));
    EXPECT_EQ(board.host.openHandles(), 0) << "the bridge is closed at the end";

    board.host.clearWritten();
    EXPECT_EQ(board(args("set istart=6 istop=0 gdstart=12 peak=0")).status, cli::kExitAcknowledged);
    EXPECT_EQ(reports(board.host),
              std::vector<std::string>({"00 70 A6 A6", "00 70 C0 C0", "00 70 EC EC", "00 70 00 00"}));
}

TEST(CliSet, SendsWhatThePanelsTrackBarsSendForEveryPosition)
{
    Board board;
    const char* names[] = {"peak", "pwm1", "pwm2", "pwm3", "istart", "istop", "gdstart"};
    const char* bars[]
        = {"ILEDslider", "LED1slider", "LED2slider", "LED3slider", "ILED_UP", "ILED_DWN", "GD_START"};
    QStringList all = {QStringLiteral("set")};
    for (const char* name : names) {
        for (int position = 0; position <= 30; ++position)
            all << QStringLiteral("%1=%2").arg(QLatin1String(name)).arg(position);
    }
    ASSERT_EQ(board(all).status, cli::kExitAcknowledged);

    Panel p;
    std::vector<int> panelBytes;
    for (const char* bar : bars) {
        auto& slider = p.find<QSlider>(bar);
        slider.setValue(1);
        p.bridge.clearWritten();
        for (int position = 0; position <= 30; ++position)
            slider.setValue(position);
        const std::vector<int> sent = commands(p.bridge);
        panelBytes.insert(panelBytes.end(), sent.begin(), sent.end());
    }
    ASSERT_EQ(panelBytes.size(), 7u * 31u);
    EXPECT_EQ(commands(board.host), panelBytes);
}

TEST(CliSend, EachByteAsBothBytesOfOneReport)
{
    Board board;
    const Result run = board(args("send 0x45 0xE1 69 0 255 0xf"));
    EXPECT_EQ(run.status, cli::kExitAcknowledged);
    EXPECT_EQ(reports(board.host),
              std::vector<std::string>({"00 70 45 45", "00 70 E1 E1", "00 70 45 45", "00 70 00 00",
                                        "00 70 FF FF", "00 70 0F 0F"}));
    EXPECT_EQ(run.lines().front(), "$45: 00 70 45 45 -> 00 01 45 45  acknowledged");
    EXPECT_EQ(run.lines().size(), 6);
}

TEST(CliExitStatus, FollowsTheWorstVerdict)
{
    Board board;
    board.host.setChipAddress(virtualboard::kAddressC);
    Result run = board(args("set pwm1=3"));
    EXPECT_EQ(run.status, cli::kExitNotAcknowledged);
    EXPECT_EQ(run.lines(), QStringList({"PWM LED1 = $43: 00 70 43 43 -> 00 F0 43 43  not acknowledged"}));

    board.host.clearWritten();
    run = board(args("--device c set pwm1=3"));
    EXPECT_EQ(run.status, cli::kExitAcknowledged);
    EXPECT_EQ(reports(board.host), std::vector<std::string>({"00 72 43 43"}));

    run = board(args("--device b send 0x43 0x44"));  // both NACKed
    EXPECT_EQ(run.status, cli::kExitNotAcknowledged);

    board.host.setReplyShape(virtualboard::ReplyShape::Silent);
    board.host.clearWritten();
    run = board(args("--device c send 0x43 0x44"));
    EXPECT_EQ(run.status, cli::kExitNoAnswer);
    EXPECT_EQ(run.lines(),
              QStringList(
                  {"$43: 00 72 43 43 -> (nothing)  no answer", "$44: 00 72 44 44 -> (nothing)  no answer"}));
    EXPECT_EQ(board.host.written().size(), 2u) << "an unanswered command does not stop the rest";
}

TEST(CliExitStatus, ABridgeLostMidwayEndsTheRunWithTwo)
{
    Board board;
    int seen = 0;
    QObject::connect(&board.host, &virtualboard::VirtualBridge::exchanged, [&] {
        if (++seen == 2)
            board.host.unplug(virtualboard::VirtualBridge::evaluationBoard().path);
    });
    const Result run = board(args("set pwm1=1 pwm1=2 pwm1=3"));
    EXPECT_EQ(run.status, cli::kExitNoAnswer);
    EXPECT_EQ(board.host.written().size(), 2u) << "nothing more once the bridge is gone";
    EXPECT_EQ(run.lines().last(), "PWM LED1 = $42: 00 70 42 42 -> (nothing)  bridge lost");
    EXPECT_EQ(run.errLines(), QStringList({"krl7741: the bridge was lost"}));
}

TEST(CliExitStatus, NoBridgeGivesThreeWithTheReason)
{
    virtualboard::VirtualBridge empty;
    Result run = krl7741(empty, args("set pwm1=3"));
    EXPECT_EQ(run.status, cli::kExitNoBridge);
    EXPECT_EQ(run.err, "krl7741: no bridge found (USB 6017:0200)\n");
    EXPECT_EQ(run.out, "");

    Board board;
    const std::string path = virtualboard::VirtualBridge::evaluationBoard().path;
    board.host.setOpenFailure(path, "Permission denied", true);
    run = board(args("send 1"));
    EXPECT_EQ(run.status, cli::kExitNoBridge);
    // In the system's own words (the udev rule on Linux: tests/hidraw/panel_test.cpp).
    EXPECT_EQ(run.err,
              QString::fromStdString("krl7741: the bridge is plugged in, but "
                                     + bridge::whyDenied("Permission denied") + "\n"));

    board.host.setOpenFailure(path, "Device or resource busy", false);
    run = board(args("send 1"));
    EXPECT_EQ(run.status, cli::kExitNoBridge);
    EXPECT_EQ(run.err, "krl7741: the bridge is plugged in, but cannot be opened: Device or resource busy\n");
    EXPECT_TRUE(board.host.written().empty());
}

TEST(CliExitStatus, AHostThatCannotReachUsbDevicesSaysWhy)
{
    struct Unusable final : bridge::HIDapi {
        std::vector<bridge::HidInterface> interfaces() override { return {}; }
        bridge::OpenResult open(const std::string&) override { return {}; }
        bridge::WatchResult watch(std::function<void()>) override { return {}; }
        std::string unavailable() const override { return "hidapi did not start"; }
    } host;
    QString out, err;
    QTextStream o(&out), e(&err);
    EXPECT_EQ(cli::run(args("krl7741 --trace list"), host, o, e), cli::kExitNoBridge);
    EXPECT_EQ(err, "krl7741: USB devices cannot be used here: hidapi did not start\n");
}

TEST(CliUsage, BadInputIsNamedAndNothingIsSent)
{
    struct Case {
        const char* line;
        const char* error;
    };
    const Case cases[] = {
        {"set pwm1=3 pwm9=1",
         "unknown name 'pwm9' in 'pwm9=1' (peak, pwm1, pwm2, pwm3, istart, istop, gdstart)"},
        {"set pwm1=3 pwm2=31", "position not in 0..30 in 'pwm2=31'"},
        {"set pwm1=-1", "position not in 0..30 in 'pwm1=-1'"},
        {"set pwm1=+3", "position not in 0..30 in 'pwm1=+3'"},
        {"set pwm1=", "position not in 0..30 in 'pwm1='"},
        {"set pwm1", "not a NAME=POSITION pair: 'pwm1'"},
        {"set", "set needs NAME=POSITION pairs"},
        {"send 0x45 45h", "not a byte: '45h' (0x00..0xFF or 0..255)"},
        {"send 256", "not a byte: '256' (0x00..0xFF or 0..255)"},
        {"send 0x100", "not a byte: '0x100' (0x00..0xFF or 0..255)"},
        {"send 0x", "not a byte: '0x' (0x00..0xFF or 0..255)"},
        {"send $45", "not a byte: '$45' (0x00..0xFF or 0..255)"},
        {"send", "send needs command bytes"},
        {"ramp seq4", "unknown sequence 'seq4' (seq1, seq2, seq3)"},
        {"ramp", "ramp needs a sequence: seq1, seq2 or seq3"},
        {"ramp seq1 seq2", "unexpected argument 'seq2'"},
        {"ramp seq1 --interval 9", "interval not in 10..200: '9'"},
        {"ramp seq1 --interval 201", "interval not in 10..200: '201'"},
        {"set pwm1=3 --interval 20", "--interval is for ramp only"},
        {"--device d set pwm1=3", "unknown device 'd' (b, t or c)"},
        {"--bogus set pwm1=3", "Unknown option 'bogus'."},
        {"list extra", "unexpected argument 'extra'"},
        {"blink", "unknown command 'blink' (list, set, send, ramp, review, serve)"},
        {"set pwm1=3 --listen 127.0.0.1:5025", "--listen is for serve only"},
        {"serve --listen 127.0.0.1", "not an ADDRESS:PORT to listen on: '127.0.0.1'"},
        {"serve --listen 127.0.0.1:65536", "not an ADDRESS:PORT to listen on: '127.0.0.1:65536'"},
        {"serve extra", "unexpected argument 'extra'"},
    };
    for (const Case& c : cases) {
        Board board;
        const Result run = board(args(c.line));
        EXPECT_EQ(run.status, cli::kExitUsage) << c.line;
        EXPECT_EQ(run.err, QStringLiteral("krl7741: %1\n").arg(QLatin1String(c.error))) << c.line;
        EXPECT_EQ(run.out, "") << c.line;
        EXPECT_TRUE(board.host.written().empty()) << c.line;
    }
    Board board;
    const Result run = krl7741(board.host, {});
    EXPECT_EQ(run.status, cli::kExitUsage);
    EXPECT_EQ(run.err, "krl7741: no command given (list, set, send, ramp, review, serve)\n");
}

TEST(CliUsage, HelpNamesEveryCommandAndOption)
{
    Board board;
    const Result run = board(args("--help"));
    EXPECT_EQ(run.status, 0);
    for (const char* word : {"list", "set NAME=POSITION", "send BYTE", "ramp seq1|seq2|seq3", "--device",
                             "--serial", "--virtual", "--trace", "--interval", "--json", "t_ms", "--version"})
        EXPECT_TRUE(run.out.contains(QLatin1String(word))) << word;
    EXPECT_TRUE(board.host.written().empty());
}

TEST(CliVirtual, TheVirtualOptionRunsOnTheEvaluationBoard)
{
    virtualboard::VirtualBridge noHardware;
    std::unique_ptr<bridge::HIDapi> board;
    auto choose = [&](const cli::Invocation& invocation) -> bridge::HIDapi& {
        if (!invocation.virtualBoard)
            return noHardware;
        board = cli::evaluationBoard();
        return *board;
    };
    QString out, err;
    QTextStream o(&out), e(&err);
    EXPECT_EQ(cli::run(args("krl7741 set pwm1=3"), choose, o, e), cli::kExitNoBridge);
    EXPECT_EQ(cli::run(args("krl7741 --virtual set pwm1=3"), choose, o, e), cli::kExitAcknowledged);
    auto& evb = static_cast<virtualboard::VirtualBridge&>(*board);
    EXPECT_EQ(reports(evb), std::vector<std::string>({"00 70 43 43"}));
    EXPECT_EQ(evb.registers().pwm[0], 3);
}

TEST(CliTrace, EveryReportAndReplyInTheRecordsTextForm)
{
    Board board;
    board.host.setChipAddress(virtualboard::kAddressC);
    const Result run = board(args("--trace send 0x45 --device c"));
    board.host.setReplyShape(virtualboard::ReplyShape::Silent);
    const Result silent = board(args("--trace set pwm2=4"));
    EXPECT_EQ(
        run.errLines() + silent.errLines(),
        QStringList({"00 72 45 45 -> 00 01 45 45  acknowledged", "00 70 64 64 -> (nothing)  no answer"}));
    EXPECT_EQ(run.lines(), QStringList({"$45: 00 72 45 45 -> 00 01 45 45  acknowledged"}));

    board.host.setReplyShape(virtualboard::ReplyShape::Normal);
    EXPECT_EQ(board(args("send 0x45")).err, "") << "no trace without --trace";
}

TEST(CliList, NoneOneTwoAndAnUnrelatedDevice)
{
    virtualboard::VirtualBridge host;
    host.plug(keyboardAt("/dev/hidraw0"));
    Result run = krl7741(host, args("list"));
    EXPECT_EQ(run.status, cli::kExitNoBridge);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "krl7741: no bridge found (USB 6017:0200)\n");

    host.plug(bridgeAt("/dev/hidraw1"));
    run = krl7741(host, args("list"));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.lines(),
              QStringList({"* /dev/hidraw1  6017:0200  product \"KRL7741 Evaluation Board\"  "
                           "serial \"EVB-0001\""}));

    auto second = bridgeAt("/dev/hidraw2");
    second.serial = u"0002";
    second.product.reset();
    host.plug(second);
    run = krl7741(host, args("list"));
    EXPECT_EQ(run.lines(),
              QStringList({"* /dev/hidraw1  6017:0200  product \"KRL7741 Evaluation Board\"  "
                           "serial \"EVB-0001\"",
                           "  /dev/hidraw2  6017:0200  product unknown  serial \"0002\""}));
    EXPECT_TRUE(host.written().empty()) << "list sends nothing";
    EXPECT_EQ(host.openHandles(), 0);

    // The first that can be opened is the one used.
    host.setOpenFailure("/dev/hidraw1", "Permission denied", true);
    run = krl7741(host, args("list"));
    EXPECT_TRUE(run.lines()[0].startsWith("  /dev/hidraw1"));
    EXPECT_TRUE(run.lines()[1].startsWith("* /dev/hidraw2"));
    host.setOpenFailure("/dev/hidraw1", "", false);

    run = krl7741(host, args("--serial 0002 list"));
    EXPECT_TRUE(run.lines()[0].startsWith("  /dev/hidraw1"));
    EXPECT_TRUE(run.lines()[1].startsWith("* /dev/hidraw2"));
}

TEST(CliSerial, ChoosesAmongSeveralBridges)
{
    virtualboard::VirtualBridge host;
    host.setRealTime(false);
    host.plug(bridgeAt("/dev/hidraw1"));
    auto second = bridgeAt("/dev/hidraw2");
    second.serial = u"0002";
    host.plug(second);

    Result run = krl7741(host, args("--serial 0002 set pwm1=1"));
    EXPECT_EQ(run.status, 0);
    // Only the second counts: when it cannot be opened, the first is not taken instead.
    host.setOpenFailure("/dev/hidraw2", "Device or resource busy", false);
    run = krl7741(host, args("--serial 0002 set pwm1=1"));
    EXPECT_EQ(run.status, cli::kExitNoBridge);
    EXPECT_EQ(run.err, "krl7741: the bridge is plugged in, but cannot be opened: Device or resource busy\n");

    run = krl7741(host, args("--serial 9999 set pwm1=1"));
    EXPECT_EQ(run.status, cli::kExitNoBridge);
    EXPECT_EQ(run.err, "krl7741: no bridge with serial number '9999'\n");
}

// ---------------------------------------------------------------- ramps

TEST(CliRamp, PlaysEachSequenceAsThePanelMayAndReturnsWhenItEnds)
{
    // Real timers on a machine that may be busy: what every run guarantees,
    // whichever of two timers sharing an interval ticks first (the exact
    // interleaving is the ramps' own test, with ticks delivered by hand).
    const std::pair<const char*, sequences::Sequence> cases[] = {{"seq1", sequences::Sequence::Seq1},
                                                                 {"seq2", sequences::Sequence::Seq2},
                                                                 {"seq3", sequences::Sequence::Seq3}};
    for (const auto& [name, sequence] : cases) {
        SCOPED_TRACE(name);
        Board board;
        const Result run = board({QStringLiteral("ramp"), QLatin1String(name), QStringLiteral("--interval"),
                                  QStringLiteral("10")});
        EXPECT_EQ(run.status, cli::kExitAcknowledged);
        EXPECT_TRUE(testing_support::playedAsAnyRunMay(sequence, commands(board.host)));
        EXPECT_TRUE(testing_support::noFirstRampStepEarly(board.host, std::chrono::milliseconds(10)));
        EXPECT_EQ(run.lines().size(), static_cast<qsizetype>(board.host.written().size()));
        EXPECT_EQ(board.host.openHandles(), 0);
    }
}

TEST(CliRamp, LinesNameTheLevelsAndTheFirstThreeAreTheZeros)
{
    Board board;
    const Result run = board(args("ramp seq1 --interval 10"));
    ASSERT_EQ(run.lines().size(), 34);
    EXPECT_EQ(run.lines()[0], "PWM LED1 = $40: 00 70 40 40 -> 00 01 40 40  acknowledged");
    EXPECT_EQ(run.lines()[1], "PWM LED2 = $60: 00 70 60 60 -> 00 01 60 60  acknowledged");
    EXPECT_EQ(run.lines()[2], "PWM LED3 = $80: 00 70 80 80 -> 00 01 80 80  acknowledged");
    EXPECT_EQ(run.lines()[33], "PWM LED1 = $5F: 00 70 5F 5F -> 00 01 5F 5F  acknowledged");
    EXPECT_EQ(board.host.registers().pwm[0], 31);
}

TEST(CliRamp, CtrlCStopsAfterTheCurrentStepAndClosesTheBridge)
{
    Board board;
    int seen = 0;
    QObject::connect(&board.host, &virtualboard::VirtualBridge::exchanged, [&] {
        if (++seen == 10)
            std::raise(SIGINT);
    });
    const Result run = board(args("ramp seq3 --interval 10"));
    EXPECT_EQ(run.status, cli::kExitInterrupted);
    EXPECT_EQ(board.host.written().size(), 10u) << "no step after the one under way";
    EXPECT_EQ(run.lines().size(), 10);
    EXPECT_EQ(run.errLines(), QStringList({"krl7741: ramp stopped"}));
    EXPECT_EQ(board.host.openHandles(), 0);

    // Ctrl-C is back to its usual self afterwards.
    EXPECT_EQ(std::signal(SIGINT, SIG_DFL), SIG_DFL);
}

TEST(CliRamp, ABridgeLostMidRampStopsItWithTwo)
{
    Board board;
    int seen = 0;
    QObject::connect(&board.host, &virtualboard::VirtualBridge::exchanged, [&] {
        if (++seen == 20)
            board.host.unplug(virtualboard::VirtualBridge::evaluationBoard().path);
    });
    const Result run = board(args("ramp seq2 --interval 10"));
    EXPECT_EQ(run.status, cli::kExitNoAnswer);
    EXPECT_EQ(board.host.written().size(), 20u);
    EXPECT_TRUE(run.lines().last().endsWith("(nothing)  bridge lost"));
    EXPECT_EQ(board.host.openHandles(), 0);
}

namespace {

// Each line of a --json run parsed back; its times checked (numbers, from 0,
// never going back) and taken out, so the rest can be compared whole.
struct JsonRun {
    std::vector<QJsonObject> objects;
    std::vector<double> times;
};

JsonRun parsed(const Result& run)
{
    JsonRun json;
    for (const QString& line : run.lines()) {
        QJsonParseError error{};
        const QJsonDocument doc = QJsonDocument::fromJson(line.toUtf8(), &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError) << line.toStdString();
        EXPECT_TRUE(doc.isObject()) << line.toStdString();
        QJsonObject object = doc.object();
        EXPECT_TRUE(object.value(QStringLiteral("t_ms")).isDouble()) << line.toStdString();
        json.times.push_back(object.take(QStringLiteral("t_ms")).toDouble(-1));
        json.objects.push_back(object);
    }
    EXPECT_TRUE(json.times.empty() || json.times.front() >= 0.0);
    EXPECT_TRUE(std::is_sorted(json.times.begin(), json.times.end()));
    return json;
}

QJsonObject object(const char* text) { return QJsonDocument::fromJson(text).object(); }

}  // namespace

TEST(CliJson, EachTransactionIsOneObjectWithItsBytesAndVerdict)
{
    struct Case {
        const char* arguments;
        bool silent;
        bool unplugAtFirst;
        int status;
        std::vector<const char*> lines;  // without t_ms
    };
    const Case cases[] = {
        {"--json set pwm1=17 peak=0",
         false,
         false,
         cli::kExitAcknowledged,
         {R"({"control":"pwm1","position":17,"value":"53.125%","message":"PWM LED1 = $51",
              "sent":[112,81,81],"received":[1,81,81],"verdict":"acknowledged"})",
          R"({"control":"peak","position":0,"value":"0%","message":"ILED PEAK = $00",
              "sent":[112,0,0],"received":[1,0,0],"verdict":"acknowledged"})"}},
        {"--json send 0x45",
         false,
         false,
         cli::kExitAcknowledged,
         {R"({"message":"$45","sent":[112,69,69],"received":[1,69,69],"verdict":"acknowledged"})"}},
        {"--json --device c set pwm2=4",
         false,
         false,
         cli::kExitNotAcknowledged,
         {R"({"control":"pwm2","position":4,"value":"12.5%","message":"PWM LED2 = $64",
              "sent":[114,100,100],"received":[240,100,100],"verdict":"not acknowledged"})"}},
        {"--json send 0x45",
         true,
         false,
         cli::kExitNoAnswer,
         {R"({"message":"$45","sent":[112,69,69],"received":[],"verdict":"no answer"})"}},
        {"--json send 0x45 0x46",
         false,
         true,
         cli::kExitNoAnswer,
         {R"({"message":"$45","sent":[112,69,69],"received":[],"verdict":"bridge lost"})"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments);
        Board board;
        if (c.silent)
            board.host.setReplyShape(virtualboard::ReplyShape::Silent);
        if (c.unplugAtFirst)
            QObject::connect(&board.host, &virtualboard::VirtualBridge::exchanged, &board.host,
                             [&] { board.host.unplug(virtualboard::VirtualBridge::evaluationBoard().path); });
        const Result run = board(args(c.arguments));
        EXPECT_EQ(run.status, c.status);
        std::vector<QJsonObject> expected;
        for (const char* line : c.lines)
            expected.push_back(object(line));
        EXPECT_EQ(parsed(run).objects, expected) << run.out.toStdString();
    }
}

TEST(CliJson, ARampGivesEachStepItsTime)
{
    Board board;
    const Result run = board(args("--json ramp seq1 --interval 10"));
    EXPECT_EQ(run.status, cli::kExitAcknowledged);
    const JsonRun json = parsed(run);
    ASSERT_EQ(json.objects.size(), 34u);
    for (int i = 0; i < 34; ++i) {
        // The three zeros, then LED1's 31 steps.
        const int channel = i < 3 ? i : 0;
        const int level = i < 3 ? 0 : i - 2;
        const int byte = 0x40 + 0x20 * channel + level;
        const QJsonObject& step = json.objects[static_cast<std::size_t>(i)];
        EXPECT_EQ(step.value("control").toString(), QStringLiteral("pwm%1").arg(channel + 1)) << i;
        EXPECT_EQ(step.value("level").toInt(-1), level) << i;
        EXPECT_EQ(step.value("sent").toArray(), QJsonArray({0x70, byte, byte})) << i;
        EXPECT_EQ(step.value("verdict").toString(), "acknowledged") << i;
    }
}

TEST(CliJson, ListGivesOneObjectPerBridge)
{
    Board board;
    const Result run = board(args("--json list"));
    EXPECT_EQ(run.status, cli::kExitAcknowledged);
    ASSERT_EQ(run.lines().size(), 1);
    EXPECT_EQ(QJsonDocument::fromJson(run.lines()[0].toUtf8()).object(),
              object(R"({"path":"virtual:evaluation-board","usb":"6017:0200",
                         "product":"KRL7741 Evaluation Board","serial":"EVB-0001","used":true})"));
}

TEST(CliUsage, VersionIsTheProjectsAndSendsNothing)
{
    Board board;
    for (const char* option : {"--version", "-v"}) {
        const Result run = board(args(option));
        EXPECT_EQ(run.status, cli::kExitAcknowledged);
        EXPECT_EQ(run.out, "krl7741 " KRL_VERSION "\n");
    }
    EXPECT_TRUE(board.host.written().empty());
}
