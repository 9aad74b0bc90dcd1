// krl7741 review: a log or a saved record read back, the failures printed as
// they come with their times and meanings, then the counts.

#include "Review.h"
#include "Cli.h"
#include "Output.h"
#include "Trace.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

namespace cli {
namespace {

const QChar kPoint = QLatin1Char('.');

QString isoTime(const QDateTime& time) { return time.toString(Qt::ISODateWithMs); }

class ReviewOutput {
public:
    ReviewOutput(QTextStream& out, bool json) : out_(out), json_(json) {}

    void failure(const record::Logged& logged)
    {
        const QString meaning = record::meaning(logged.exchange, kPoint);
        if (!json_) {
            // A stray report carries no command, so no meaning.
            out_ << QStringLiteral("line %1  %2 ms  %3  %4")
                        .arg(logged.line)
                        .arg(record::sinceStartText(logged.tMs),
                             logged.time.isValid() ? isoTime(logged.time) : QStringLiteral("-"),
                             (meaning.isEmpty() ? QString() : meaning + QStringLiteral(": "))
                                 + record::text(logged.exchange))
                 << Qt::endl;
            return;
        }
        QJsonObject object = record::json(logged.exchange, record::TimePoint{});
        object.insert(QStringLiteral("t_ms"), logged.tMs);
        if (logged.time.isValid())
            object.insert(QStringLiteral("time"), isoTime(logged.time));
        object.insert(QStringLiteral("line"), logged.line);
        object.insert(QStringLiteral("message"), meaning);
        line(object);
    }

    void skipped(const record::Malformed& malformed)
    {
        if (json_)
            line({{QStringLiteral("line"), malformed.line}, {QStringLiteral("skipped"), malformed.reason}});
        else
            out_ << QStringLiteral("line %1 skipped: %2").arg(malformed.line).arg(malformed.reason)
                 << Qt::endl;
    }

    void summary(const QString& file, const record::Summary& s)
    {
        const auto& verdicts = record::kAllVerdicts;
        if (json_) {
            QJsonObject counts;
            for (const record::Verdict v : verdicts)
                counts.insert(record::verdictText(v), s.counts[static_cast<std::size_t>(v)]);
            QJsonObject object{{QStringLiteral("file"), file},
                               {QStringLiteral("exchanges"), s.exchanges},
                               {QStringLiteral("counts"), counts},
                               {QStringLiteral("skipped"), s.malformed}};
            if (s.firstMs) {
                object.insert(QStringLiteral("first_t_ms"), *s.firstMs);
                object.insert(QStringLiteral("last_t_ms"), *s.lastMs);
            }
            if (s.firstTime.isValid()) {
                object.insert(QStringLiteral("first_time"), isoTime(s.firstTime));
                object.insert(QStringLiteral("last_time"), isoTime(s.lastTime));
            }
            line(object);
            return;
        }
        out_ << QStringLiteral("%1: %2 exchanges").arg(file).arg(s.exchanges);
        if (s.firstMs)
            out_ << QStringLiteral(", t_ms %1 to %2")
                        .arg(record::sinceStartText(*s.firstMs), record::sinceStartText(*s.lastMs));
        if (s.firstTime.isValid())
            out_ << QStringLiteral(" (%1 to %2)").arg(isoTime(s.firstTime), isoTime(s.lastTime));
        out_ << Qt::endl;
        QStringList counts;
        for (const record::Verdict v : verdicts)
            counts << QStringLiteral("%1 %2")
                          .arg(record::verdictText(v))
                          .arg(s.counts[static_cast<std::size_t>(v)]);
        out_ << counts.join(QStringLiteral(", ")) << QStringLiteral("; %1 lines skipped").arg(s.malformed)
             << Qt::endl;
    }

private:
    void line(const QJsonObject& object)
    {
        out_ << QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)) << Qt::endl;
    }

    QTextStream& out_;
    bool json_;
};

}  // namespace

int review(const Invocation& invocation, QTextStream& out, QTextStream& err)
{
    QFile file(invocation.file);
    if (!file.open(QIODevice::ReadOnly)) {
        err << kProgram() << ": cannot read " << invocation.file << ": " << file.errorString() << Qt::endl;
        return kExitNoInput;
    }
    ReviewOutput output(out, invocation.json);
    record::Summary summary;
    const auto logged = [&](record::Logged&& l) {
        summary.add(l);
        if (record::failed(l.exchange.verdict))
            output.failure(l);
    };
    const auto malformed = [&](record::Malformed&& m) {
        ++summary.malformed;
        output.skipped(m);
    };
    record::LogReader reader(logged, malformed);
    reader.read(file, true);
    output.summary(invocation.file, summary);

    const auto count = [&](record::Verdict v) { return summary.counts[static_cast<std::size_t>(v)]; };
    if (!summary.firstMs)
        return kExitNothingRead;  // not one exchange, nor a stray report
    if (count(record::Verdict::NoAnswer) + count(record::Verdict::BridgeLost) > 0)
        return kExitNoAnswer;
    if (count(record::Verdict::NotAcknowledged) > 0)
        return kExitNotAcknowledged;
    return kExitAcknowledged;
}

}  // namespace cli
