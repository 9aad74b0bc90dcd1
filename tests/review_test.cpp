// Reading back a log or a saved record: `krl7741 review` and the reader under
// it. What the program wrote is read back whole; a line that does not parse or
// lacks a field is reported by its number and skipped; a log still being
// written is read as far as it is whole.

#include "Cli.h"
#include "Log.h"
#include "Review.h"

#include <QBuffer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using record::Verdict;

namespace {

struct Result {
    int status = -1;
    QStringList lines;
    QString err;
};

Result review(const QStringList& arguments)
{
    QString out;
    Result run;
    QTextStream o(&out), e(&run.err);
    const auto noHost
        = [](const cli::Invocation&) -> bridge::HIDapi& { throw std::logic_error("review needs no host"); };
    run.status = cli::run(QStringList{QStringLiteral("krl7741"), QStringLiteral("review")} + arguments,
                          noHost, o, e);
    run.lines = out.split('\n', Qt::SkipEmptyParts);
    return run;
}

// A log written by the program's own log, on a clock the test moves.
struct Logged {
    explicit Logged(const QString& path)
    {
        record.setClock([this] { return now; });
        record::Log log(record, path);
        const std::tuple<std::uint8_t, std::uint8_t, Verdict> traffic[]
            = {{0x49, 0x01, Verdict::Acknowledged},
               {0xEC, 0xF0, Verdict::NotAcknowledged},
               {0x38, 0x00, Verdict::NoAnswer},
               {0x9F, 0x01, Verdict::Acknowledged},
               {0x5F, 0x00, Verdict::BridgeLost}};
        for (const auto& [command, status, verdict] : traffic) {
            now += 1250us;
            record::Bytes reply;
            if (status != 0)
                reply = {0, status, command, command};
            record.add(now, {0, 0x70, command, command}, reply, verdict);
        }
        now += 1250us;
        record.add(now, {}, {0, 0x01, 0xFF, 0xFF}, Verdict::Stray);  // a report that answered nothing
    }
    QString time(std::size_t i) const { return record.line(record.exchanges()[i]).value("time").toString(); }
    record::TimePoint now = record::TimePoint{} + 1h;
    record::Record record;
};

QString write(const QString& path, const QByteArray& bytes, QIODevice::OpenMode mode = QIODevice::WriteOnly)
{
    QFile file(path);
    EXPECT_TRUE(file.open(mode));
    file.write(bytes);
    return path;
}

}  // namespace

TEST(Review, PrintsTheFailuresWithTheirTimesAndMeaningsThenTheCounts)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("bench.jsonl");
    const Logged log(path);

    const Result text = review({path});
    EXPECT_EQ(text.status, cli::kExitNoAnswer);
    EXPECT_EQ(text.err, "");
    ASSERT_EQ(text.lines.size(), 6);
    EXPECT_EQ(text.lines[0],
              "line 2  2.500 ms  " + log.time(1)
                  + "  GRADUAL DIMMING = $EC (96ms): 00 70 EC EC -> 00 F0 EC EC  not acknowledged");
    EXPECT_EQ(text.lines[1],
              "line 3  3.750 ms  " + log.time(2)
                  + "  ILED PEAK = $38 (75%): 00 70 38 38 -> (nothing)  no answer");
    EXPECT_EQ(text.lines[2],
              "line 5  6.250 ms  " + log.time(4)
                  + "  PWM LED1 = $5F (96.875%): 00 70 5F 5F -> (nothing)  bridge lost");
    EXPECT_EQ(text.lines[3], "line 6  7.500 ms  " + log.time(5) + "  (nothing) -> 00 01 FF FF  stray report");
    EXPECT_EQ(text.lines[4],
              path + ": 5 exchanges, t_ms 1.250 to 7.500 (" + log.time(0) + " to " + log.time(5) + ")");
    EXPECT_EQ(text.lines[5],
              "acknowledged 2, not acknowledged 1, no answer 1, bridge lost 1, stray report 1; "
              "0 lines skipped");

    // For scripts: each failure is the log's own line, with its line number and meaning added.
    const Result json = review({QStringLiteral("--json"), path});
    EXPECT_EQ(json.status, cli::kExitNoAnswer);
    ASSERT_EQ(json.lines.size(), 5);
    QJsonObject nack = log.record.line(log.record.exchanges()[1]);
    nack.insert("line", 2);
    nack.insert("message", "GRADUAL DIMMING = $EC (96ms)");
    EXPECT_EQ(QJsonDocument::fromJson(json.lines[0].toUtf8()).object(), nack);
    const QJsonObject summary = QJsonDocument::fromJson(json.lines[4].toUtf8()).object();
    EXPECT_EQ(summary.value("exchanges").toInt(), 5);
    EXPECT_EQ(summary.value("skipped").toInt(), 0);
    EXPECT_EQ(summary.value("counts").toObject().value("acknowledged").toInt(), 2);
    EXPECT_EQ(summary.value("counts").toObject().value("bridge lost").toInt(), 1);
    EXPECT_EQ(summary.value("counts").toObject().value("stray report").toInt(), 1);
    EXPECT_EQ(summary.value("last_time").toString(), log.time(5));
}

