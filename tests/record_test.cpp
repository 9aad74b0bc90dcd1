// The record of every exchange: the verdicts a recording host gives across the
// bridge's faults, the host's view of the chip's registers, the text and JSON
// forms, the bound, saving and the log.

#include "BridgeLink.h"
#include "JsonLines.h"
#include "Log.h"
#include "Record.h"
#include "RecordingHost.h"
#include "Trace.h"
#include "VirtualBridge.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>

// A full disk is made on Linux only: a tmpfs in a mount namespace of the
// test's own (the Windows build leaves that test out).
#ifndef _WIN32
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

using namespace std::chrono_literals;
using record::Bytes;
using record::Exchange;
using record::Verdict;
using testing_support::jsonLines;
using virtualboard::ReplyShape;
using virtualboard::VirtualBridge;

namespace record {
void PrintTo(const Exchange& e, std::ostream* os)
{
    *os << text(e).toStdString() << " at " << e.at.time_since_epoch().count();
}
}  // namespace record

namespace {

const std::string kBoard = VirtualBridge::evaluationBoard().path;

// A link on a virtual board through a recording host, on a clock the test moves.
struct Rig {
    Rig()
    {
        board.setRealTime(false);
        board.plug(VirtualBridge::evaluationBoard());
        traffic.setClock([this] { return now; });
        traffic.setWallClock([this] { return wall; });
        link.scan();
    }
    // One transaction of `command` to the chip at $70; the clock moves on a millisecond.
    bridge::Reply send(std::uint8_t command)
    {
        const bridge::Reply reply = link.transact(0x70, command, command);
        now += 1ms;
        return reply;
    }

    record::TimePoint now = record::TimePoint{} + 1h;
    // In UTC as the system clock gives it ("Z", not "+00:00", in ISO texts).
    QDateTime wall = QDateTime(QDate(2026, 3, 1), QTime(22, 0), QTimeZone::utc()).toUTC();
    VirtualBridge board;
    record::Record traffic;
    record::RecordingHost recorded{board, traffic};
    bridge::BridgeLink link{recorded};
};

Bytes report(std::uint8_t command) { return {0x00, 0x70, command, command}; }

}  // namespace

