#include "Review.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstring>
#include <string_view>

namespace record {
namespace {

constexpr std::uint8_t kReportId = 0;
constexpr qint64 kChunk = 1 << 16;

// The bytes an exchange sends (the command's; a stray report: none) and receives
// (none, or the reply's), the report id left out.
constexpr qsizetype kCommandBytes = 3;
bool countsFit(qsizetype sent, qsizetype received, Verdict verdict)
{
    return (sent == kCommandBytes || (sent == 0 && verdict == Verdict::Stray))
        && (received == 0 || received == kCommandBytes);
}

// The array of bytes named `key`: how many it holds and the first of them,
// with the report id put in front; nullopt when it is missing or holds
// anything but whole numbers 0..255. No more are kept than an exchange has.
struct Report {
    Bytes bytes;
    qsizetype count = 0;
};
std::optional<Report> report(const QJsonObject& object, QLatin1String key)
{
    const QJsonValue value = object.value(key);
    if (!value.isArray())
        return std::nullopt;
    const QJsonArray array = value.toArray();
    Report report{{kReportId}, array.size()};
    for (const QJsonValue& byte : array) {
        const double d = byte.toDouble(-1);
        if (!byte.isDouble() || d < 0 || d > 0xFF || d != static_cast<int>(d))
            return std::nullopt;
        if (report.bytes.size() <= kCommandBytes)
            report.bytes.push_back(static_cast<std::uint8_t>(d));
    }
    return report;
}

template <typename Text>
std::optional<Verdict> verdictNamed(const Text& text)
{
    for (const Verdict v : kAllVerdicts) {
        if (verdictText(v) == text)
            return v;
    }
    return std::nullopt;
}

// Reads the line as the program's own log and saved records write it,
// without building a JSON document:
// {"received":[..],"sent":[..],"t_ms":1.5,"time":"2026-12-09T10:00:00.001Z","verdict":"acknowledged"},
// "time" optional, no blanks, bytes as plain decimals, t_ms without an
// exponent, texts with no escapes. It takes no line the JSON reader would not
// take, and reads each it takes to the same exchange; every other line is
// left to the JSON reader, which says what is wrong with it.
class LogForm {
public:
    LogForm(const QByteArray& line, LastMinute& last)
        : at_(line.constData()), end_(at_ + line.size()), last_(last)
    {
    }

    std::optional<Logged> read()
    {
        Logged logged;
        std::optional<Bytes> sent, received;
        std::optional<std::string_view> time, verdict;
        if (!(take(R"({"received":)") && (received = bytes()) && take(R"(,"sent":)") && (sent = bytes())
              && take(R"(,"t_ms":)") && number(logged.tMs) && std::abs(logged.tMs) <= kFurthestMs))
            return std::nullopt;
        if (take(R"(,"time":)") && !((time = text()) && (logged.time = timeOfDay(*time)).isValid()))
            return std::nullopt;
        if (!(take(R"(,"verdict":)") && (verdict = text()) && take("}") && at_ == end_))
            return std::nullopt;
        const auto v = verdictNamed(QLatin1String(verdict->data(), static_cast<qsizetype>(verdict->size())));
        if (!v)
            return std::nullopt;
        if (!countsFit(qsizetype(sent->size()) - 1, qsizetype(received->size()) - 1, *v))
            return std::nullopt;
        if (received->size() == 1)
            received->clear();  // no reply came
        if (sent->size() == 1)
            sent->clear();  // a stray report: nothing was sent
        logged.exchange = {atMs(logged.tMs), std::move(*sent), std::move(*received), *v, {}};
        return logged;
    }

private:
    bool take(std::string_view expected)
    {
        if (static_cast<std::size_t>(end_ - at_) < expected.size()
            || std::string_view(at_, expected.size()) != expected)
            return false;
        at_ += expected.size();
        return true;
    }

    bool digit() const { return at_ < end_ && *at_ >= '0' && *at_ <= '9'; }

    // [112,65,65]: whole numbers 0..255 as JSON writes them (no leading zero).
    std::optional<Bytes> bytes()
    {
        if (!take("["))
            return std::nullopt;
        Bytes bytes{kReportId};
        if (take("]"))
            return bytes;
        do {
            const char* from = at_;
            int value = 0;
            while (digit() && at_ - from < 4)
                value = value * 10 + (*at_++ - '0');
            const auto length = at_ - from;
            if (length == 0 || length > 3 || (length > 1 && *from == '0') || value > 0xFF
                || qsizetype(bytes.size()) > kCommandBytes)
                return std::nullopt;  // the JSON reader says what is wrong
            bytes.push_back(static_cast<std::uint8_t>(value));
        } while (take(","));
        if (!take("]"))
            return std::nullopt;
        return bytes;
    }

