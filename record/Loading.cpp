#include "Loading.h"

#include <QBuffer>
#include <QFile>
#include <QPointer>

#include <chrono>

namespace record {
namespace {

// A batch goes to the window this often, so the first lines show at once and
// later ones cost it little.
constexpr std::chrono::milliseconds kBatchEvery{250};
constexpr qint64 kBlock = 1 << 20;  // bytes read at a time: some 8 000 lines

// A block's lines parsed, numbered from 1 within it.
struct Parsed {
    std::vector<Logged> logged;
    std::vector<Malformed> skipped;
    long long lines = 0;
};

Parsed parseBlock(const QByteArray& block)
{
    Parsed parsed;
    if (block.isEmpty())
        return parsed;
    QBuffer buffer;
    buffer.setData(block);
    buffer.open(QIODevice::ReadOnly);
    LogReader reader([&parsed](Logged&& l) { parsed.logged.push_back(std::move(l)); },
                     [&parsed](Malformed&& m) { parsed.skipped.push_back(std::move(m)); });
    reader.read(buffer, true);
    parsed.lines = reader.lines();
    return parsed;
}

}  // namespace

struct Loading::Batch {
    Capture capture;
    std::vector<Malformed> skipped;
    qint64 position = 0;
    long long lines = 0;
    qint64 total = 0;
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
    thread_ = std::thread(&Loading::run, this, position_, lines_, capture_.next(), toTheEnd);
}

// On the reading thread: everything it touches is its own until handed
// over. The file is read in blocks of whole lines, two at a time, the second
// parsed on a thread of its own (parsing is nearly all the cost), then both
// are added in file order.
void Loading::run(qint64 from, long long lines, Capture first, bool toTheEnd)
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
    if (!file.open(QIODevice::ReadOnly) || !file.seek(from)) {
        batch->error = file.errorString();
        batch->last = true;
        handOver(batch);
        return;
    }
    batch->total = file.size();
    auto due = std::chrono::steady_clock::now() + kBatchEvery;
    QByteArray rest;  // what follows the last whole line read
    // The next block of whole lines; empty at the end. A last line with no
    // newline yet stays in `rest` unless `toTheEnd`.
    const auto nextBlock = [&] {
        QByteArray block = std::exchange(rest, {});
        for (;;) {
            const QByteArray more = file.read(kBlock);
            block += more;
            if (more.isEmpty() || more.contains('\n'))
                break;
        }
        if (toTheEnd && file.atEnd())
            return block;
        const qsizetype end = block.lastIndexOf('\n') + 1;
        rest = block.mid(end);
        block.truncate(end);
        return block;
    };
    for (;;) {
        if (cancel_) {
            batch->cancelled = true;
            break;
        }
        const QByteArray first = nextBlock();
        if (first.isEmpty())
            break;
        const QByteArray second = nextBlock();
        Parsed parsed[2];
        std::thread helper([&parsed, &second] { parsed[1] = parseBlock(second); });
        parsed[0] = parseBlock(first);
        helper.join();
        for (std::size_t b = 0; b < 2; ++b) {
            for (Logged& logged : parsed[b].logged) {
                logged.line += batch->lines;
                batch->capture.append(logged);
            }
            for (Malformed& malformed : parsed[b].skipped) {
                malformed.line += batch->lines;
                batch->skipped.push_back(std::move(malformed));
            }
            batch->lines += parsed[b].lines;
            batch->position += (b == 0 ? first : second).size();
        }
        if (std::chrono::steady_clock::now() >= due) {
            auto next = std::make_shared<Batch>();
            next->capture = batch->capture.next();
            next->position = batch->position;
            next->lines = batch->lines;
            next->total = batch->total;
            handOver(std::exchange(batch, next));
            due = std::chrono::steady_clock::now() + kBatchEvery;
        }
    }
    batch->total = std::max(batch->total, file.size());
    batch->last = true;
    handOver(batch);
}

void Loading::take(const std::shared_ptr<Batch>& batch)
{
    capture_.append(std::move(batch->capture));
    skipped_.insert(skipped_.end(), batch->skipped.begin(), batch->skipped.end());
    position_ = batch->position;
    lines_ = batch->lines;
    if (batch->last) {
        unfinished_ = std::max<qint64>(0, batch->total - position_);
        done_ = true;
        join();
    }
    emit progressed(position_, batch->total);
    if (batch->last)
        emit finished(batch->cancelled, batch->error);
}

}  // namespace record