TEST(Review, AMalformedLineIsReportedByNumberAndSkipped)
{
    QTemporaryDir dir;
    // A log cut short by a full disk, then appended to; an older krl7741
    // --json line (no time); a line lacking a field; Windows' line ends.
    const QString path = write(
        dir.filePath("night.jsonl"),
        R"({"received":[1,65,65],"sent":[112,65,65],"t_ms":1.5,"time":"2026-12-09T10:00:00.001Z","verdict":"acknowledged"}
{"received":[1,6)"
        R"({"received":[],"sent":[112,66,66],"t_ms":2,"time":"2026-12-09T10:00:00.002Z","verdict":"no answer"}

{"message":"PWM LED1 = $43","received":[240,67,67],"sent":[112,67,67],"t_ms":3,"verdict":"not acknowledged"}
{"received":[1,68,68],"sent":[112,68,68],"t_ms":4,"time":"2026-12-09T10:00:00.004Z"}
{"path":"/dev/hidraw1","usb":"6017:0200","used":true}
{"received":[1,69,69],"sent":[112,69,300],"t_ms":5,"verdict":"acknowledged"}
{"received":[1,70,70],"sent":[112,70,70],"t_ms":6,"verdict":"done"}
[1,2]
{"received":[1,71,71],"sent":[112,71,71],"t_ms":7,"time":"yesterday","verdict":"acknowledged"})"
        "\r\n"
        R"({"received":[1,72,72],"sent":[112,72,72],"t_ms":8,"time":"2026-12-09T10:00:00.008Z","verdict":"acknowledged"})"
        "\r\n");
    const Result run = review({path});
    EXPECT_EQ(run.status, cli::kExitNotAcknowledged) << "the unanswered exchange was lost with line 2";
    const QStringList expected{
        "line 2 skipped: not JSON: unterminated object",
        "line 4  3.000 ms  -  PWM LED1 = $43 (9.375%): 00 70 43 43 -> 00 F0 43 43  not acknowledged",
        "line 5 skipped: no verdict",
        "line 6 skipped: no t_ms",
        "line 7 skipped: no sent (a list of bytes)",
        "line 8 skipped: unknown verdict 'done'",
        "line 9 skipped: not a JSON object",
        "line 10 skipped: time is not a date and time",
        path + ": 3 exchanges, t_ms 1.500 to 8.000 (2026-12-09T10:00:00.001Z to 2026-12-09T10:00:00.008Z)",
        "acknowledged 2, not acknowledged 1, no answer 0, bridge lost 0, stray report 0; 7 lines skipped"};
    ASSERT_GE(run.lines.size(), 2);
    EXPECT_TRUE(run.lines[0].startsWith("line 2 skipped: not JSON: ")) << run.lines[0].toStdString();
    EXPECT_EQ(run.lines.mid(1), expected.mid(1));

    const Result missing = review({dir.filePath("none.jsonl")});
    EXPECT_EQ(missing.status, cli::kExitNoInput);
    EXPECT_TRUE(missing.err.startsWith("krl7741: cannot read " + dir.filePath("none.jsonl")))
        << missing.err.toStdString();
    EXPECT_EQ(review({}).err, "krl7741: review needs a file\n");
}

