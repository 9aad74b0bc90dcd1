#include "Trace.h"

namespace record {
namespace {

constexpr int kTimeWidth = 12;     // "86400000.000": a day in milliseconds
constexpr int kMeaningWidth = 29;  // "GRADUAL DIMMING = $FE (240ms)"
constexpr std::size_t kCommandAt = 2;

}  // namespace

std::optional<std::uint8_t> commandOf(const Exchange& exchange)
{
    if (exchange.sent.size() <= kCommandAt)
        return std::nullopt;
    return exchange.sent[kCommandAt];
}

QString meaning(const Exchange& exchange, QChar decimalSeparator)
{
    const auto command = commandOf(exchange);
    return command ? driver::meaning(*command, decimalSeparator) : QString();
}

QString sinceStartText(double ms) { return QString::number(loggedMs(ms), 'f', 3); }

QString timeOfDayText(const QDateTime& time)
{
    return time.isValid() ? time.toLocalTime().toString(QStringLiteral("HH:mm:ss.zzz")) : QStringLiteral("-");
}

QString traceLine(const QString& time, const Exchange& exchange, QChar decimalSeparator)
{
    return QStringLiteral("%1  %2  %3")
        .arg(time, kTimeWidth)
        .arg(meaning(exchange, decimalSeparator), -kMeaningWidth)
        .arg(text(exchange));
}

bool Filter::accepts(Verdict verdict, std::optional<std::uint8_t> command) const
{
    switch (kind) {
    case Kind::All:
        return true;
    case Kind::Failures:
        return failed(verdict);
    case Kind::Register:
        break;
    }
    return command && driver::controlOf(*command) == control;
}

}  // namespace record
