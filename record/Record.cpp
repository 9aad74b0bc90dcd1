#include "Record.h"

#include "BridgeLink.h"
#include "Commands.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>
#include <QStringList>

#include <cmath>

namespace record {
namespace {

using Ms = std::chrono::duration<double, std::milli>;

// The report without its id, as a JSON array of numbers.
QJsonArray payload(const Bytes& report)
{
    QJsonArray bytes;
    for (std::size_t i = 1; i < report.size(); ++i)
        bytes.append(report[i]);
    return bytes;
}

}  // namespace

void Registers::apply(std::uint8_t command)
{
    const int value = command & driver::kValueMax;
    switch (command & ~driver::kValueMax & 0xFF) {
    case driver::kPeakCurrentOff:
        peakCurrent = 0;
        break;
    case driver::kPeakCurrent:
        peakCurrent = value;
        break;
    case driver::kPwmLed1:
        pwm[0] = value;
        break;
    case driver::kPwmLed2:
        pwm[1] = value;
        break;
    case driver::kPwmLed3:
        pwm[2] = value;
        break;
    case driver::kIledUp:
        iStart = value;
        break;
    case driver::kIledDown:
        iStop = value;
        break;
    default:  // driver::kGdStart
        gdStart = value;
        break;
    }
}

Verdict verdictOf(const Bytes& reply)
{
    return bridge::verdictOf(reply.size() < 2 ? bridge::kStatusNone : reply[1]);
}

QString verdictText(Verdict verdict)
{
    switch (verdict) {
    case Verdict::Acknowledged:
        return QStringLiteral("acknowledged");
    case Verdict::NotAcknowledged:
        return QStringLiteral("not acknowledged");
    case Verdict::NoAnswer:
        break;
    case Verdict::BridgeLost:
        return QStringLiteral("bridge lost");
    case Verdict::Stray:
        return QStringLiteral("stray report");
    }
    return QStringLiteral("no answer");
}

QString hexBytes(const Bytes& bytes)
{
    QStringList texts;
    for (const auto byte : bytes)
        texts << driver::hexByte(byte);
    return texts.join(QLatin1Char(' '));
}

QString text(const Exchange& exchange)
{
    const auto bytes
        = [](const Bytes& report) { return report.empty() ? QStringLiteral("(nothing)") : hexBytes(report); };
    return QStringLiteral("%1 -> %2  %3")
        .arg(bytes(exchange.sent), bytes(exchange.received), verdictText(exchange.verdict));
}

double loggedMs(double ms) { return std::round(ms * 1000.0) / 1000.0; }

QJsonObject json(const Exchange& exchange, TimePoint origin)
{
    const double ms = loggedMs(Ms(exchange.at - origin).count());
    return {
        {QStringLiteral("t_ms"), ms},
        {QStringLiteral("sent"), payload(exchange.sent)},
        {QStringLiteral("received"), payload(exchange.received)},
        {QStringLiteral("verdict"), verdictText(exchange.verdict)},
    };
}

Record::Record(QObject* parent) : QObject(parent), wallClock_([] { return QDateTime::currentDateTimeUtc(); })
{
    setClock([] { return std::chrono::steady_clock::now(); });
}

void Record::setClock(Clock clock)
{
    clock_ = std::move(clock);
    origin_ = clock_();
}

void Record::add(TimePoint at, Bytes sent, Bytes received, Verdict verdict)
{
    // The time of day at the write: the wall clock now, less the steady time
    // the exchange took (a reply is waited for at most a fraction of a second).
    const QDateTime time = wallClock_().addMSecs(-std::llround(Ms(now() - at).count()));
    if (sent.size() > 1 && address_ != sent[1]) {
        registers_ = {};
        address_ = sent[1];
    }
    if (verdict == Verdict::Acknowledged && sent.size() > 2)
        registers_.apply(sent[2]);
    if (verdict == Verdict::BridgeLost)
        registers_ = {};
    if (exchanges_.size() == kKept) {
        levelsBefore_ = exchanges_.front().pwm;
        exchanges_.pop_front();
        while (!forgotten_.empty() && forgotten_.front() < exchanges_.front().at) {
            levelsBefore_ = {};
            forgotten_.pop_front();
        }
    }
    counts_.add(verdict, sent.size() > 2 ? std::optional(sent[2]) : std::nullopt);
    exchanges_.push_back({at, std::move(sent), std::move(received), verdict, registers_.pwm, time});
    emit added(exchanges_.back());
}

void Record::forgetRegisters(TimePoint at)
{
    address_.reset();
    if (registers_ == Registers{})
        return;
    const bool levelsKnown = registers_.pwm != Levels{};
    registers_ = {};
    if (levelsKnown) {
        if (exchanges_.empty())
            levelsBefore_ = {};
        else
            forgotten_.push_back(at);
    }
    emit registersChanged();
}

void Record::clear()
{
    levelsBefore_ = registers_.pwm;
    exchanges_.clear();
    forgotten_.clear();
    counts_ = Counts();
    emit cleared();
}

QJsonObject Record::line(const Exchange& exchange) const
{
    QJsonObject object = json(exchange, origin_);
    object.insert(QStringLiteral("time"), exchange.time.toString(Qt::ISODateWithMs));
    return object;
}

QString save(const Record& record, const QString& path)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        return file.errorString();
    for (const Exchange& exchange : record.exchanges()) {
        file.write(QJsonDocument(record.line(exchange)).toJson(QJsonDocument::Compact));
        file.write("\n");
    }
    if (!file.commit())
        return file.errorString();
    return {};
}

}  // namespace record