// The log's own form is read without Qt's JSON reader; whatever a line
// holds, it must come to what that reader makes of it: the same exchange, or
// skipped for the same reason. Each line below, and every line one byte away
// from it (changed, dropped or doubled).
TEST(Review, ALineReadsAsTheJsonReaderReadsItHoweverItIsChanged)
{
    const auto described = [](const record::ParsedLine& parsed) {
        if (!parsed.logged)
            return "skipped: " + parsed.malformed.toStdString();
        const record::Logged& l = *parsed.logged;
        return QStringLiteral("%1 %2 (%3) %4 %5")
            .arg(l.tMs, 0, 'g', 17)
            .arg(l.time.toString(Qt::ISODateWithMs))
            .arg(l.time.offsetFromUtc())
            .arg(l.exchange.at.time_since_epoch().count())
            .arg(record::text(l.exchange))
            .toStdString();
    };
    const QByteArray lines[] = {
        R"({"received":[1,73,73],"sent":[112,73,73],"t_ms":5012.337,"time":"2026-12-09T10:00:05.012Z","verdict":"acknowledged"})",
        R"({"received":[],"sent":[112,0,0],"t_ms":0.5,"time":"2026-02-28T23:59:59.999Z","verdict":"no answer"})",
        R"({"received":[240,236,236],"sent":[112,236,236],"t_ms":10,"verdict":"not acknowledged"})",
        R"({"received":[],"sent":[112,255,255],"t_ms":-0,"time":"2024-02-29T09:09:09.000Z","verdict":"bridge lost"})",
    };
    const QByteArray changes = "09-.,:\"[]{}eEZT \\x";
    int read = 0;
    record::LastMinute last;  // as a reader carries it from line to line
    for (const QByteArray& line : lines) {
        std::vector<QByteArray> variants{line};
        for (qsizetype i = 0; i < line.size(); ++i) {
            for (const char c : changes)
                variants.push_back(QByteArray(line).replace(i, 1, QByteArray(1, c)));
            variants.push_back(QByteArray(line).remove(i, 1));
            variants.push_back(QByteArray(line).insert(i, line[i]));
        }
        for (const QByteArray& variant : variants) {
            const record::ParsedLine parsed = record::parseLine(variant, last);
            EXPECT_EQ(described(parsed), described(record::parseJsonLine(variant))) << variant.toStdString();
            read += parsed.logged ? 1 : 0;
        }
        EXPECT_TRUE(record::parseLine(line).logged) << line.toStdString();
    }
    EXPECT_GT(read, 100) << "changes that leave a line an exchange are read too";
}

// A log still being written: its last line is read once it is whole, and
// numbered as the file numbers it.
TEST(Review, ALogStillBeingWrittenIsReadAsFarAsItIsWhole)
{
    QTemporaryDir dir;
    const QByteArray first = R"({"received":[1,65,65],"sent":[112,65,65],"t_ms":1,"verdict":"acknowledged"})"
                             "\n";
    const QByteArray second = R"({"received":[],"sent":[112,66,66],"t_ms":2,"verdict":"no answer"})"
                              "\n";
    const QString path = write(dir.filePath("growing.jsonl"), first + second.left(20));
    std::vector<long long> lines;
    std::vector<Verdict> verdicts;
    const auto logged = [&](record::Logged&& l) {
        lines.push_back(l.line);
        verdicts.push_back(l.exchange.verdict);
    };
    record::LogReader reader(logged, [](record::Malformed&& m) { ADD_FAILURE() << m.reason.toStdString(); });
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    reader.read(file, false);
    EXPECT_EQ(lines, std::vector<long long>{1});
    EXPECT_EQ(reader.position(), first.size());

    write(path, second.mid(20) + first, QIODevice::Append);
    reader.read(file, false);
    EXPECT_EQ(lines, (std::vector<long long>{1, 2, 3}));
    EXPECT_EQ(verdicts,
              (std::vector<Verdict>{Verdict::Acknowledged, Verdict::NoAnswer, Verdict::Acknowledged}));
    EXPECT_EQ(reader.position(), file.size());
}

// t_ms is the steady clock's milliseconds since the program started: one the
// clock cannot hold (hundreds of years, an exponent gone wrong) is a line
// skipped by either reader, never an exchange at a time that wrapped.
TEST(Review, ATimeTheClockCannotHoldIsALineSkipped)
{
    const auto line = [](const char* tMs) {
        return QByteArray(R"({"received":[],"sent":[112,65,65],"t_ms":)") + tMs
            + R"(,"time":"2026-12-09T10:00:00.001Z","verdict":"no answer"})";
    };
    for (const char* tMs : {"10000000000000", "-10000000000000", "1e13", "1e308", "-1e308"}) {
        for (const auto& parsed : {record::parseLine(line(tMs)), record::parseJsonLine(line(tMs))}) {
            EXPECT_FALSE(parsed.logged) << tMs;
            EXPECT_EQ(parsed.malformed.toStdString(), "t_ms out of range") << tMs;
        }
    }
    const record::ParsedLine longest = record::parseLine(line("9000000000000"));
    ASSERT_TRUE(longest.logged) << "some 285 years is still a time";
    EXPECT_EQ(longest.logged->exchange.at.time_since_epoch(), std::chrono::hours(2500000));

    QTemporaryDir dir;
    const Result run = review({write(dir.filePath("far.jsonl"), line("1e13") + "\n" + line("2") + "\n")});
    ASSERT_EQ(run.lines.size(), 4);
    EXPECT_EQ(run.lines[0].toStdString(), "line 1 skipped: t_ms out of range");
    EXPECT_TRUE(run.lines[2].contains(": 1 exchanges, t_ms 2.000 to 2.000 ")) << run.lines[2].toStdString();
}

