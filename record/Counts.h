#pragma once
// How many exchanges came to each verdict, kept by command byte, so that the
// counts of what any filter shows (record::Filter, Trace.h) come from them at
// once, without going over the exchanges again: the live record's counts take
// in the exchanges it has dropped, a review's the whole file.

#include "BridgeLink.h"

#include <array>
#include <cstdint>
#include <optional>

namespace record {

struct Filter;

// Every bridge::Verdict, in its order: the one list of them.
inline constexpr std::array kAllVerdicts{bridge::Verdict::Acknowledged, bridge::Verdict::NotAcknowledged,
                                         bridge::Verdict::NoAnswer, bridge::Verdict::BridgeLost,
                                         bridge::Verdict::Stray};
inline constexpr std::size_t kVerdicts = kAllVerdicts.size();
// A count for each bridge::Verdict, indexed by it.
using VerdictCounts = std::array<long long, kVerdicts>;

class Counts {
public:
    void add(bridge::Verdict verdict, std::optional<std::uint8_t> command);
    void add(const Counts& more);
    // Every exchange of `verdict`.
    long long of(bridge::Verdict verdict) const { return all_[static_cast<std::size_t>(verdict)]; }
    // Those `filter` shows, by verdict.
    VerdictCounts shown(const Filter& filter) const;

private:
    static constexpr std::size_t kNoCommand = 256;  // a report too short to carry one
    std::array<VerdictCounts, kNoCommand + 1> byCommand_{};
    VerdictCounts all_{};
};

}  // namespace record
