#pragma once
// What a trace reads: the live record of the bridge's traffic (the newest
// kKept exchanges, the oldest dropped as new ones come), or a whole file read
// back for review (record::Capture). Exchanges are numbered from the first
// since the start or the last clear, so a view can stay on an exchange while
// older ones are dropped.

#include "Capture.h"
#include "Record.h"

#include <QDateTime>

#include <cstdint>
#include <optional>

namespace monitor {

class TraceSource {
public:
    virtual ~TraceSource() = default;
    virtual std::size_t size() const = 0;
    // The number of the exchange at index 0.
    virtual std::uint64_t firstNumber() const = 0;
    virtual record::Exchange exchange(std::size_t i) const = 0;
    // Milliseconds since the start (t_ms), and the time of day (invalid when unknown).
    virtual double tMs(std::size_t i) const = 0;
    virtual QDateTime time(std::size_t i) const = 0;
    virtual record::Verdict verdict(std::size_t i) const = 0;
    virtual std::optional<std::uint8_t> command(std::size_t i) const = 0;
};

class RecordSource final : public TraceSource {
public:
    explicit RecordSource(const record::Record& record) : record_(record) {}
    std::size_t size() const override { return record_.exchanges().size(); }
    std::uint64_t firstNumber() const override;
    record::Exchange exchange(std::size_t i) const override { return record_.exchanges()[i]; }
    double tMs(std::size_t i) const override;
    QDateTime time(std::size_t i) const override { return record_.exchanges()[i].time; }
    record::Verdict verdict(std::size_t i) const override { return record_.exchanges()[i].verdict; }
    std::optional<std::uint8_t> command(std::size_t i) const override;

private:
    const record::Record& record_;
};

class CaptureSource final : public TraceSource {
public:
    explicit CaptureSource(const record::Capture& capture) : capture_(capture) {}
    std::size_t size() const override { return capture_.size(); }
    std::uint64_t firstNumber() const override { return 0; }
    record::Exchange exchange(std::size_t i) const override { return capture_.exchange(i); }
    double tMs(std::size_t i) const override { return capture_.tMs(i); }
    QDateTime time(std::size_t i) const override { return capture_.time(i); }
    record::Verdict verdict(std::size_t i) const override { return capture_.verdict(i); }
    std::optional<std::uint8_t> command(std::size_t i) const override { return capture_.command(i); }

private:
    const record::Capture& capture_;
};

}  // namespace monitor