// What a file holds is printed as text, never as the terminal's controls: a
// verdict that would set the window's title, move the cursor or turn the
// line right to left is shown escaped, as JSON escapes it.
TEST(Review, AControlCharacterFromTheFileIsPrintedEscaped)
{
    QTemporaryDir dir;
    const QString path
        = write(dir.filePath("odd.jsonl"),
                R"({"received":[],"sent":[112,65,65],"t_ms":1,"verdict":"\u001b]0;owned\u0007"})"
                "\n"
                R"({"received":[],"sent":[112,65,65],"t_ms":2,"verdict":"a\u009b2Jb\u202ec\td\\e\u2028"})"
                "\n");
    const Result run = review({path});
    ASSERT_GE(run.lines.size(), 2);
    EXPECT_EQ(run.lines[0].toStdString(), R"(line 1 skipped: unknown verdict '\u001b]0;owned\u0007')");
    EXPECT_EQ(run.lines[1].toStdString(),
              R"(line 2 skipped: unknown verdict 'a\u009b2Jb\u202ec\u0009d\e\u2028')");
}

// A file with nothing the review can read is not a clean night: it has a
// status of its own, whatever it holds instead.
TEST(Review, AFileWithNothingReadableHasAStatusOfItsOwn)
{
    QTemporaryDir dir;
    const QByteArray unreadable = R"({"received":[],"sent":[112,65,65],"t_ms":1})"
                                  "\n";
    const std::pair<const char*, QByteArray> files[] = {{"empty", ""},
                                                        {"blank", "\n\r\n\n"},
                                                        {"garbage",
                                                         "\x7f"
                                                         "ELF\x02\x01\x01"},
                                                        {"unreadable", unreadable.repeated(1000)}};
    for (const auto& [name, bytes] : files) {
        const Result run = review({write(dir.filePath(name), bytes)});
        EXPECT_EQ(run.status, cli::kExitNothingRead) << name;
        EXPECT_TRUE(run.lines.value(run.lines.size() - 2).endsWith(": 0 exchanges")) << name;
    }
    const QByteArray stray = R"({"received":[1,255,255],"sent":[],"t_ms":1,"verdict":"stray report"})";
    EXPECT_EQ(review({write(dir.filePath("stray"), stray)}).status, cli::kExitAcknowledged)
        << "a stray report was read: the file holds what was logged";
}

// An exchange sends the command's three bytes (a stray report: none) and
// receives none or the reply's three; any other count is a line skipped by
// either reader, so that a huge list costs nothing to hold.
TEST(Review, AnExchangeOfAnotherSizeIsALineSkipped)
{
    const auto line = [](const char* received, const char* sent, const char* verdict) {
        return QStringLiteral(R"({"received":[%1],"sent":[%2],"t_ms":1,"verdict":"%3"})")
            .arg(received, sent, verdict)
            .toUtf8();
    };
    const char* const ack = "acknowledged";
    const char* const stray = "stray report";
    const std::tuple<const char*, const char*, const char*, std::string> table[] = {
        {"1,65,65", "112,65,65", ack, ""},
        {"", "112,65,65", "no answer", ""},
        {"1,255,255", "", stray, ""},
        {"1,65,65", "112,65", ack, "sent has 2 bytes, not 3"},
        {"1,65,65", "112,65,65,65", ack, "sent has 4 bytes, not 3"},
        {"1,65,65", "", ack, "sent has 0 bytes, not 3"},
        {"", "", "no answer", "sent has 0 bytes, not 3"},
        {"1", "112,65,65", ack, "received has 1 bytes, not 0 or 3"},
        {"1,65,65,65", "112,65,65", ack, "received has 4 bytes, not 0 or 3"},
        {"1,255", "", stray, "received has 2 bytes, not 0 or 3"},
    };
    for (const auto& [received, sent, verdict, reason] : table) {
        const QByteArray l = line(received, sent, verdict);
        for (const auto& parsed : {record::parseLine(l), record::parseJsonLine(l)}) {
            EXPECT_EQ(parsed.logged.has_value(), reason.empty()) << l.toStdString();
            EXPECT_EQ(parsed.malformed.toStdString(), reason) << l.toStdString();
        }
    }
    QByteArray many = "1";
    for (int i = 0; i < 100000; ++i)
        many += ",1";
    EXPECT_EQ(record::parseLine(line("", many, ack)).malformed.toStdString(), "sent has 100001 bytes, not 3");
}