TEST(Record, EveryFaultOfTheBridgeGetsItsVerdict)
{
    struct Fault {
        const char* name;
        std::function<void(Rig&)> before;  // sets the fault up; the exchange follows
        std::uint8_t command;
        Bytes received;
        Verdict verdict;
        Bytes stray = {};        // a report read meanwhile that does not echo the command
        Bytes strayBefore = {};  // one queued before the write (an earlier command's late reply)
    };
    const auto unplugOnWrite = [](Rig& rig) {
        const auto unplug = [&rig] { rig.board.unplug(kBoard, false); };
        QObject::connect(&rig.board, &VirtualBridge::exchanged, &rig.board, unplug, Qt::SingleShotConnection);
    };
    const auto replug = [](Rig& rig) {
        rig.board.plug(VirtualBridge::evaluationBoard());
        rig.link.scan();
    };
    // A reply to another command, come while this one waits.
    const auto anotherReply = [](Rig& r) { r.board.sendDuringNextWait(kBoard, {0x00, 0x01, 0x41, 0x41}); };
    const Fault faults[] = {
        {"acknowledged", [](Rig&) {}, 0x45, {0x00, 0x01, 0x45, 0x45}, Verdict::Acknowledged},
        {"NACK",
         [](Rig& r) { r.board.setChipAddress(0x72); },
         0x46,
         {0x00, 0xF0, 0x46, 0x46},
         Verdict::NotAcknowledged},
        {"silent", [](Rig& r) { r.board.setReplyShape(ReplyShape::Silent); }, 0x47, {}, Verdict::NoAnswer},
        {"short",
         [](Rig& r) { r.board.setReplyShape(ReplyShape::Short); },
         0x48,
         {},
         Verdict::NoAnswer,
         {0x00, 0x01}},
        {"garbage",
         [](Rig& r) { r.board.setReplyShape(ReplyShape::Garbage); },
         0x49,
         {},
         Verdict::NoAnswer,
         {0x5A, 0xA5, 0x3C, 0xC3}},
        {"another command's reply first",
         anotherReply,
         0x4E,
         {0x00, 0x01, 0x4E, 0x4E},
         Verdict::Acknowledged,
         {0x00, 0x01, 0x41, 0x41}},
        {"late", [](Rig& r) { r.board.setReplyShape(ReplyShape::Late); }, 0x4A, {}, Verdict::NoAnswer},
        {"write stalls",
         [](Rig& r) { r.board.setWritesFail(true); },
         0x4B,
         {},
         Verdict::NoAnswer,
         {},
         {0x00, 0x01, 0x4A, 0x4A}},
        {"unplugged mid-exchange", unplugOnWrite, 0x4C, {}, Verdict::BridgeLost},
        {"plugged in again", replug, 0x4D, {0x00, 0x01, 0x4D, 0x4D}, Verdict::Acknowledged},
    };
    Rig rig;
    std::vector<Exchange> expected;
    record::Registers view;
    for (const Fault& fault : faults) {
        SCOPED_TRACE(fault.name);
        rig.board.setChipAddress(0x70);
        rig.board.setReplyShape(ReplyShape::Normal);
        rig.board.setWritesFail(false);
        fault.before(rig);
        const record::TimePoint at = rig.now;
        if (!fault.strayBefore.empty())
            expected.push_back({at, {}, fault.strayBefore, Verdict::Stray, view.pwm, rig.wall});
        rig.send(fault.command);
        if (fault.verdict == Verdict::BridgeLost)
            view = {};  // the chip may have lost its power with the bridge
        if (fault.verdict == Verdict::Acknowledged)
            view.apply(fault.command);
        expected.push_back({at, report(fault.command), fault.received, fault.verdict, view.pwm, rig.wall});
        if (!fault.stray.empty())  // noted after the exchange it came during
            expected.push_back({at, {}, fault.stray, Verdict::Stray, view.pwm, rig.wall});
    }
    EXPECT_EQ(std::vector<Exchange>(rig.traffic.exchanges().begin(), rig.traffic.exchanges().end()),
              expected);
    EXPECT_EQ(rig.traffic.count(Verdict::Acknowledged), 3);
    EXPECT_EQ(rig.traffic.count(Verdict::NotAcknowledged), 1);
    EXPECT_EQ(rig.traffic.count(Verdict::NoAnswer), 5);
    EXPECT_EQ(rig.traffic.count(Verdict::BridgeLost), 1);
    EXPECT_EQ(rig.traffic.count(Verdict::Stray), 4);
}

TEST(Record, TheRegistersAreTheAcknowledgedCommandsOnly)
{
    Rig rig;
    EXPECT_EQ(rig.traffic.registers(), record::Registers{}) << "unknown until first set";

    // Every register once, acknowledged: ILED PEAK 24, PWM 17/0/30, I-START 6, I-STOP 0, GD START 12.
    for (const std::uint8_t command : {0x38, 0x51, 0x60, 0x9E, 0xA6, 0xC0, 0xEC})
        rig.send(command);
    record::Registers set;
    set.peakCurrent = 24;
    set.pwm = {17, 0, 30};
    set.iStart = 6;
    set.iStop = 0;
    set.gdStart = 12;
    EXPECT_EQ(rig.traffic.registers(), set);

    // A NACKed and an unanswered command change nothing.
    rig.board.setChipAddress(0x72);
    rig.send(0x41);
    rig.board.setChipAddress(0x70);
    rig.board.setReplyShape(ReplyShape::Silent);
    rig.send(0x42);
    rig.board.setReplyShape(ReplyShape::Normal);
    EXPECT_EQ(rig.traffic.registers(), set);
    // The peak current's own "off" command (0x00, not 0x20) is a zero.
    rig.send(0x00);
    set.peakCurrent = 0;
    EXPECT_EQ(rig.traffic.registers(), set);

    // What the host told a chip is unknown again once the bridge is lost (its
    // chip restarts), let go of, opened again, or the commands go to another chip.
    const std::pair<const char*, std::function<void(Rig&)>> lapses[] = {
        {"lost on a write",
         [](Rig& r) {
             r.board.unplug(kBoard, false);
             r.send(0x43);
         }},
        {"unplugged and let go",
         [](Rig& r) {
             r.board.unplug(kBoard);
             r.link.scan();
         }},
        {"another chip", [](Rig& r) { r.link.transact(0x72, 0x44, 0x44); }},
    };
    for (const auto& [name, lapse] : lapses) {
        SCOPED_TRACE(name);
        if (!rig.link.connected()) {
            rig.board.plug(VirtualBridge::evaluationBoard());
            rig.link.scan();
            EXPECT_EQ(rig.traffic.registers(), record::Registers{}) << "opened again, knowing nothing";
        }
        rig.send(0x51);
        ASSERT_EQ(rig.traffic.registers().pwm[0], 17);
        lapse(rig);
        EXPECT_EQ(rig.traffic.registers(), record::Registers{});
    }
    for (const std::uint8_t command : {0x38, 0x51, 0x60, 0x9E, 0xA6, 0xC0, 0xEC, 0x00})
        rig.send(command);

    // Clearing forgets the exchanges, not what the chip was told.
    rig.traffic.clear();
    EXPECT_TRUE(rig.traffic.exchanges().empty());
    EXPECT_EQ(rig.traffic.count(Verdict::Acknowledged), 0);
    EXPECT_EQ(rig.traffic.registers(), set);
    EXPECT_EQ(rig.traffic.levelsBefore(), set.pwm);
}

