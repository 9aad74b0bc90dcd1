// The ramp sequences: the exact bytes each tick sends, the hand-overs between
// timers, and a real run through the event loop.

#include "Focus.h"
#include "Panel.h"
#include "Ramps.h"
#include "Tag.h"
#include "Timer.h"
#include "TrackBar.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>

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
    // One period: every running timer ticks once, A first, then B, then C.
    void period()
    {
        const bool ta = a.enabled(), tb = b.enabled(), tc = c.enabled();
        if (ta)
            ramps.tickA();
        if (tb)
            ramps.tickB();
        if (tc)
            ramps.tickC();
    }
    int playToEnd()
    {
        int periods = 0;
        while ((a.enabled() || b.enabled() || c.enabled()) && periods < 1000) {
            period();
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
    EXPECT_TRUE(QTest::qWaitFor([&] { return !timer.enabled(); }, 30000));
    EXPECT_EQ(commands(p.bridge), kZeros + ramp(0x40));
    EXPECT_EQ(p.bridge.registers().pwm[0], 31);
    EXPECT_EQ(p.find<toolkit::TrackBar>("LED1slider").value(), 0) << "set-up track bars stay put";
    EXPECT_EQ(p.find<QLabel>("VAL_PWM1").text(), "00%");
}

TEST(SequencesInTheWindow, RealTimersNeverStepAChannelTwiceInOneInterval)
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
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return std::all_of(panels.begin(), panels.end(), [&](auto& p) { return stopped(*p); }); },
        60000));

    // A timer never ticks before its time, however busy the machine: the k-th
    // tick of a timer started at t comes at t + k intervals or later. So a
    // channel's level L of a ramp comes at least L intervals after the click
    // that reset it to 0 (the timers start just after), or L - 1 intervals
    // after a hand-over that restarted it and sent its 1 at once. A channel
    // stepped twice at one hand-over breaks that by almost a whole interval.
    constexpr auto kInterval = 50ms;
    constexpr auto kSlack = 10ms;  // between a hand-over's restart and its first write
    // Every level each channel was sent, in order, per sequence.
    const std::vector<int> seq3Led1 = std::vector<int>{0} + ramp(0) + std::vector<int>{1} + ramp(0) + ramp(0);
    const std::vector<std::vector<int>> expected[] = {
        {std::vector<int>{0} + ramp(0), {0}, {0}},
        {std::vector<int>{0} + ramp(0) + ramp(0), std::vector<int>{0} + ramp(0), {0}},
        {seq3Led1, std::vector<int>{0} + ramp(0) + ramp(0), std::vector<int>{0} + ramp(0)},
    };
    for (std::size_t s = 0; s < panels.size(); ++s) {
        SCOPED_TRACE(radios[s]);
        const auto& bridge = panels[s]->bridge;
        std::vector<std::vector<int>> levels(3);
        std::vector<std::chrono::steady_clock::time_point> rampFrom(3);
        std::vector<int> rampBase(3);
        for (std::size_t i = 0; i < bridge.written().size(); ++i) {
            const int command = bridge.written()[i].at(2);
            const auto channel = static_cast<std::size_t>((command >> 5) - 2);  // 0x40, 0x60, 0x80
            ASSERT_LT(channel, 3u);
            const int level = command & 0x1F;
            const auto at = bridge.writtenAt()[i];
            const bool restarted
                = level == 0 || (level == 1 && !levels[channel].empty() && levels[channel].back() != 0);
            if (restarted) {
                rampFrom[channel] = at;
                rampBase[channel] = level;
            } else {
                EXPECT_GE(at - rampFrom[channel], (level - rampBase[channel]) * kInterval - kSlack)
                    << "channel " << channel + 1 << " stepped to " << level << " too soon";
            }
            levels[channel].push_back(level);
        }
        EXPECT_EQ(levels, expected[static_cast<int>(sequences[s])]);
    }
}