// A time of day is read alike whatever the key order (the log's own is read
// by hand, any other by Qt's JSON reader): hour 24 is no time of the log's,
// and a time with no zone (Z or an offset) is skipped rather than guessed.
TEST(Review, ATimeOfDayReadsAlikeInAnyKeyOrder)
{
    const auto inLogOrder = [](const char* time) {
        return QByteArray(R"({"received":[],"sent":[112,65,65],"t_ms":1,"time":")") + time
            + R"(","verdict":"no answer"})";
    };
    const auto inAnotherOrder = [](const char* time) {
        return QByteArray(R"({"time":")") + time
            + R"(","t_ms":1,"verdict":"no answer","sent":[112,65,65],"received":[]})";
    };
    const std::pair<const char*, std::string> times[] = {
        {"2026-12-09T23:59:59.999Z", "2026-12-09T23:59:59.999Z"},
        {"2026-12-09T11:00:00.000+01:00", "2026-12-09T10:00:00.000Z"},
        {"2026-12-09T24:00:00.000Z", "skipped: time is not a date and time"},
        {"2026-12-09T24:00:05.000Z", "skipped: time is not a date and time"},
        {"2026-12-09T24:59:59.999Z", "skipped: time is not a date and time"},
        {"2026-12-09T10:00:00.001", "skipped: time has no zone (Z or +hh:mm)"},
        {"2026-12-09T10:00:00", "skipped: time has no zone (Z or +hh:mm)"},
    };
    const auto read = [](const record::ParsedLine& parsed) {
        return parsed.logged ? parsed.logged->time.toUTC().toString(Qt::ISODateWithMs).toStdString()
                             : "skipped: " + parsed.malformed.toStdString();
    };
    for (const auto& [time, expected] : times) {
        EXPECT_EQ(read(record::parseLine(inLogOrder(time))), expected) << time;
        EXPECT_EQ(read(record::parseLine(inAnotherOrder(time))), expected) << time;
    }
}

// The log's lines are some 120 bytes: one past 64 KiB is skipped as too long
// without being kept, whether it ends, ends with the file, or is still being
// written, and the lines after it are numbered and read as ever.
TEST(Review, ALineTooLongIsSkippedWithoutBeingKept)
{
    const QByteArray exchange
        = R"({"received":[1,65,65],"sent":[112,65,65],"t_ms":1,"verdict":"acknowledged")";
    const auto padded = [&exchange](qsizetype size) {
        return exchange + QByteArray(size - exchange.size() - 1, ' ') + "}\n";
    };
    QTemporaryDir dir;
    const QString path
        = write(dir.filePath("long.jsonl"),
                padded(100) + padded(record::kLongestLine) + padded(record::kLongestLine + 1)
                    + padded(record::kLongestLine).replace("\n", "\r\n") + padded(record::kLongestLine + 2));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    file.resize(file.size() + (200 << 20));  // and 200 MB of a line that never ends
    file.close();
    const Result run = review({path});
    ASSERT_EQ(run.lines.size(), 5);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(run.lines[i].toStdString(),
                  QStringLiteral("line %1 skipped: longer than 65536 bytes")
                      .arg(QList<int>{3, 5, 6}[i])
                      .toStdString());
    EXPECT_EQ(run.lines[3].toStdString(), (path + ": 3 exchanges, t_ms 1.000 to 1.000").toStdString());
    EXPECT_TRUE(run.lines[4].endsWith("; 3 lines skipped")) << run.lines[4].toStdString();

    // The same lines as they are written, a few kilobytes at a time.
    std::vector<long long> read, skipped;
    record::LogReader reader([&read](record::Logged&& l) { read.push_back(l.line); },
                             [&skipped](record::Malformed&& m) {
                                 EXPECT_EQ(m.reason.toStdString(), "longer than 65536 bytes");
                                 skipped.push_back(m.line);
                             });
    const QByteArray whole = padded(100) + padded(3 * record::kLongestLine) + padded(100);
    write(path, {});
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    for (qsizetype at = 0; at < whole.size(); at += 5000) {
        write(path, whole.mid(at, 5000), QIODevice::Append);
        reader.read(file, false);
    }
    EXPECT_EQ(read, (std::vector<long long>{1, 3}));
    EXPECT_EQ(skipped, std::vector<long long>{2});
    EXPECT_EQ(reader.position(), whole.size());
}