    // -?(0|[1-9][0-9]*)(.[0-9]+)?, read to the nearest double, as JSON reads it.
    bool number(double& value)
    {
        const char* from = at_;
        take("-");
        const char* integer = at_;
        while (digit())
            ++at_;
        if (at_ == integer || (at_ - integer > 1 && *integer == '0'))
            return false;
        const bool whole = !take(".");
        if (!whole) {
            const char* fraction = at_;
            while (digit())
                ++at_;
            if (at_ == fraction)
                return false;
        }
        const auto [end, error] = std::from_chars(from, at_, value);
        if (whole && value == 0)
            value = 0;  // "-0" is the whole number 0 to JSON, not -0.0
        return error == std::errc() && end == at_;
    }

    // A text of printable ASCII with no escapes.
    std::optional<std::string_view> text()
    {
        if (!take("\""))
            return std::nullopt;
        const char* from = at_;
        while (at_ < end_ && *at_ != '"' && *at_ != '\\' && *at_ >= 0x20 && *at_ < 0x7F)
            ++at_;
        const std::string_view text(from, static_cast<std::size_t>(at_ - from));
        if (!take("\""))
            return std::nullopt;
        return text;
    }

    // "2026-12-09T10:00:00.001Z" (UTC, to the millisecond) as QDateTime reads
    // it: the minute read by QDateTime once, the seconds added to it.
    QDateTime timeOfDay(std::string_view text)
    {
        static constexpr std::string_view kForm = "dddd-dd-ddTdd:dd:dd.dddZ";
        constexpr std::size_t kHour = 11, kMinute = 16, kSecond = 17, kMillisecond = 20;
        if (text.size() != kForm.size())
            return {};
        for (std::size_t i = 0; i < kForm.size(); ++i) {
            const bool isDigit = text[i] >= '0' && text[i] <= '9';
            if (kForm[i] == 'd' ? !isDigit : text[i] != kForm[i])
                return {};
        }
        const auto field = [text](std::size_t at, std::size_t length) {
            int value = 0;
            for (std::size_t i = at; i < at + length; ++i)
                value = value * 10 + (text[i] - '0');
            return value;
        };
        const int second = field(kSecond, 2);
        if (field(kHour, 2) > 23 || second > 59)
            return {};
        const std::string_view minute = text.substr(0, kMinute);
        if (minute != std::string_view(last_.text.constData(), static_cast<std::size_t>(last_.text.size()))) {
            last_.text = QByteArray(minute.data(), static_cast<qsizetype>(kMinute));
            last_.start = QDateTime::fromString(QLatin1String(last_.text) + QLatin1String(":00.000Z"),
                                                Qt::ISODateWithMs);
        }
        if (!last_.start.isValid())
            return {};
        return last_.start.addMSecs(second * 1000LL + field(kMillisecond, 3));
    }

