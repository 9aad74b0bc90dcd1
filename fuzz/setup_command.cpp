// setupCommand and generalNumber on any control, position, number and
// separator: the byte keeps its register code and the position clamped to
// 0..30, the texts agree with the byte, and nothing overflows.

#include "Commands.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#define check(condition) ((condition) ? void() : broken(#condition, __LINE__))

namespace {

[[noreturn]] void broken(const char* what, int line)
{
    std::fprintf(stderr, "invariant broken at line %d: %s\n", line, what);
    std::abort();
}

constexpr std::uint8_t kBases[]
    = {driver::kPeakCurrent, driver::kPwmLed1,  driver::kPwmLed2, driver::kPwmLed3,
       driver::kIledUp,      driver::kIledDown, driver::kGdStart};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider in(data, size);
    const auto index = in.ConsumeIntegralInRange<int>(0, 6);
    const auto control = static_cast<driver::SetupControl>(index);
    const int position = in.ConsumeIntegral<int>();
    const QChar separator(in.ConsumeIntegral<char16_t>());
    const double number = in.ConsumeFloatingPoint<double>();

    const driver::SetupCommand command = driver::setupCommand(control, position, separator);
    const int clamped = std::clamp(position, 0, driver::kMaxPosition);
    const std::uint8_t expected = (control == driver::SetupControl::IledPeak && clamped == 0)
        ? driver::kPeakCurrentOff
        : static_cast<std::uint8_t>(kBases[index] + clamped);
    check(command.byte == expected);
    check(command.description.endsWith(QLatin1Char('$') + driver::hexByte(command.byte)));
    check(!command.value.isEmpty() && command.value.size() < 32);
    check(command.value == driver::setupCommand(control, clamped, separator).value);

    const QString text = driver::generalNumber(number, separator);
    check(!text.isEmpty());
    if (separator != QLatin1Char('.'))
        check(!text.contains(QLatin1Char('.')));
    return 0;
}
