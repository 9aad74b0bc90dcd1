#pragma once
// A long log for the review's benchmark and screenshot: `lines` lines as
// KRL7741AT --log writes them, a night's SEQ#3 ramps at 10 ms a step from
// 2026-12-09 10:00 UTC, every 97th exchange not acknowledged and every 1009th
// unanswered.

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QString>

namespace tools {

inline bool writeLongLog(const QString& path, long lines)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QDateTime start
        = QDateTime::fromString(QStringLiteral("2026-12-09T10:00:00.000Z"), Qt::ISODateWithMs);
    QByteArray chunk;
    for (long i = 0; i < lines; ++i) {
        const int command = 0x41 + static_cast<int>(i % 31) + 0x20 * static_cast<int>(i / 31 % 3);
        const double tMs = static_cast<double>(i) * 10.0 + static_cast<double>(i % 7) * 0.013;
        const bool unanswered = i % 1009 == 0;
        const bool refused = !unanswered && i % 97 == 0;
        const QString received = unanswered
            ? QStringLiteral("[]")
            : QStringLiteral("[%1,%2,%2]").arg(refused ? 240 : 1).arg(command);
        chunk += QStringLiteral(R"({"received":%1,"sent":[112,%2,%2],"t_ms":%3,"time":"%4","verdict":"%5"})")
                     .arg(received)
                     .arg(command)
                     .arg(tMs, 0, 'f', 3)
                     .arg(start.addMSecs(static_cast<qint64>(tMs)).toString(Qt::ISODateWithMs))
                     .arg(unanswered    ? QStringLiteral("no answer")
                              : refused ? QStringLiteral("not acknowledged")
                                        : QStringLiteral("acknowledged"))
                     .toLatin1();
        chunk += '\n';
        if (chunk.size() > (1 << 20)) {
            file.write(chunk);
            chunk.clear();
        }
    }
    return file.write(chunk) == chunk.size();
}

}  // namespace tools
