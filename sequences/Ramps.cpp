#include "Ramps.h"

#include "Commands.h"
#include "Tag.h"

namespace sequences {

using toolkit::setTag;
using toolkit::tag;

// The ramp step lives in the timer's tag.
void Ramps::step(toolkit::Timer& timer, std::uint8_t base)
{
    setTag(timer, tag(timer) + 1);
    w_.send(static_cast<std::uint8_t>(base + tag(timer)));
}

void Ramps::restart(toolkit::Timer& timer)
{
    setTag(timer, 0);
    timer.setEnabled(true);
}

void Ramps::start()
{
    w_.send(driver::kPwmLed1);
    w_.send(driver::kPwmLed2);
    w_.send(driver::kPwmLed3);

    // TimerSEQA is started first, then TimerSEQB, then TimerSEQC: where two
    // of them share an interval, the earlier started ticks first in each
    // period, so TimerSEQA has stopped itself before a hand-over starts it
    // afresh, and never steps again in the same instant.
    switch (w_.selected()) {
    case Sequence::Seq1:
        restart(w_.timerA);
        w_.timerB.setEnabled(false);
        w_.timerC.setEnabled(false);
        break;
    case Sequence::Seq2:
        w_.timerA.setEnabled(true);
        restart(w_.timerB);
        w_.timerC.setEnabled(false);
        break;
    case Sequence::Seq3:
        w_.timerA.setEnabled(true);
        w_.timerB.setEnabled(true);
        restart(w_.timerC);
        break;
    }
}

void Ramps::tickA()
{
    if (tag(w_.timerA) < kLastStep && w_.running())
        step(w_.timerA, driver::kPwmLed1);
    else
        w_.timerA.setEnabled(false);
}

void Ramps::tickB()
{
    if (!w_.running())
        return;  // idles until the next click
    if (tag(w_.timerB) < kLastStep) {
        step(w_.timerB, driver::kPwmLed2);
    } else if (tag(w_.timerB) == kLastStep) {
        w_.timerB.setEnabled(false);
        restart(w_.timerA);
        step(w_.timerA, driver::kPwmLed1);
    }
}

void Ramps::tickC()
{
    if (!w_.running())
        return;  // idles until the next click
    if (tag(w_.timerC) < kLastStep) {
        step(w_.timerC, driver::kPwmLed3);
    } else if (tag(w_.timerC) == kLastStep) {
        w_.timerC.setEnabled(false);
        restart(w_.timerA);
        restart(w_.timerB);
        step(w_.timerA, driver::kPwmLed1);
        step(w_.timerB, driver::kPwmLed2);
    }
}

}  // namespace sequences
