#pragma once
// Ctrl-C, caught while a guard lives: a ramp and the server look for it
// between their steps.

#include <csignal>

namespace cli {

inline volatile std::sig_atomic_t interrupted = 0;

extern "C" inline void onInterrupt(int) { interrupted = 1; }

// Catches Ctrl-C while it lives; the previous handling comes back after.
class InterruptGuard {
public:
    InterruptGuard()
    {
        interrupted = 0;
        previous_ = std::signal(SIGINT, onInterrupt);
    }
    ~InterruptGuard() { std::signal(SIGINT, previous_); }
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;

    bool raised() const { return interrupted != 0; }

private:
    void (*previous_)(int) = SIG_DFL;
};

}  // namespace cli
