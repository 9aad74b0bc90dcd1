#pragma once
// The virtual chip's record of what it was sent and when: every exchange the
// bridge had, its verdict and the three PWM levels the chip drove after it.
// Bounded, as the board window's trace is: the oldest go first, and the
// levels they left behind are kept, so the record still says what the chip
// drove before its oldest entry.

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>

namespace virtualboard {

enum class Verdict { Acknowledged, NotAcknowledged, NoAnswer };

using Levels = std::array<int, 3>;  // PWM LED1, LED2, LED3 (0..31)

struct Exchange {
    std::chrono::steady_clock::time_point at;
    Verdict verdict = Verdict::NoAnswer;
    std::uint8_t command = 0;  // the command byte (0 for a report too short to hold one)
    Levels pwm{};              // the chip's PWM levels once the command was taken, or not
};

class History {
public:
    static constexpr std::size_t kKept = 4096;

    void add(const Exchange& exchange);
    void clear();

    // Oldest first.
    const std::deque<Exchange>& exchanges() const { return exchanges_; }
    // The levels before the oldest exchange kept: the chip's at power-up
    // until the record first drops one.
    const Levels& levelsBefore() const { return levelsBefore_; }

private:
    std::deque<Exchange> exchanges_;
    Levels levelsBefore_{};
};

}  // namespace virtualboard
