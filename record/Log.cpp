#include "Log.h"

#include <QJsonDocument>

namespace record {

Log::Log(Record& record, const QString& path, QObject* parent) : QObject(parent), record_(record), path_(path)
{
    openError_ = file_.open(path);
    if (!openError_.isEmpty())
        return;
    connect(&record_, &Record::added, this, &Log::append);
}

void Log::append(const Exchange& exchange)
{
    if (!file_.isOpen())
        return;
    QByteArray line = QJsonDocument(record_.line(exchange)).toJson(QJsonDocument::Compact);
    line += '\n';
    // A fragment at the end (a crash's) gets a line of its own, ended in the
    // same write as the first line of ours, so that no line joins it.
    if (!wroteALine_ && file_.endsInsideALine())
        line.prepend('\n');
    stopReason_ = file_.append(line);
    if (stopReason_.isEmpty()) {
        wroteALine_ = true;
        return;
    }
    file_.close();
    emit stopped(QStringLiteral("The log %1 stopped: %2").arg(path_, stopReason_));
}

}  // namespace record
