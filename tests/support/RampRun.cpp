#include "RampRun.h"

#include <array>
#include <string>

namespace testing_support {
namespace {

constexpr int kChannels = 3;

int channelOf(int command) { return (command >> 5) - 2; }  // 0x40, 0x60, 0x80
int levelOf(int command) { return command & 0x1F; }

}  // namespace

testing::AssertionResult playedAsAnyRunMay(sequences::Sequence sequence, const std::vector<int>& commands)
{
    if (commands.size() < 3 || commands[0] != 0x40 || commands[1] != 0x60 || commands[2] != 0x80)
        return testing::AssertionFailure() << "the zeros 40 60 80 do not come first";
    std::array<std::vector<int>, kChannels> levels;
    for (const int command : commands) {
        const int channel = channelOf(command);
        if (channel < 0 || channel >= kChannels)
            return testing::AssertionFailure() << "not a PWM command: " << command;
        levels[static_cast<std::size_t>(channel)].push_back(levelOf(command));
    }
    const int played = static_cast<int>(sequence) + 1;  // SEQ#1 plays LED1, SEQ#2 LED1 and 2, ...
    for (int channel = 0; channel < kChannels; ++channel) {
        const std::vector<int>& l = levels[static_cast<std::size_t>(channel)];
        const std::string led = "LED" + std::to_string(channel + 1);
        for (std::size_t i = 1; i < l.size(); ++i) {
            if (l[i] != l[i - 1] + 1 && l[i] != 1)
                return testing::AssertionFailure() << led << " went from " << l[i - 1] << " to " << l[i];
        }
        const int last = channel < played ? sequences::kLastStep : 0;
        if (l.back() != last)
            return testing::AssertionFailure() << led << " ended at " << l.back() << ", not " << last;
        const bool onlyRamp = channel == played - 1;
        if (onlyRamp && l.size() != static_cast<std::size_t>(sequences::kLastStep) + 1)
            return testing::AssertionFailure()
                << led << " was sent " << l.size() - 1 << " levels, not one ramp";
    }
    return testing::AssertionSuccess();
}

testing::AssertionResult noFirstRampStepEarly(const virtualboard::VirtualBridge& bridge,
                                              std::chrono::milliseconds interval)
{
    // A millisecond for the clocks' granularity.
    constexpr auto kGrain = std::chrono::milliseconds(1);
    std::chrono::steady_clock::time_point zeros{};
    std::array<int, kChannels> previous{-1, -1, -1};
    std::array<bool, kChannels> first{true, true, true};
    for (std::size_t i = 0; i < bridge.written().size(); ++i) {
        const int command = bridge.written()[i].at(2);
        const auto channel = static_cast<std::size_t>(channelOf(command));
        if (channel >= kChannels)
            continue;
        const int level = levelOf(command);
        const auto at = bridge.writtenAt()[i];
        if (level == 0) {
            zeros = at;
        } else if (level != previous[channel] + 1) {
            first[channel] = false;  // begun afresh by a hand-over
        } else if (first[channel] && at - zeros < level * interval - kGrain) {
            return testing::AssertionFailure()
                << "LED" << channel + 1 << " stepped to " << level << " after "
                << std::chrono::duration<double, std::milli>(at - zeros).count() << " ms";
        }
        previous[channel] = level;
    }
    return testing::AssertionSuccess();
}

}  // namespace testing_support
