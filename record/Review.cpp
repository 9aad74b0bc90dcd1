#include "Review.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <chrono>

namespace record {
namespace {

constexpr std::uint8_t kReportId = 0;
constexpr qint64 kChunk = 1 << 16;

// The array of bytes named `key`, with the report id put in front; nullopt
// when it is missing or holds anything but whole numbers 0..255.
std::optional<Bytes> report(const QJsonObject& object, QLatin1String key)
{
    const QJsonValue value = object.value(key);
    if (!value.isArray())
        return std::nullopt;
    const QJsonArray array = value.toArray();
    Bytes bytes;
    bytes.reserve(static_cast<std::size_t>(array.size()) + 1);
    bytes.push_back(kReportId);
    for (const QJsonValue& byte : array) {
        const double d = byte.toDouble(-1);
        if (!byte.isDouble() || d < 0 || d > 0xFF || d != static_cast<int>(d))
            return std::nullopt;
        bytes.push_back(static_cast<std::uint8_t>(d));
    }
    return bytes;
}

std::optional<Verdict> verdictNamed(const QString& text)
{
    for (const Verdict v :
         {Verdict::Acknowledged, Verdict::NotAcknowledged, Verdict::NoAnswer, Verdict::BridgeLost}) {
        if (verdictText(v) == text)
            return v;
    }
    return std::nullopt;
}

}  // namespace

TimePoint atMs(double tMs)
{
    return TimePoint(
        std::chrono::duration_cast<TimePoint::duration>(std::chrono::duration<double, std::milli>(tMs)));
}

ParsedLine parseLine(const QByteArray& line)
{
    ParsedLine parsed;
    if (line.trimmed().isEmpty())
        return parsed;
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(line, &error);
    if (error.error != QJsonParseError::NoError) {
        parsed.malformed = QStringLiteral("not JSON: %1").arg(error.errorString());
        return parsed;
    }
    if (!document.isObject()) {
        parsed.malformed = QStringLiteral("not a JSON object");
        return parsed;
    }
    const QJsonObject object = document.object();
    const QJsonValue tMs = object.value(QLatin1String("t_ms"));
    if (!tMs.isDouble()) {
        parsed.malformed = QStringLiteral("no t_ms");
        return parsed;
    }
    auto sent = report(object, QLatin1String("sent"));
    auto received = report(object, QLatin1String("received"));
    if (!sent || !received) {
        parsed.malformed = QStringLiteral("no %1 (a list of bytes)").arg(sent ? "received" : "sent");
        return parsed;
    }
    const QJsonValue verdictValue = object.value(QLatin1String("verdict"));
    const auto verdict = verdictNamed(verdictValue.toString());
    if (!verdict) {
        parsed.malformed = verdictValue.isString()
            ? QStringLiteral("unknown verdict '%1'").arg(verdictValue.toString())
            : QStringLiteral("no verdict");
        return parsed;
    }
    Logged logged;
    logged.tMs = tMs.toDouble();
    const QJsonValue time = object.value(QLatin1String("time"));
    if (!time.isUndefined()) {
        logged.time = QDateTime::fromString(time.toString(), Qt::ISODateWithMs);
        if (!logged.time.isValid()) {
            parsed.malformed = QStringLiteral("time is not a date and time");
            return parsed;
        }
    }
    if (received->size() == 1)
        received->clear();  // no reply came
    logged.exchange = {atMs(logged.tMs), std::move(*sent), std::move(*received), *verdict, {}};
    parsed.logged = std::move(logged);
    return parsed;
}

LogReader::LogReader(OnLogged onLogged, OnMalformed onMalformed)
    : onLogged_(std::move(onLogged)), onMalformed_(std::move(onMalformed))
{
}

bool LogReader::read(QIODevice& device, bool toTheEnd, const std::function<bool()>& keepGoing)
{
    if (!device.isSequential())
        device.seek(position_);
    QByteArray pending;
    for (;;) {
        if (keepGoing && !keepGoing())
            return false;
        const QByteArray chunk = device.read(kChunk);
        if (chunk.isEmpty())
            break;
        pending += chunk;
        qsizetype start = 0;
        for (qsizetype end = pending.indexOf('\n'); end >= 0; end = pending.indexOf('\n', start)) {
            handle(pending.mid(start, end - start));
            position_ += end + 1 - start;
            start = end + 1;
        }
        pending.remove(0, start);
    }
    if (toTheEnd && !pending.isEmpty()) {
        handle(pending);
        position_ += pending.size();
    }
    return true;
}

void LogReader::handle(QByteArray line)
{
    ++line_;
    if (line.endsWith('\r'))
        line.chop(1);  // written on Windows
    ParsedLine parsed = parseLine(line);
    if (parsed.logged) {
        parsed.logged->line = line_;
        onLogged_(std::move(*parsed.logged));
    } else if (!parsed.malformed.isEmpty()) {
        onMalformed_({line_, parsed.malformed});
    }
}

void Summary::add(const Logged& logged)
{
    ++counts[static_cast<std::size_t>(logged.exchange.verdict)];
    ++exchanges;
    if (!firstMs)
        firstMs = logged.tMs;
    lastMs = logged.tMs;
    if (logged.time.isValid()) {
        if (!firstTime.isValid())
            firstTime = logged.time;
        lastTime = logged.time;
    }
}

}  // namespace record
