#pragma once
// The log: every exchange of a record appended to a file as one JSON line
// (Record::line), each line in one write as it happens, so a crash or a
// pulled cable loses nothing already done, and several programs may log to
// one file. Every line in the file is whole: a line that does not fit is not
// left half written, and a fragment found at the file's end before the first
// line (left by a crash) is ended with it, so only the fragment is lost. A
// write that fails (the disk full, the file gone) stops the log; it says why
// once, and the program goes on without it.

#include "AppendFile.h"
#include "Record.h"

#include <QObject>
#include <QString>

namespace record {

class Log final : public QObject {
    Q_OBJECT
public:
    // Opens `path` for appending, creating it when missing.
    Log(Record& record, const QString& path, QObject* parent = nullptr);

    // Why the file could not be opened; empty when it was.
    const QString& openError() const { return openError_; }
    // True while exchanges are written.
    bool writing() const { return file_.isOpen(); }
    // Why the log stopped; empty while it writes.
    const QString& stopReason() const { return stopReason_; }

signals:
    // The log stopped: "The log <path> stopped: <reason>".
    void stopped(const QString& message);

private:
    void append(const Exchange& exchange);

    Record& record_;
    QString path_;
    AppendFile file_;
    bool wroteALine_ = false;
    QString openError_;
    QString stopReason_;
};

}  // namespace record
