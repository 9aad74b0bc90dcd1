// The ramp sequences: the exact bytes each tick sends, the hand-overs between
// timers, and a real run through the event loop.

#include "EventLoop.h"
#include "Focus.h"
#include "Panel.h"
#include "RampRun.h"
#include "Ramps.h"
#include "Tag.h"
#include "Timer.h"
#include "TrackBar.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <random>
#include <set>

using namespace std::chrono_literals;
using sequences::Ramps;
using sequences::Sequence;
using testing_support::commands;
using testing_support::Panel;

namespace {

// The ramps wired to three stopped timers, a check box state, a radio choice
// and a record of what was sent. Ticks are delivered by hand.
struct Rig {
    toolkit::Timer a{50ms, false}, b{50ms, false}, c{50ms, false};
    bool running = false;
    Sequence selected = Sequence::Seq1;
    std::vector<int> sent;
    Ramps ramps{{a, b, c, [this] { return running; }, [this] { return selected; },
                 [this](std::uint8_t byte) { sent.push_back(byte); }}};

    void click()
    {
        running = !running;
        ramps.start();
    }
    // One period: every timer running at its start ticks once, in the order
    // given (0 = A, 1 = B, 2 = C; A, B, C unless said), unless stopped before
    // its turn. A timer started afresh during the period ticks a whole
    // interval later, in the next one.
    std::function<bool()> skip = [] { return false; };
    void period(std::array<int, 3> order = {0, 1, 2})
    {
        toolkit::Timer* timers[] = {&a, &b, &c};
        const bool wasRunning[] = {a.enabled(), b.enabled(), c.enabled()};
        const std::function<void()> ticks[]
            = {[this] { ramps.tickA(); }, [this] { ramps.tickB(); }, [this] { ramps.tickC(); }};
        for (const int t : order) {
            if (wasRunning[t] && timers[t]->enabled() && !skip())
                ticks[t]();
        }
    }
    int playToEnd(const std::function<std::array<int, 3>()>& order = [] { return std::array{0, 1, 2}; })
    {
        int periods = 0;
        while ((a.enabled() || b.enabled() || c.enabled()) && periods < 1000) {
            period(order());
            ++periods;
        }
        return periods;
    }
    std::vector<bool> enabled() const { return {a.enabled(), b.enabled(), c.enabled()}; }
};

std::vector<int> ramp(int base, int from = 1, int to = 31)
{
    std::vector<int> bytes;
    for (int v = from; v <= to; ++v)
        bytes.push_back(base + v);
    return bytes;
}

std::vector<int> operator+(std::vector<int> a, const std::vector<int>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const std::vector<int> kZeros{0x40, 0x60, 0x80};

}  // namespace

TEST(Ramps, Seq1RampsLed1InThirtyOneStepsThenStops)
{
    Rig rig;
    rig.click();
    EXPECT_EQ(rig.enabled(), std::vector<bool>({true, false, false}));
    for (int i = 0; i < 31; ++i)
        rig.period();
    EXPECT_EQ(rig.sent, kZeros + ramp(0x40));
    EXPECT_TRUE(rig.a.enabled()) << "stops only at the tick after its last step";
    rig.period();
    EXPECT_FALSE(rig.a.enabled());
    EXPECT_EQ(rig.sent.size(), 34u);
    EXPECT_EQ(toolkit::tag(rig.a), 31);
}

TEST(Ramps, Seq2HandsOverToLed1InTheSameTick)
{
    Rig rig;
    rig.selected = Sequence::Seq2;
    rig.click();
    EXPECT_EQ(rig.enabled(), std::vector<bool>({true, true, false}));
    for (int i = 0; i < 31; ++i)
        rig.period();
    std::vector<int> together;
    for (int v = 1; v <= 31; ++v)
        together = together + std::vector<int>{0x40 + v, 0x60 + v};
    EXPECT_EQ(rig.sent, kZeros + together);

    rig.sent.clear();
    rig.period();  // A stops; B hands over and LED1 starts again at once
    EXPECT_EQ(rig.sent, std::vector<int>({0x41}));
    EXPECT_EQ(rig.enabled(), std::vector<bool>({true, false, false}));

    rig.playToEnd();
    EXPECT_EQ(rig.sent, ramp(0x40));
    EXPECT_EQ(rig.enabled(), std::vector<bool>({false, false, false}));
}

TEST(Ramps, ASecondSeq2RunSkipsTheFirstLed1Ramp)
{
    Rig rig;
    rig.selected = Sequence::Seq2;
    rig.click();
    rig.playToEnd();
    rig.click();  // untick
    rig.click();  // tick again
    rig.sent.clear();
    rig.playToEnd();
    // LED1's step count still stands at 31, so its timer stops at its first
    // tick while LED2 ramps; then LED2 hands over to LED1.
    EXPECT_EQ(rig.sent, ramp(0x60) + ramp(0x40));
}

TEST(Ramps, Seq3PlaysAllThreeAndChainsUntilEverythingStops)
{
    Rig rig;
    rig.selected = Sequence::Seq3;
    rig.click();
    EXPECT_EQ(rig.enabled(), std::vector<bool>({true, true, true}));
    rig.playToEnd();

    std::vector<int> expected = kZeros;
    for (int v = 1; v <= 31; ++v)
        expected = expected + std::vector<int>{0x40 + v, 0x60 + v, 0x80 + v};
    expected = expected + std::vector<int>{0x41, 0x41, 0x61};  // B, then C hand over
    for (int v = 2; v <= 31; ++v)
        expected = expected + std::vector<int>{0x40 + v, 0x60 + v};
    expected = expected + ramp(0x40);  // B hands over once more
    EXPECT_EQ(rig.sent, expected);
    EXPECT_EQ(rig.enabled(), std::vector<bool>({false, false, false}));
}

TEST(Ramps, WhateverOrderAndLatenessTheTicksComeInEveryRunKeepsItsGuarantees)
{
    // Every order of the three timers within a period, held for a whole run,
    // then orders drawn afresh each period, then late ticks too: a busy
    // machine may deliver one timer's tick a period after another's.
    std::vector<std::array<int, 3>> orders;
    std::array<int, 3> order{0, 1, 2};
    do
        orders.push_back(order);
    while (std::next_permutation(order.begin(), order.end()));
    for (const Sequence seq : {Sequence::Seq1, Sequence::Seq2, Sequence::Seq3}) {
        std::set<std::vector<int>> outcomes;
        for (int run = 0; run < 300; ++run) {
            SCOPED_TRACE("sequence " + std::to_string(static_cast<int>(seq) + 1) + ", run "
                         + std::to_string(run));
            std::mt19937 random(static_cast<unsigned>(run));
            Rig rig;
            rig.selected = seq;
            if (run >= 100)
                rig.skip = [&] { return random() % 4 == 0; };
            rig.click();
            rig.playToEnd([&] { return orders[run < 6 ? run : random() % orders.size()]; });
            EXPECT_EQ(rig.enabled(), std::vector<bool>({false, false, false}));
            EXPECT_TRUE(testing_support::playedAsAnyRunMay(seq, rig.sent));
            outcomes.insert(rig.sent);
        }
        // Only one timer plays SEQ#1; in the others the order shows.
        EXPECT_EQ(outcomes.size() == 1, seq == Sequence::Seq1);
    }
}

TEST(Ramps, UntickingSendsTheZerosAndNoFurtherStep)
{
    for (const Sequence seq : {Sequence::Seq1, Sequence::Seq2, Sequence::Seq3}) {
        Rig rig;
        rig.selected = seq;
        rig.click();
        for (int i = 0; i < 5; ++i)
            rig.period();
        rig.sent.clear();
        rig.click();
        EXPECT_EQ(rig.sent, kZeros);
        for (int i = 0; i < 40; ++i)
            rig.period();
        EXPECT_EQ(rig.sent, kZeros) << "no step once unticked";
        // TimerSEQA stops at its next tick; B and C, started by the click, idle.
        const std::vector<bool> idle[] = {{false, false, false}, {false, true, false}, {false, true, true}};
        EXPECT_EQ(rig.enabled(), idle[static_cast<int>(seq)]);
    }
}

TEST(Ramps, ChangingTheSequenceMidRunWaitsForTheNextClick)
{
    Rig rig;
    rig.click();
    rig.period();
    rig.selected = Sequence::Seq3;
    rig.period();
    EXPECT_EQ(rig.enabled(), std::vector<bool>({true, false, false}));
    EXPECT_EQ(rig.sent, kZeros + ramp(0x40, 1, 2));
}

TEST(SequencesInTheWindow, TickingRunSequenceAlwaysSendsTheZerosFirst)
{
    Panel p;
    p.bridge.setChipAddress(std::nullopt);  // a NACK does not stop anything
    QTest::mouseClick(&p.find<QRadioButton>("SEQ2"), Qt::LeftButton);
    QTest::mouseClick(&p.find<QCheckBox>("RUN_SEQ"), Qt::LeftButton);
    EXPECT_EQ(commands(p.bridge), kZeros);
    ASSERT_TRUE(p.find<QCheckBox>("RUN_SEQ").isChecked());

    p.bridge.clearWritten();
    for (int i = 0; i < 3; ++i) {
        p.form->TimerSEQATimer();
        p.form->TimerSEQBTimer();
    }
    EXPECT_EQ(commands(p.bridge), std::vector<int>({0x41, 0x61, 0x42, 0x62, 0x43, 0x63}));
    EXPECT_EQ(p.portw(), "I2C error : no Acknowledge from device");
    EXPECT_EQ(toolkit::tag(p.find<toolkit::Timer>("TimerSEQB")), 3);

    p.bridge.clearWritten();
    QTest::mouseClick(&p.find<QCheckBox>("RUN_SEQ"), Qt::LeftButton);
    EXPECT_EQ(commands(p.bridge), kZeros);
    p.form->TimerSEQATimer();
    p.form->TimerSEQBTimer();
    EXPECT_EQ(commands(p.bridge), kZeros);
    EXPECT_FALSE(p.find<toolkit::Timer>("TimerSEQA").enabled());
    EXPECT_TRUE(p.find<toolkit::Timer>("TimerSEQB").enabled()) << "left running idle";
}

TEST(SequencesInTheWindow, IntervalTrackBarsSetTheirTimers)
{
    Panel p;
    auto& tseqb = p.find<toolkit::TrackBar>("TSEQB");
    testing_support::focusOn(tseqb);
    QTest::keyClick(&tseqb, Qt::Key_End);
    EXPECT_EQ(p.find<toolkit::Timer>("TimerSEQB").interval(), 200ms);
    QTest::keyClick(&tseqb, Qt::Key_Left);
    EXPECT_EQ(p.find<toolkit::Timer>("TimerSEQB").interval(), 199ms);
    EXPECT_EQ(p.find<toolkit::Timer>("TimerSEQA").interval(), 50ms);
    EXPECT_TRUE(p.bridge.written().empty()) << "an interval is not a command";
}

TEST(SequencesInTheWindow, ARealSeq1RunOnTheEventLoop)
{
    Panel p;
    auto& tseqa = p.find<toolkit::TrackBar>("TSEQA");
    testing_support::focusOn(tseqa);
    QTest::keyClick(&tseqa, Qt::Key_Home);
    auto& timer = p.find<toolkit::Timer>("TimerSEQA");
    ASSERT_EQ(timer.interval(), 10ms);

    QTest::mouseClick(&p.find<QCheckBox>("RUN_SEQ"), Qt::LeftButton);
    EXPECT_TRUE(timer.enabled());
    EXPECT_TRUE(testing_support::runEventLoopUntil([&] { return !timer.enabled(); }, 30s));
    EXPECT_EQ(commands(p.bridge), kZeros + ramp(0x40));
    EXPECT_EQ(p.bridge.registers().pwm[0], 31);
    EXPECT_EQ(p.find<toolkit::TrackBar>("LED1slider").value(), 0) << "set-up track bars stay put";
    EXPECT_EQ(p.find<QLabel>("VAL_PWM1").text(), "00%");
}

TEST(SequencesInTheWindow, RealTimersPlayEverySequenceAsAnyRunMay)
{
    // All three sequences play at once, each in its own window on its own
    // bridge, at the default 50 ms interval with all three timers sharing it.
    const Sequence sequences[] = {Sequence::Seq1, Sequence::Seq2, Sequence::Seq3};
    const char* radios[] = {"SEQ1", "SEQ2", "SEQ3"};
    std::vector<std::unique_ptr<Panel>> panels;
    for (const char* radio : radios) {
        panels.push_back(std::make_unique<Panel>());
        Panel& p = *panels.back();
        QTest::mouseClick(&p.find<QRadioButton>(radio), Qt::LeftButton);
        QTest::mouseClick(&p.find<QCheckBox>("RUN_SEQ"), Qt::LeftButton);
    }
    auto stopped = [](Panel& p) {
        return !p.find<toolkit::Timer>("TimerSEQA").enabled()
            && !p.find<toolkit::Timer>("TimerSEQB").enabled()
            && !p.find<toolkit::Timer>("TimerSEQC").enabled();
    };
    ASSERT_TRUE(testing_support::runEventLoopUntil(
        [&] { return std::all_of(panels.begin(), panels.end(), [&](auto& p) { return stopped(*p); }); },
        60s));
    for (std::size_t s = 0; s < panels.size(); ++s) {
        SCOPED_TRACE(radios[s]);
        EXPECT_TRUE(testing_support::playedAsAnyRunMay(sequences[s], commands(panels[s]->bridge)));
        EXPECT_TRUE(testing_support::noFirstRampStepEarly(panels[s]->bridge, 50ms));
    }
}
