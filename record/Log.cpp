#include "Log.h"

#include <QJsonDocument>

namespace record {

Log::Log(Record& record, const QString& path, QObject* parent) : QObject(parent), record_(record), file_(path)
{
    // Unbuffered: each line goes to the system as it is written.
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text | QIODevice::Unbuffered)) {
        openError_ = file_.errorString();
        return;
    }
    connect(&record_, &Record::added, this, &Log::append);
}

void Log::append(const Exchange& exchange)
{
    if (!file_.isOpen())
        return;
    QByteArray line = QJsonDocument(record_.line(exchange)).toJson(QJsonDocument::Compact);
    line += '\n';
    // A write the disk had room for only part of is followed by one for the
    // rest, which then says why it cannot be written.
    qint64 done = 0;
    while (done < line.size()) {
        const qint64 n = file_.write(line.constData() + done, line.size() - done);
        if (n <= 0)
            break;
        done += n;
    }
    if (done == line.size())
        return;
    stopReason_ = file_.errorString();
    file_.close();
    emit stopped(QStringLiteral("The log %1 stopped: %2").arg(file_.fileName(), stopReason_));
}

}  // namespace record
