#pragma once
// A whole log or saved record held for review: every exchange read back,
// kept compactly (some 40 bytes each, so a million lines take about 40 MB
// rather than the file's size), with the PWM levels the acknowledged commands
// had set after each, for the chart. Filled in file order, one batch at a
// time, by whoever reads the file.

#include "Review.h"

#include <array>
#include <cstdint>
#include <limits>
#include <vector>

namespace record {

class Capture {
public:
    // Appends an exchange read back; its levels follow from the ones before.
    void append(const Logged& logged);
    // Appends a batch read on after this one (its levels already carried on).
    void append(Capture&& batch);
    // A batch that carries on after this capture's levels.
    Capture next() const;
    // Makes room for `times` as many exchanges as `sample` holds, and their bytes.
    void reserveLike(const Capture& sample, double times);

    std::size_t size() const { return entries_.size(); }
    // The exchanges of each verdict, by command byte.
    const Counts& counts() const { return counts_; }
    bool empty() const { return entries_.empty(); }

    double tMs(std::size_t i) const { return entries_[i].tMs; }
    long long line(std::size_t i) const { return entries_[i].line; }
    Verdict verdict(std::size_t i) const { return entries_[i].verdict; }
    std::optional<std::uint8_t> command(std::size_t i) const;
    // The time of day it happened; invalid when the line had none.
    QDateTime time(std::size_t i) const;
    // PWM LED1..3 once it was judged.
    Levels levels(std::size_t i) const;
    // The same as numbers, -1 while unknown: what the chart reads, fast.
    const std::array<std::int8_t, 3>& pwm(std::size_t i) const { return entries_[i].pwm; }
    // The exchange as the record would hold it: `at` is t_ms after the
    // steady clock's epoch (record::atMs), `pwm` its levels.
    Exchange exchange(std::size_t i) const;

    // The first exchange at or after `ms`.
    std::size_t firstAtOrAfter(double ms) const;

private:
    static constexpr qint64 kNoTime = std::numeric_limits<qint64>::min();
    static constexpr std::int8_t kUnknown = -1;
    struct Entry {
        double tMs;
        qint64 wallMs;  // ms since the epoch, UTC; kNoTime when the line had none
        long long line;
        std::uint32_t bytesAt;  // where sent and received start in bytes_
        std::uint8_t sent, received;
        Verdict verdict;
        std::array<std::int8_t, 3> pwm;
    };

    std::vector<Entry> entries_;
    std::vector<std::uint8_t> bytes_;
    Registers registers_;
    Counts counts_;
};

}  // namespace record
