#pragma once
// An exchange as the trace shows it and as a filter picks it: when it
// happened, what its command byte means in the panel's own words and units
// (driver/), and its text form. The bus monitor's trace, a review of a log
// and `krl7741 review` all print their lines from here.

#include "Commands.h"
#include "Record.h"

#include <QDateTime>
#include <QString>

#include <cstdint>
#include <optional>

namespace record {

// The command byte a report carried (report id, address, command, command);
// nullopt for a report too short to carry one.
std::optional<std::uint8_t> commandOf(const Exchange& exchange);
// "PWM LED1 = $49 (28.125%)" (driver::meaning); empty without a command byte.
QString meaning(const Exchange& exchange, QChar decimalSeparator);

// NACK, no answer and a lost bridge.
inline bool failed(Verdict verdict) { return verdict != Verdict::Acknowledged; }

// How a trace line says when: milliseconds since the start ("5012.337") or
// the local time of day ("10:02:11.415").
enum class TimeShown { SinceStart, TimeOfDay };
QString sinceStartText(double ms);
QString timeOfDayText(const QDateTime& time);

// A trace line: the time, the meaning and the text form, in columns:
// "    5012.337  PWM LED1 = $49 (28.125%)       00 70 49 49 -> 00 01 49 49  acknowledged".
QString traceLine(const QString& time, const Exchange& exchange, QChar decimalSeparator);

// Which exchanges a trace shows.
struct Filter {
    enum class Kind { All, Failures, Register };
    Kind kind = Kind::All;
    driver::SetupControl control = driver::SetupControl::IledPeak;  // the register of Kind::Register

    bool accepts(Verdict verdict, std::optional<std::uint8_t> command) const;
    bool accepts(const Exchange& exchange) const { return accepts(exchange.verdict, commandOf(exchange)); }
    bool operator==(const Filter&) const = default;
};

}  // namespace record