TEST(Record, KeepsTheNewestAndCountsEverything)
{
    record::Record traffic;
    const record::TimePoint at{};
    traffic.add(at, report(0x45), {0x00, 0x01, 0x45, 0x45}, Verdict::Acknowledged);  // PWM LED1 = 5
    for (std::size_t i = 0; i < record::Record::kKept; ++i)
        traffic.add(at, report(0x66), {}, Verdict::NoAnswer);
    EXPECT_EQ(traffic.exchanges().size(), record::Record::kKept);
    EXPECT_EQ(traffic.exchanges().front().sent, report(0x66));
    EXPECT_EQ(traffic.levelsBefore(), record::Levels({5, std::nullopt, std::nullopt}));
    EXPECT_EQ(traffic.count(Verdict::NoAnswer), static_cast<long long>(record::Record::kKept));
    EXPECT_EQ(traffic.count(Verdict::Acknowledged), 1);
    // The counts under a filter take in the exchanges dropped too.
    using Kind = record::Filter::Kind;
    const auto kept = static_cast<long long>(record::Record::kKept);
    const std::pair<record::Filter, record::VerdictCounts> counted[] = {
        {{Kind::All, {}}, {1, 0, kept, 0}},
        {{Kind::Failures, {}}, {0, 0, kept, 0}},
        {{Kind::Register, driver::SetupControl::PwmLed1}, {1, 0, 0, 0}},
        {{Kind::Register, driver::SetupControl::PwmLed2}, {0, 0, kept, 0}},
        {{Kind::Register, driver::SetupControl::GdStart}, {0, 0, 0, 0}},
    };
    for (const auto& [filter, counts] : counted)
        EXPECT_EQ(traffic.counts(filter), counts) << static_cast<int>(filter.kind);
}

