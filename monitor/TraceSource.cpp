#include "TraceSource.h"

#include "Trace.h"

#include <chrono>

namespace monitor {

std::uint64_t RecordSource::firstNumber() const
{
    long long all = 0;
    for (const record::Verdict v : record::kAllVerdicts)
        all += record_.count(v);
    return static_cast<std::uint64_t>(all) - record_.exchanges().size();
}

double RecordSource::tMs(std::size_t i) const
{
    return std::chrono::duration<double, std::milli>(record_.exchanges()[i].at - record_.origin()).count();
}

std::optional<std::uint8_t> RecordSource::command(std::size_t i) const
{
    return record::commandOf(record_.exchanges()[i]);
}

}  // namespace monitor