    const char* at_;
    const char* end_;
    LastMinute& last_;
};

// An ISO 8601 date and time as QDateTime reads it, but for hour 24: Qt takes
// 24:00 as the next day's midnight, no time the program writes.
QDateTime timeOfDay(const QString& text)
{
    constexpr qsizetype kDate = 10;  // yyyy-MM-dd, then T (or a blank) and the hour
    if (text.size() > kDate + 2 && (text[kDate] == QLatin1Char('T') || text[kDate] == QLatin1Char(' '))
        && QStringView(text).mid(kDate + 1, 2) == QLatin1String("24"))
        return {};
    return QDateTime::fromString(text, Qt::ISODateWithMs);
}

QString tooLong() { return QStringLiteral("longer than %1 bytes").arg(kLongestLine); }

}  // namespace

QString printable(const QString& text)
{
    QString shown;
    shown.reserve(text.size());
    for (const QChar c : text) {
        const auto category = c.category();
        if (category == QChar::Other_Control || category == QChar::Other_Format
            || category == QChar::Separator_Line || category == QChar::Separator_Paragraph)
            shown += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        else
            shown += c;
    }
    return shown;
}

QString notARegularFile() { return QStringLiteral("not a regular file"); }

TimePoint atMs(double tMs)
{
    return TimePoint(
        std::chrono::duration_cast<TimePoint::duration>(std::chrono::duration<double, std::milli>(tMs)));
}

ParsedLine parseLine(const QByteArray& line)
{
    LastMinute last;
    return parseLine(line, last);
}

ParsedLine parseLine(const QByteArray& line, LastMinute& last)
{
    ParsedLine parsed;
    parsed.logged = LogForm(line, last).read();
    return parsed.logged ? parsed : parseJsonLine(line);
}

ParsedLine parseJsonLine(const QByteArray& line)
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
    if (!(std::abs(tMs.toDouble()) <= kFurthestMs)) {
        parsed.malformed = QStringLiteral("t_ms out of range");
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
            ? QStringLiteral("unknown verdict '%1'").arg(printable(verdictValue.toString()))
            : QStringLiteral("no verdict");
        return parsed;
    }
    if (!countsFit(sent->count, received->count, *verdict)) {
        parsed.malformed = sent->count != kCommandBytes && !(sent->count == 0 && *verdict == Verdict::Stray)
            ? QStringLiteral("sent has %1 bytes, not 3").arg(sent->count)
            : QStringLiteral("received has %1 bytes, not 0 or 3").arg(received->count);
        return parsed;
    }
    Logged logged;
    logged.tMs = tMs.toDouble();
    const QJsonValue time = object.value(QLatin1String("time"));
    if (!time.isUndefined()) {
        logged.time = timeOfDay(time.toString());
        if (!logged.time.isValid()) {
            parsed.malformed = QStringLiteral("time is not a date and time");
            return parsed;
        }
        if (logged.time.timeSpec() == Qt::LocalTime) {
            // Whose local time is not known: the program writes UTC, with its Z.
            parsed.malformed = QStringLiteral("time has no zone (Z or +hh:mm)");
            return parsed;
        }
    }
    if (received->count == 0)
        received->bytes.clear();  // no reply came
    if (sent->count == 0)
        sent->bytes.clear();  // a stray report: nothing was sent
    logged.exchange = {atMs(logged.tMs), std::move(sent->bytes), std::move(received->bytes), *verdict, {}};
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
        device.seek(position_ + pendingBytes_);
    QByteArray chunk(kChunk, Qt::Uninitialized);
    for (;;) {
        if (keepGoing && !keepGoing())
            return false;
        const qint64 got = device.read(chunk.data(), kChunk);
        if (got <= 0)
            break;
        feed(chunk.constData(), chunk.constData() + got);
    }
    if (toTheEnd && pendingBytes_ > 0)
        endLine(0);
    return true;
}

qsizetype LogReader::readLines(const QByteArray& block, bool toTheEnd)
{
    const qint64 from = position_;
    feed(block.constData(), block.constData() + block.size());
    if (toTheEnd && pendingBytes_ > 0)
        endLine(0);
    return static_cast<qsizetype>(position_ - from);
}

void LogReader::feed(const char* from, const char* to)
{
    while (from < to) {
        const auto* newline = static_cast<const char*>(std::memchr(from, '\n', std::size_t(to - from)));
        const char* end = newline ? newline : to;
        const qsizetype length = end - from;
        if (newline && pendingBytes_ == 0) {
            // Handled where it lies, not copied.
            ++line_;
            handle(QByteArray::fromRawData(from, length));
            position_ += length + 1;
        } else {
            // Kept only while it may yet be short enough; past that passed over.
            pendingBytes_ += length;
            if (pendingBytes_ <= kLongestLine + 1)
                pending_.append(from, length);
            else
                pending_ = QByteArray();
            if (newline)
                endLine(1);
        }
        from = end + (newline ? 1 : 0);
    }
}

// The pending line ends, with a newline or at the file's end.
void LogReader::endLine(qint64 newline)
{
    ++line_;
    if (pendingBytes_ > kLongestLine + 1)
        onMalformed_({line_, tooLong()});
    else
        handle(std::exchange(pending_, QByteArray()));
    position_ += pendingBytes_ + newline;
    pendingBytes_ = 0;
}

void LogReader::handle(QByteArray line)
{
    if (line.endsWith('\r'))
        line.chop(1);  // written on Windows
    if (line.size() > kLongestLine) {
        onMalformed_({line_, tooLong()});
        return;
    }
    ParsedLine parsed = parseLine(line, lastMinute_);
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
    if (logged.exchange.verdict != Verdict::Stray)
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
