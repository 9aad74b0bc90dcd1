#pragma once
// Reading back what the program wrote: a --log file or a saved record (one
// JSON object per line, Record::line), or krl7741 --json's transactions. A
// line is read when it is whole; one that does not parse, or lacks a field,
// is reported by its number and skipped, and nothing else stops the reading.
// The file is read as it is written: what is not yet a whole line waits for
// the next read, so a log still being written can be followed.

#include "Record.h"

#include <QDateTime>
#include <QIODevice>
#include <QString>

#include <array>
#include <functional>

namespace record {

// One exchange read back.
struct Logged {
    long long line = 0;  // its line in the file, from 1
    double tMs = 0;      // t_ms
    QDateTime time;      // "time"; invalid when the line has none (krl7741 --json)
    // sent and received with the report id (0) put back, so it prints as the
    // record does; `at` is t_ms after the steady clock's epoch.
    Exchange exchange;
};

// A line skipped, and why: "not JSON: ...", "no t_ms", "unknown verdict 'x'".
struct Malformed {
    long long line = 0;
    QString reason;
};

// The line as the record writes it, or why it is not one. Blank lines are
// neither: both are empty.
struct ParsedLine {
    std::optional<Logged> logged;
    QString malformed;
};
ParsedLine parseLine(const QByteArray& line);
// The minute of the last time of day read ("2026-12-09T10:00") and when it
// began: the next line's most likely shares it.
struct LastMinute {
    QByteArray text;
    QDateTime start;
};
// The same, reading a time of day in `last`'s minute without parsing the minute again.
ParsedLine parseLine(const QByteArray& line, LastMinute& last);
// The same from any JSON line, through Qt's JSON reader: parseLine reads the
// log's own form without it (some ten times as fast) and leaves every other
// line to it, which says what is wrong with a line.
ParsedLine parseJsonLine(const QByteArray& line);

// `text` from a file as it may be printed: a control or formatting
// character (ESC, BEL, C1 controls, direction overrides, line separators) is
// written as JSON escapes it, \u001b, so it shows rather than acts.
QString printable(const QString& text);

// The longest line read, a Windows line end aside: the log's are some 120
// bytes long. A longer line is skipped, and not kept while it is passed over.
inline constexpr qsizetype kLongestLine = 64 * 1024;

// Why a pipe, a device or a folder is not read as a log.
QString notARegularFile();

// The exchange's time as the record keeps it: t_ms after the steady clock's epoch.
TimePoint atMs(double tMs);
// The furthest t_ms from the epoch that the steady clock's nanoseconds hold
// (some 285 years; they end at 9.22e12 ms): a line further out is skipped.
inline constexpr double kFurthestMs = 9e12;

class LogReader {
public:
    using OnLogged = std::function<void(Logged&&)>;
    using OnMalformed = std::function<void(Malformed&&)>;

    LogReader(OnLogged onLogged, OnMalformed onMalformed);

    // Reads the whole lines from where the last read stopped on. A last line
    // with no newline yet is kept for the next call unless `toTheEnd` (the
    // file is complete). Returns false when `keepGoing`, asked between chunks,
    // said to stop.
    bool read(QIODevice& device, bool toTheEnd, const std::function<bool()>& keepGoing = {});
    // The same from `block`, read on after what was read before: its whole
    // lines, a last one with no newline kept for the next block, or read too
    // when `toTheEnd`. Returns the bytes of the lines handled.
    qsizetype readLines(const QByteArray& block, bool toTheEnd);

    long long lines() const { return line_; }
    // The bytes read and handled so far: where the next read starts.
    qint64 position() const { return position_; }

private:
    // Reads on through [from, to): each line as it ends, what follows kept.
    void feed(const char* from, const char* to);
    void endLine(qint64 newline);
    void handle(QByteArray line);

    OnLogged onLogged_;
    OnMalformed onMalformed_;
    LastMinute lastMinute_;
    long long line_ = 0;
    qint64 position_ = 0;
    // The line not yet whole: its first bytes, kept while it is no longer than
    // a line may be (a Windows line end aside), and how long it is so far.
    QByteArray pending_;
    qint64 pendingBytes_ = 0;
};

// What a file holds, counted as a review shows it.
struct Summary {
    std::array<long long, kVerdicts> counts{};
    long long exchanges = 0;  // stray reports not among them
    std::optional<double> firstMs, lastMs;
    QDateTime firstTime, lastTime;
    long long malformed = 0;

    void add(const Logged& logged);
};

}  // namespace record