TEST(Record, TheTextAndJsonFormsOfAnExchange)
{
    const record::TimePoint origin{};
    struct Form {
        Exchange exchange;
        const char* text;
        const char* json;
    };
    const Form forms[] = {
        {{origin + 1500us, report(0x41), {0x00, 0x01, 0x41, 0x41}, Verdict::Acknowledged, {}, {}},
         "00 70 41 41 -> 00 01 41 41  acknowledged",
         R"({"t_ms":1.5,"sent":[112,65,65],"received":[1,65,65],"verdict":"acknowledged"})"},
        {{origin + 2ms, report(0x41), {0x00, 0xF0, 0x41, 0x41}, Verdict::NotAcknowledged, {}, {}},
         "00 70 41 41 -> 00 F0 41 41  not acknowledged",
         R"({"t_ms":2,"sent":[112,65,65],"received":[240,65,65],"verdict":"not acknowledged"})"},
        {{origin + 1234567ns, report(0x41), {}, Verdict::NoAnswer, {}, {}},
         "00 70 41 41 -> (nothing)  no answer",
         R"({"t_ms":1.235,"sent":[112,65,65],"received":[],"verdict":"no answer"})"},
        {{origin, report(0x41), {0x00, 0x01}, Verdict::Acknowledged, {}, {}},
         "00 70 41 41 -> 00 01  acknowledged",
         R"({"t_ms":0,"sent":[112,65,65],"received":[1],"verdict":"acknowledged"})"},
        {{origin, report(0x41), {}, Verdict::BridgeLost, {}, {}},
         "00 70 41 41 -> (nothing)  bridge lost",
         R"({"t_ms":0,"sent":[112,65,65],"received":[],"verdict":"bridge lost"})"},
        {{origin + 3ms, {}, {0x00, 0x01, 0xFF, 0xFF}, Verdict::Stray, {}, {}},
         "(nothing) -> 00 01 FF FF  stray report",
         R"({"t_ms":3,"sent":[],"received":[1,255,255],"verdict":"stray report"})"},
    };
    for (const Form& form : forms) {
        EXPECT_EQ(record::text(form.exchange), form.text);
        EXPECT_EQ(record::json(form.exchange, origin), QJsonDocument::fromJson(form.json).object())
            << form.text;
    }
    // The trace shows an exchange's time as the log holds it, also where the
    // half microsecond the log rounds away would round the other way in print.
    for (const std::chrono::nanoseconds at : {91680500ns, 1234567ns, 1500000ns}) {
        const Exchange exchange{origin + at, report(0x41), {}, Verdict::NoAnswer, {}, {}};
        EXPECT_EQ(record::sinceStartText(std::chrono::duration<double, std::milli>(at).count()),
                  record::sinceStartText(record::json(exchange, origin)["t_ms"].toDouble()));
    }
    EXPECT_EQ(record::verdictOf({0x00, 0xF0}), Verdict::NotAcknowledged);
    EXPECT_EQ(record::verdictOf({0x00, 0x01}), Verdict::Acknowledged);
    EXPECT_EQ(record::verdictOf({0x00, 0x00, 0x41, 0x41}), Verdict::NoAnswer);
    EXPECT_EQ(record::verdictOf({0x00}), Verdict::NoAnswer);
    EXPECT_EQ(record::verdictOf({}), Verdict::NoAnswer);
}

TEST(RecordLog, EachExchangeIsALineAsItHappensAndTheFileReadsBackAsTheRecord)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("traffic.jsonl"));
    Rig rig;
    record::Log log(rig.traffic, path);
    ASSERT_EQ(log.openError(), "");
    rig.send(0x45);
    EXPECT_EQ(jsonLines(path).size(), 1u) << "written out at once";
    rig.board.setReplyShape(ReplyShape::Silent);
    // The two clocks part: the steady one counts an hour of the run, the wall
    // clock moves on a night (a laptop asleep: the steady clock stops) and is
    // then set right by a minute and a half.
    rig.now += 1h;
    rig.wall = rig.wall.addSecs(8 * 3600).addMSecs(-90500);
    rig.send(0x46);
    EXPECT_EQ(jsonLines(path), jsonLines(rig.traffic));

    const std::vector<QJsonObject> lines = jsonLines(path);
    EXPECT_EQ(lines.front().value("time").toString(), "2026-03-01T22:00:00.000Z");
    EXPECT_EQ(lines.back().value("t_ms").toDouble(), 3600001.0) << "the steady clock";
    EXPECT_EQ(lines.back().value("verdict").toString(), "no answer");
    EXPECT_EQ(lines.back().value("time").toString(), "2026-03-02T05:58:29.500Z") << "the wall clock then";

    // Saving writes the same lines.
    const QString saved = dir.filePath(QStringLiteral("saved.jsonl"));
    EXPECT_EQ(record::save(rig.traffic, saved), "");
    EXPECT_EQ(jsonLines(saved), jsonLines(rig.traffic));
    EXPECT_NE(record::save(rig.traffic, dir.filePath(QStringLiteral("no/such/dir.jsonl"))), "");
}

TEST(RecordLog, AFileThatCannotBeOpenedOrWrittenStopsTheLogWithTheReason)
{
    Rig rig;
    record::Log unwritable(rig.traffic, QStringLiteral("/nonexistent/traffic.jsonl"));
    EXPECT_NE(unwritable.openError(), "");
    EXPECT_FALSE(unwritable.writing());

    if (!QFile::exists(QStringLiteral("/dev/full")))
        GTEST_SKIP() << "no /dev/full here";
    record::Log full(rig.traffic, QStringLiteral("/dev/full"));
    ASSERT_EQ(full.openError(), "");
    QStringList said;
    QObject::connect(&full, &record::Log::stopped, [&](const QString& message) { said << message; });
    rig.send(0x45);
    rig.send(0x46);
    EXPECT_FALSE(full.writing());
    ASSERT_EQ(said.size(), 1) << "said once";
    EXPECT_EQ(said.front(), "The log /dev/full stopped: " + full.stopReason());
    EXPECT_TRUE(full.stopReason().contains(QStringLiteral("space"), Qt::CaseInsensitive))
        << full.stopReason().toStdString();
    EXPECT_EQ(rig.traffic.exchanges().size(), 2u) << "the record goes on";
}

