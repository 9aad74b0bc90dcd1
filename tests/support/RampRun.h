#pragma once
// What a ramp sequence played to its end guarantees whatever the order in
// which timers that share an interval tick within a period, and however late
// a busy machine delivers their ticks. Real-timer tests check only this; the
// exact interleaving is tested with ticks delivered by hand.

#include "Ramps.h"
#include "VirtualBridge.h"

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

namespace testing_support {

// Holds when the command bytes of one run of `sequence`, from its click to
// the end, show:
// - the three zeros first: 0x40, 0x60, 0x80;
// - on each channel, every later level one more than the one before it, or 1
//   (a ramp begun afresh by a hand-over), never above 31;
// - each channel the sequence plays ending at 31, the others at their zero;
// - exactly one ramp on the channel whose timer nothing restarts: LED1 in
//   SEQ#1, LED2 in SEQ#2, LED3 in SEQ#3.
testing::AssertionResult playedAsAnyRunMay(sequences::Sequence sequence, const std::vector<int>& commands);

// Holds when no channel's first ramp stepped early: a timer started after the
// click's zeros ticks for the k-th time k intervals later at the soonest, so
// level L of a first ramp is written no sooner than L intervals after the
// last zero. (Later ramps start at a hand-over inside a running period.)
testing::AssertionResult noFirstRampStepEarly(const virtualboard::VirtualBridge& bridge,
                                              std::chrono::milliseconds interval);

}  // namespace testing_support
