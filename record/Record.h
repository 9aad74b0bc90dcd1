#pragma once
// The record of the bridge's traffic: for every output report, when it was
// written, what was sent, what came back and what that means. One record
// serves every front end: krl7741's output and trace, the bus monitor, the
// demo's board window and the log all print an exchange the one way written
// here. Bounded: the newest kKept exchanges are kept, with the PWM levels the
// host believed in before the oldest of them.

#include "BridgeLink.h"
#include "Counts.h"

#include <QDateTime>
#include <QJsonObject>
#include <QObject>
#include <QString>

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

namespace record {

using Bytes = std::vector<std::uint8_t>;
using TimePoint = std::chrono::steady_clock::time_point;
using Clock = std::function<TimePoint()>;
using WallClock = std::function<QDateTime()>;  // the time of day, UTC

// What an exchange came to, as the link judges it (BridgeLink.h).
using Verdict = bridge::Verdict;

// PWM LED1, LED2, LED3 (0..31); nullopt until the host first set one.
using Levels = std::array<std::optional<int>, 3>;

// What the host believes the chip's registers hold: the values of the
// commands the chip acknowledged. A command that was not acknowledged, or not
// answered, changes nothing here. A lost bridge, a bridge opened or let go and
// a command to another chip make every register unknown again: a chip that
// lost its power, or another chip, holds nothing the host told this one.
struct Registers {
    std::optional<int> peakCurrent;
    Levels pwm;
    std::optional<int> iStart;
    std::optional<int> iStop;
    std::optional<int> gdStart;

    // Takes an acknowledged command byte.
    void apply(std::uint8_t command);
    bool operator==(const Registers&) const = default;
};

// One exchange, or a stray report (Verdict::Stray: an input report that
// answered no command, `sent` empty, `at` when it was read).
struct Exchange {
    TimePoint at;    // when the output report was written
    Bytes sent;      // the output report, report id first
    Bytes received;  // the input report read for it, report id first; empty when none came
    Verdict verdict = Verdict::NoAnswer;
    Levels pwm;           // the host's PWM levels once this exchange was judged
    QDateTime time = {};  // the time of day (UTC) at the write, from the wall clock then
    bool operator==(const Exchange&) const = default;
};

// What a reply (report id first) says by its status byte (bridge::verdictOf);
// a reply too short to hold one is no answer.
Verdict verdictOf(const Bytes& reply);

// "acknowledged", "not acknowledged", "no answer", "bridge lost", "stray report".
QString verdictText(Verdict verdict);
// "00 70 41 41": each byte as two upper-case hexadecimal digits.
QString hexBytes(const Bytes& bytes);
// The text form of an exchange: "00 70 41 41 -> 00 01 41 41  acknowledged";
// the reply reads "(nothing)" when none came, and so does what was sent for a
// stray report: "(nothing) -> 00 01 FF FF  stray report".
QString text(const Exchange& exchange);
// The JSON form: t_ms (milliseconds from `origin` to the write, to the
// microsecond), sent and received (the reports without their report id) and
// verdict.
// A time in milliseconds as the log holds it: to the microsecond, as fine as a
// host's clock and USB's frames make sense of.
double loggedMs(double ms);
QJsonObject json(const Exchange& exchange, TimePoint origin);

class Record final : public QObject {
    Q_OBJECT
public:
    static constexpr std::size_t kKept = 4096;

    explicit Record(QObject* parent = nullptr);

    // The clock exchanges are timed by (steady_clock's by default); tests
    // hand it one they move themselves. Setting it starts the record's time.
    void setClock(Clock clock);
    TimePoint now() const { return clock_(); }
    // The time of day each exchange is stamped with, read when it happens
    // (the system's by default): it jumps with the system's clock and goes on
    // across a suspend, which the steady clock does not.
    void setWallClock(WallClock clock) { wallClock_ = std::move(clock); }

    // An exchange judged now, its report written at `at`.
    void add(TimePoint at, Bytes sent, Bytes received, Verdict verdict);
    // The device was opened or let go at `at`: every register is unknown from
    // then on (registersForgotten() says when).
    void forgetRegisters(TimePoint at);
    // Forgets the exchanges and the counts; the host's view of the registers stays.
    void clear();

    // Oldest first.
    const std::deque<Exchange>& exchanges() const { return exchanges_; }
    // The PWM levels before the oldest exchange kept.
    const Levels& levelsBefore() const { return levelsBefore_; }
    const Registers& registers() const { return registers_; }
    // When the known PWM levels last became unknown outside an exchange, the
    // times after the oldest exchange kept, oldest first.
    const std::deque<TimePoint>& registersForgotten() const { return forgotten_; }
    // Exchanges of each verdict since the start or the last clear, the dropped ones included.
    long long count(Verdict verdict) const { return counts_.of(verdict); }
    // The same of the exchanges `filter` shows, by verdict.
    VerdictCounts counts(const Filter& filter) const { return counts_.shown(filter); }

    // When the record's time began: the JSON forms count t_ms from here.
    TimePoint origin() const { return origin_; }
    // The JSON form with the exchange's time of day added as "time" (ISO
    // 8601, UTC, to the millisecond): one line of a saved record or of the log.
    QJsonObject line(const Exchange& exchange) const;

signals:
    void added(const record::Exchange& exchange);
    void cleared();
    // forgetRegisters() made known levels unknown.
    void registersChanged();

private:
    Clock clock_;
    WallClock wallClock_;
    TimePoint origin_;
    std::deque<Exchange> exchanges_;
    Levels levelsBefore_;
    Registers registers_;
    std::optional<std::uint8_t> address_;  // of the chip the registers belong to
    std::deque<TimePoint> forgotten_;
    Counts counts_;
};

// Writes the record to `path`, one JSON line (Record::line) per exchange.
// Returns why it could not, or an empty text.
QString save(const Record& record, const QString& path);

}  // namespace record