namespace {

// Every line of the file at `path`, the last line end dropped.
QList<QByteArray> rawLines(const QString& path)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    QList<QByteArray> lines = file.readAll().split('\n');
    EXPECT_EQ(lines.back(), "") << "the last line ends";
    lines.removeLast();
    return lines;
}

#ifndef _WIN32
constexpr int kNoMount = 77;

// In a child's own mount namespace, on a tmpfs of two pages, one of them
// taken by a filler: a run that logs until the disk is full, then, the filler
// gone, a second run that appends three lines. The file is copied to `dir`.
int fillThenAppend(const QString& dir)
{
    const QByteArray small = QFile::encodeName(dir + QStringLiteral("/small"));
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
        || mount("tmpfs", small.constData(), "tmpfs", 0, "size=8k") != 0)
        return kNoMount;
    const QString filler = QString::fromLocal8Bit(small) + QStringLiteral("/filler");
    const QString path = QString::fromLocal8Bit(small) + QStringLiteral("/traffic.jsonl");
    {
        QFile file(filler);
        if (!file.open(QIODevice::WriteOnly) || file.write(QByteArray(4096, 'x')) != 4096)
            return 1;
    }
    {
        Rig first;
        record::Log log(first.traffic, path);
        for (int i = 0; i < 1000 && log.writing(); ++i)
            first.send(0x45);
        if (log.writing())
            return 2;  // the disk never filled
    }
    QFile::remove(filler);
    {
        Rig second;
        record::Log log(second.traffic, path);
        for (const std::uint8_t command : {0x61, 0x62, 0x63})
            second.send(command);
        if (!log.writing())
            return 3;
    }
    return QFile::copy(path, dir + QStringLiteral("/traffic.jsonl")) ? 0 : 4;
}
#endif

}  // namespace

#ifndef _WIN32
TEST(RecordLog, AFullDiskLeavesNoHalfLineAndTheNextRunAppendsWholeOnes)
{
    const char* ci = std::getenv("CI");
    const bool mustRun = ci && *ci && std::strcmp(ci, "false") != 0 && std::strcmp(ci, "0") != 0;
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("small")));
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0)
        _exit(fillThenAppend(dir.path()));
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == kNoMount && !mustRun)
        GTEST_SKIP() << "no tmpfs in a mount namespace of our own here (root needed)";
    ASSERT_EQ(WEXITSTATUS(status), 0);

    const std::vector<QJsonObject> lines = jsonLines(dir.filePath(QStringLiteral("traffic.jsonl")));
    ASSERT_GT(lines.size(), 3u);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const int command = i + 3 < lines.size() ? 0x45 : 0x61 + static_cast<int>(i + 3 - lines.size());
        EXPECT_EQ(lines[i].value("sent").toVariant(), QVariantList({0x70, command, command})) << i;
    }
}
#endif

TEST(RecordLog, TwoProgramsAppendingToOneFileAndACrashsFragmentLeaveEveryOtherLineWhole)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("traffic.jsonl"));
    {
        QFile crashed(path);
        ASSERT_TRUE(crashed.open(QIODevice::WriteOnly));
        crashed.write("{\"received");
    }
    Rig a, b;
    record::Log logA(a.traffic, path), logB(b.traffic, path);
    for (std::uint8_t i = 0; i < 4; ++i) {
        a.send(0x40 + i);
        b.send(0x60 + i);
    }
    const QList<QByteArray> lines = rawLines(path);
    ASSERT_EQ(lines.size(), 9);
    EXPECT_EQ(lines[0], "{\"received") << "the fragment, on a line of its own";
    for (int i = 1; i < lines.size(); ++i) {
        const int command = (i % 2 ? 0x40 : 0x60) + (i - 1) / 2;
        const QJsonObject line = QJsonDocument::fromJson(lines[i]).object();
        EXPECT_EQ(line.value("sent").toVariant(), QVariantList({0x70, command, command}))
            << lines[i].toStdString();
    }
}
