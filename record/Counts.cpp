#include "Counts.h"

#include "Trace.h"

namespace record {

void Counts::add(bridge::Verdict verdict, std::optional<std::uint8_t> command)
{
    const auto v = static_cast<std::size_t>(verdict);
    ++byCommand_[command ? *command : kNoCommand][v];
    ++all_[v];
}

void Counts::add(const Counts& more)
{
    for (std::size_t c = 0; c < byCommand_.size(); ++c) {
        for (std::size_t v = 0; v < kVerdicts; ++v)
            byCommand_[c][v] += more.byCommand_[c][v];
    }
    for (std::size_t v = 0; v < kVerdicts; ++v)
        all_[v] += more.all_[v];
}

VerdictCounts Counts::shown(const Filter& filter) const
{
    VerdictCounts shown{};
    for (std::size_t c = 0; c < byCommand_.size(); ++c) {
        const auto command = c == kNoCommand ? std::nullopt : std::optional(static_cast<std::uint8_t>(c));
        for (std::size_t v = 0; v < kVerdicts; ++v) {
            if (byCommand_[c][v] != 0 && filter.accepts(static_cast<bridge::Verdict>(v), command))
                shown[v] += byCommand_[c][v];
        }
    }
    return shown;
}

}  // namespace record
