#pragma once
// Reading a log or a saved record for review without holding up the window:
// the file is read and parsed on threads of its own, in batches handed to
// the thread that started it (through its event loop) with how far it has
// got; it can be cancelled, and read on later from where it stopped, for a
// log that is still being written.

#include "Capture.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace record {

class Loading final : public QObject {
    Q_OBJECT
public:
    explicit Loading(const QString& path, QObject* parent = nullptr);
    ~Loading() override;  // cancels, and waits for the thread

    const QString& path() const { return path_; }
    // Reads from where the last read stopped to the file's end, unless a read
    // runs; a last line with no newline yet is read too when `toTheEnd`, and
    // otherwise left until it is whole (a log still being written).
    void read(bool toTheEnd = true);
    bool reading() const { return thread_.joinable() && !done_; }
    // Stops the read after the line it is at; what was read stays.
    void cancel() { cancel_ = true; }

    // The capture so far, in file order; the first lines skipped, with their
    // reasons, and how many were skipped in all.
    const Capture& capture() const { return capture_; }
    const std::vector<Malformed>& skipped() const { return skipped_; }
    long long skippedCount() const { return skippedCount_; }
    // The most lines skipped kept with their reasons; past them, only counted.
    static constexpr std::size_t kSkippedListed = 500;
    // The bytes after the last whole line when the last read ended: a line
    // still being written, left for the next read.
    qint64 unfinished() const { return unfinished_; }

signals:
    // A batch came in: `bytes` of `total` read.
    void progressed(qint64 bytes, qint64 total);
    // The read ended: at the file's end, cancelled, or the file could not be
    // read (`error`).
    void finished(bool cancelled, const QString& error);

private:
    struct Batch;
    // The line a read left unfinished, for the next: its first bytes (all of
    // them, or its first kLongestLine + 2 when it is longer, the rest passed
    // over: `passedOver` of them, so far).
    struct Unfinished {
        QByteArray kept;
        qint64 passedOver = 0;
        bool tooLong = false;
    };
    void run(qint64 from, long long lines, Capture batch, Unfinished rest, bool toTheEnd);
    void take(const std::shared_ptr<Batch>& batch);
    void join();

    QString path_;
    Capture capture_;
    std::vector<Malformed> skipped_;
    long long skippedCount_ = 0;
    qint64 position_ = 0;
    qint64 unfinished_ = 0;
    Unfinished rest_;
    long long lines_ = 0;
    std::thread thread_;
    std::atomic<bool> cancel_{false};
    std::atomic<bool> done_{true};
};

}  // namespace record
