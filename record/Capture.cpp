#include "Capture.h"

#include <algorithm>
#include <limits>

namespace record {

void Capture::append(const Logged& logged)
{
    const Exchange& e = logged.exchange;
    if (e.verdict == Verdict::Acknowledged && e.sent.size() > 2)
        registers_.apply(e.sent[2]);
    Entry entry{logged.tMs,
                logged.time.isValid() ? logged.time.toMSecsSinceEpoch() : kNoTime,
                logged.line,
                static_cast<std::uint32_t>(bytes_.size()),
                static_cast<std::uint8_t>(std::min<std::size_t>(e.sent.size(), 0xFF)),
                static_cast<std::uint8_t>(std::min<std::size_t>(e.received.size(), 0xFF)),
                e.verdict,
                {}};
    for (std::size_t c = 0; c < entry.pwm.size(); ++c)
        entry.pwm[c] = registers_.pwm[c] ? static_cast<std::int8_t>(*registers_.pwm[c]) : kUnknown;
    bytes_.insert(bytes_.end(), e.sent.begin(), e.sent.begin() + entry.sent);
    bytes_.insert(bytes_.end(), e.received.begin(), e.received.begin() + entry.received);
    entries_.push_back(entry);
    counts_.add(e.verdict, command(entries_.size() - 1));
}

Capture Capture::next() const
{
    Capture batch;
    batch.registers_ = registers_;
    return batch;
}

void Capture::reserveLike(const Capture& sample, double times)
{
    entries_.reserve(static_cast<std::size_t>(double(sample.entries_.size()) * times));
    bytes_.reserve(static_cast<std::size_t>(double(sample.bytes_.size()) * times));
}

void Capture::append(Capture&& batch)
{
    const auto shift = static_cast<std::uint32_t>(bytes_.size());
    bytes_.insert(bytes_.end(), batch.bytes_.begin(), batch.bytes_.end());
    // Inserted whole, so the vector grows geometrically as batches come.
    const std::size_t at = entries_.size();
    entries_.insert(entries_.end(), batch.entries_.begin(), batch.entries_.end());
    for (std::size_t i = at; i < entries_.size(); ++i)
        entries_[i].bytesAt += shift;
    registers_ = batch.registers_;
    counts_.add(batch.counts_);
}

std::optional<std::uint8_t> Capture::command(std::size_t i) const
{
    const Entry& e = entries_[i];
    if (e.sent <= 2)
        return std::nullopt;
    return bytes_[e.bytesAt + 2];
}

QDateTime Capture::time(std::size_t i) const
{
    const qint64 ms = entries_[i].wallMs;
    return ms == kNoTime ? QDateTime() : QDateTime::fromMSecsSinceEpoch(ms).toUTC();
}

Levels Capture::levels(std::size_t i) const
{
    Levels levels;
    for (std::size_t c = 0; c < levels.size(); ++c) {
        if (entries_[i].pwm[c] != kUnknown)
            levels[c] = entries_[i].pwm[c];
    }
    return levels;
}

Exchange Capture::exchange(std::size_t i) const
{
    const Entry& e = entries_[i];
    const auto sent = bytes_.begin() + e.bytesAt;
    return {atMs(e.tMs), Bytes(sent, sent + e.sent), Bytes(sent + e.sent, sent + e.sent + e.received),
            e.verdict, levels(i)};
}

std::size_t Capture::firstAtOrAfter(double ms) const
{
    const auto at
        = std::partition_point(entries_.begin(), entries_.end(), [ms](const Entry& e) { return e.tMs < ms; });
    return static_cast<std::size_t>(at - entries_.begin());
}

}  // namespace record
