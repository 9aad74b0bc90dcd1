#include "Trace.h"

#include "Commands.h"

#include <QStringList>

namespace virtualboard {
namespace {

QString verdictText(Verdict verdict)
{
    switch (verdict) {
    case Verdict::Acknowledged:
        return QStringLiteral("acknowledged");
    case Verdict::NotAcknowledged:
        return QStringLiteral("NACK");
    case Verdict::NoAnswer:
        break;
    }
    return QStringLiteral("no answer");
}

}  // namespace

QString hexReport(const Report& report)
{
    QStringList bytes;
    for (const auto byte : report)
        bytes << driver::hexByte(byte);
    return bytes.join(QLatin1Char(' '));
}

Verdict verdictOf(const Report& reply)
{
    if (reply.size() < 2 || reply[1] == 0x00)
        return Verdict::NoAnswer;
    return reply[1] == kStatusNack ? Verdict::NotAcknowledged : Verdict::Acknowledged;
}

QString traceLine(const Report& output, const Report& reply, Verdict verdict)
{
    return QStringLiteral("%1 -> %2  %3")
        .arg(hexReport(output), reply.empty() ? QStringLiteral("(nothing)") : hexReport(reply),
             verdictText(verdict));
}

}  // namespace virtualboard
