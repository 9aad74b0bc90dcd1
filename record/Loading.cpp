#include "Loading.h"

#include "Review.h"

#include <QFile>
#include <QFileInfo>
#include <QPointer>

#include <chrono>
#include <cstring>

namespace record {
namespace {

// After the first, which goes at once, a batch goes to the window this often,
// so that later ones cost it little.
constexpr std::chrono::milliseconds kBatchEvery{250};
constexpr qint64 kBlock = 1 << 20;  // bytes read at a time: some 8 000 lines
// The log's lines are some 120 bytes long, the shortest (no reply, no time) 60.
constexpr qint64 kShortestLine = 60;
// Room made for a file's exchanges, over what its first batch suggests.
constexpr double kRoomToSpare = 1.05;
// And no more than for this many (a 2 GB log, some 800 MB held): what a
// sparse file or a log of long lines suggests is no measure of what it holds,
// and past this the capture grows as it is read.
constexpr double kMostRoom = 1 << 24;

// A block's lines parsed, numbered from 1 within it.
struct Parsed {
    std::vector<Logged> logged;
    std::vector<Malformed> skipped;  // the first Loading::kSkippedListed
    long long skippedCount = 0;
    long long lines = 0;
};

Parsed parseBlock(const QByteArray& block)
{
    Parsed parsed;
    parsed.logged.reserve(static_cast<std::size_t>(block.size() / kShortestLine));
    LogReader reader([&parsed](Logged&& l) { parsed.logged.push_back(std::move(l)); },
                     [&parsed](Malformed&& m) {
                         if (parsed.skipped.size() < Loading::kSkippedListed)
                             parsed.skipped.push_back(std::move(m));
                         ++parsed.skippedCount;
                     });
    reader.readLines(block, true);
    parsed.lines = reader.lines();
    return parsed;
}

}  // namespace

struct Loading::Batch {
    Capture capture;
    std::vector<Malformed> skipped;  // the first Loading::kSkippedListed
    long long skippedCount = 0;
    qint64 position = 0;
    long long lines = 0;
    qint64 total = 0;
    Unfinished rest;
    bool last = false;
    bool cancelled = false;
    QString error;
};

Loading::Loading(const QString& path, QObject* parent) : QObject(parent), path_(path) {}

Loading::~Loading()
{
    cancel_ = true;
    join();
}

void Loading::join()
{
    if (thread_.joinable())
        thread_.join();
}

void Loading::read(bool toTheEnd)
{
    if (!done_)
        return;
    join();
    cancel_ = false;
    done_ = false;
    thread_ = std::thread(&Loading::run, this, position_, lines_, capture_.next(), rest_, toTheEnd);
}

// On the reading thread: everything it touches is its own until handed
// over. The file is read in blocks of whole lines, two at a time, the second
// parsed on a thread of its own (parsing is nearly all the cost), then both
// are added in file order. A line longer than a line may be is kept to its
// first kLongestLine + 2 bytes (the reader skips it as too long) and the rest
// of it passed over as it is read, so a block stays near kBlock bytes
// whatever the file holds.
void Loading::run(qint64 from, long long lines, Capture first, Unfinished rest, bool toTheEnd)
{
    auto batch = std::make_shared<Batch>();
    batch->capture = std::move(first);
    batch->position = from;
    batch->lines = lines;
    const auto handOver = [this](const std::shared_ptr<Batch>& b) {
        const auto takeIt = [this, b] { take(b); };
        QMetaObject::invokeMethod(this, takeIt, Qt::QueuedConnection);
    };
    QFile file(path_);
    // A pipe would hold the open until a writer comes, a device never ends:
    // a log is a regular file, and nothing else is opened.
    const QFileInfo info(path_);
    const bool regular = !info.exists() || info.isFile();
    if (!regular || !file.open(QIODevice::ReadOnly)
        || !file.seek(from + rest.kept.size() + rest.passedOver)) {
        batch->error = regular ? file.errorString() : notARegularFile();
        batch->last = true;
        handOver(batch);
        return;
    }
    batch->total = file.size();
    auto due = std::chrono::steady_clock::now();   // the first lines show at once
    constexpr qsizetype kKept = kLongestLine + 2;  // too long even once a Windows line end is cut
    // The next block of whole lines and the file's bytes they took (more than
    // the block's own when a line was passed over); empty at the end, once
    // cancelled, or with `more` after each stretch of a line passed over, so
    // that the lines before it show and Cancel is heard. A last line with no
    // newline yet stays in `rest` unless `toTheEnd`.
    struct Block {
        QByteArray lines;
        qint64 bytes = 0;
        bool more = false;
    };
    const auto nextBlock = [&]() -> Block {
        QByteArray block = std::exchange(rest.kept, {});
        qint64 passedOver = std::exchange(rest.passedOver, 0);
        for (;;) {
            if (cancel_)
                return {};
            // Read straight into the block, after what is there.
            const qsizetype had = block.size();
            block.resize(had + kBlock);
            const qint64 got = std::max<qint64>(0, file.read(block.data() + had, kBlock));
            block.truncate(had + got);
            if (got == 0)
                break;
            const auto* newline
                = static_cast<const char*>(std::memchr(block.constData() + had, '\n', std::size_t(got)));
            if (rest.tooLong) {
                // Passing over the line's rest: what comes after its newline stays.
                const qsizetype over = newline ? newline - (block.constData() + had) : got;
                block.remove(had, over);
                passedOver += over;
                if (!newline) {
                    rest.kept = std::move(block);
                    rest.passedOver = passedOver;
                    return {{}, 0, true};
                }
                rest.tooLong = false;
                break;
            }
            if (newline)
                break;
            const qsizetype lineStart = block.lastIndexOf('\n') + 1;
            if (block.size() - lineStart > kKept) {
                passedOver += block.size() - (lineStart + kKept);
                block.truncate(lineStart + kKept);
                rest.tooLong = true;
            }
        }
        if (toTheEnd && file.atEnd()) {
            rest.tooLong = false;
            return {block, block.size() + passedOver, false};
        }
        const qsizetype end = block.lastIndexOf('\n') + 1;
        rest.kept = block.mid(end);
        block.truncate(end);
        if (rest.tooLong) {
            rest.passedOver = passedOver;  // the unfinished line's
            passedOver = 0;
        }
        return {block, end + passedOver, false};
    };
    for (;;) {
        const Block first = nextBlock();
        const Block second = first.lines.isEmpty() ? Block{} : nextBlock();
        if (cancel_) {
            batch->cancelled = true;
            break;
        }
        if (first.lines.isEmpty() && !first.more)
            break;
        Parsed parsed[2];
        std::thread helper([&parsed, &second] { parsed[1] = parseBlock(second.lines); });
        parsed[0] = parseBlock(first.lines);
        helper.join();
        for (std::size_t b = 0; b < 2; ++b) {
            for (Logged& logged : parsed[b].logged) {
                logged.line += batch->lines;
                batch->capture.append(logged);
            }
            for (Malformed& malformed : parsed[b].skipped) {
                if (batch->skipped.size() == kSkippedListed)
                    break;
                malformed.line += batch->lines;
                batch->skipped.push_back(std::move(malformed));
            }
            batch->skippedCount += parsed[b].skippedCount;
            batch->lines += parsed[b].lines;
        }
        batch->position += first.bytes + second.bytes;
        batch->rest = rest;
        if (std::chrono::steady_clock::now() >= due) {
            auto next = std::make_shared<Batch>();
            next->capture = batch->capture.next();
            next->position = batch->position;
            next->lines = batch->lines;
            next->total = batch->total;
            next->rest = rest;
            handOver(std::exchange(batch, next));
            due = std::chrono::steady_clock::now() + kBatchEvery;
        }
    }
    batch->rest = rest;
    batch->total = std::max(batch->total, file.size());
    batch->last = true;
    handOver(batch);
}

void Loading::take(const std::shared_ptr<Batch>& batch)
{
    // Once cancelled, what the thread read on but the window had not taken yet
    // is let go: the capture ends where it stood when the read was cancelled,
    // and a later read goes on from there.
    const bool cancelled = cancel_ || batch->cancelled;
    if (!cancel_) {
        if (capture_.empty() && batch->position > position_ && batch->total > batch->position) {
            // The rest of the file is likely as dense as its start: room for it
            // all at once, rather than the whole capture copied at each doubling.
            const double more = double(batch->total - position_) / double(batch->position - position_);
            const double most = kMostRoom / double(std::max<std::size_t>(1, batch->capture.size()));
            capture_.reserveLike(batch->capture, std::min(more * kRoomToSpare, most));
        }
        capture_.append(std::move(batch->capture));
        const std::size_t room = kSkippedListed - std::min(kSkippedListed, skipped_.size());
        skipped_.insert(skipped_.end(), batch->skipped.begin(),
                        batch->skipped.begin() + std::ptrdiff_t(std::min(room, batch->skipped.size())));
        skippedCount_ += batch->skippedCount;
        position_ = batch->position;
        rest_ = batch->rest;
        lines_ = batch->lines;
    } else if (!batch->last) {
        return;
    }
    if (batch->last) {
        unfinished_ = std::max<qint64>(0, batch->total - position_);
        done_ = true;
        join();
    }
    emit progressed(position_, batch->total);
    if (batch->last)
        emit finished(cancelled, batch->error);
}

}  // namespace record
