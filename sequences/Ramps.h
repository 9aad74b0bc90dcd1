#pragma once
// The three ramp sequences: each ramp timer steps one LED channel's PWM level
// from 1 to 31, one step per tick; "Run Sequence" starts the selected sequence
// and the timers hand over to one another as it plays.

#include "Commands.h"
#include "Timer.h"

#include <cstdint>
#include <functional>

namespace sequences {

inline constexpr int kLastStep = driver::kValueMax;  // a ramp sends 1, 2, ..., 31

enum class Sequence { Seq1, Seq2, Seq3 };

class Ramps {
public:
    struct Wiring {
        toolkit::Timer& timerA;                  // PWM LED1
        toolkit::Timer& timerB;                  // PWM LED2
        toolkit::Timer& timerC;                  // PWM LED3
        std::function<bool()> running;           // "Run Sequence" is ticked
        std::function<Sequence()> selected;      // the chosen SEQ radio button
        std::function<void(std::uint8_t)> send;  // one driver command byte
    };

    explicit Ramps(Wiring wiring) : w_(std::move(wiring)) {}

    // "Run Sequence" clicked: sets the three PWM levels to 0 and starts the
    // selected sequence's timers (a ramp idles while it is unticked).
    void start();
    // One tick of ramp A (PWM LED1), B (PWM LED2) or C (PWM LED3): the next
    // step of that channel, and the hand-over when it reaches the last.
    void tickA();
    void tickB();
    void tickC();

private:
    void step(toolkit::Timer& timer, std::uint8_t base);
    static void restart(toolkit::Timer& timer);

    Wiring w_;
};

}  // namespace sequences
