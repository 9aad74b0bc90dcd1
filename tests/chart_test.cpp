// The strip chart of the bus monitor and the board window: the staircase it
// draws from the record of the panel's traffic, on a clock the test moves, and
// when it scrolls.

#include "BoardWindow.h"
#include "EventLoop.h"
#include "Focus.h"
#include "MonitorWindow.h"
#include "Panel.h"
#include "StripChart.h"
#include "Timer.h"
#include "TrackBar.h"

#include <gtest/gtest.h>

#include <functional>

using namespace std::chrono_literals;
using monitor::Mark;
using monitor::Step;
using record::Verdict;
using testing_support::Panel;

namespace monitor {
void PrintTo(const Step& s, std::ostream* os)
{
    *os << "{" << s.ms << " ms, " << (s.level ? std::to_string(*s.level) : "unknown") << "}";
}
void PrintTo(const Mark& m, std::ostream* os)
{
    *os << "{" << m.ms << " ms, verdict " << int(m.verdict) << "}";
}
}  // namespace monitor

namespace {

constexpr auto kPeriod = 10ms;
constexpr double kLeftEdge = -10000.0;

// The panel on a virtual bridge whose record reads a clock the test moves.
struct Rig {
    Rig()
    {
        p.record.setClock([this] { return now; });
    }

    record::TimePoint now = record::TimePoint{} + 1h;
    Panel p;

    monitor::ChartSeries series() { return monitor::chartSeries(p.record, now, 10s); }
    // Presses a key on a track bar; returns the reports it sent.
    std::size_t press(const char* bar, Qt::Key key)
    {
        auto& slider = p.find<toolkit::TrackBar>(bar);
        testing_support::focusOn(slider);
        const std::size_t before = p.bridge.written().size();
        QTest::keyClick(&slider, key);
        return p.bridge.written().size() - before;
    }
};

// One channel's ramp 1..31 from tick `first` on, `period` after each other,
// the ticks counted from the click that started the run, read at tick `at`.
void addRamp(std::vector<Step>& steps, int first, int at)
{
    for (int level = 1; level <= 31; ++level)
        steps.push_back({10.0 * (first + level - 1 - at), level});
}

// The two windows that show the chart, on the panel's record.
using WindowFor = std::function<std::unique_ptr<QWidget>(Panel&)>;
const std::pair<const char*, WindowFor> kWindows[] = {
    {"bus monitor", [](Panel& p) { return std::make_unique<monitor::MonitorWindow>(p.record); }},
    {"board window",
     [](Panel& p) { return std::make_unique<virtualboard::BoardWindow>(p.bridge, p.record); }},
};

}  // namespace

TEST(StripChart, Seq3IsTheStaircaseThePanelSentHandOversIncludedInBothWindows)
{
    for (const auto& [name, windowFor] : kWindows) {
        SCOPED_TRACE(name);
        Rig rig;
        const std::unique_ptr<QWidget> window = windowFor(rig.p);
        QTest::mouseClick(&rig.p.find<QRadioButton>("SEQ3"), Qt::LeftButton);
        const int clickAt = 0;  // the zeros: the levels known from then on
        QTest::mouseClick(&rig.p.find<QCheckBox>("RUN_SEQ"), Qt::LeftButton);
        // Every running ramp timer ticks once a period, A, then B, then C, as
        // when they share an interval: the timers themselves never run here.
        auto& a = rig.p.find<toolkit::Timer>("TimerSEQA");
        auto& b = rig.p.find<toolkit::Timer>("TimerSEQB");
        auto& c = rig.p.find<toolkit::Timer>("TimerSEQC");
        int ticks = 0;
        while ((a.enabled() || b.enabled() || c.enabled()) && ticks < 200) {
            rig.now += kPeriod;
            ++ticks;
            const bool ta = a.enabled(), tb = b.enabled(), tc = c.enabled();
            if (ta)
                rig.p.form->TimerSEQATimer();
            if (tb)
                rig.p.form->TimerSEQBTimer();
            if (tc)
                rig.p.form->TimerSEQCTimer();
        }
        ASSERT_EQ(ticks, 94);

        // Unknown until the click's zeros; all three ramp together; LED3's
        // end hands over to LED1 and LED2, which restart at 1 in the same
        // tick; LED2's end hands over to LED1 once more.
        std::array<std::vector<Step>, 3> expected;
        for (auto& steps : expected)
            steps = {{kLeftEdge, std::nullopt}, {10.0 * (clickAt - ticks), 0}};
        for (const auto& [channel, first] : {std::pair{0, 1}, {0, 32}, {0, 63}, {1, 1}, {1, 32}, {2, 1}})
            addRamp(expected[static_cast<std::size_t>(channel)], first, ticks);
        const monitor::ChartSeries series
            = testing_support::control<monitor::StripChart>(*window, "Chart").series();
        EXPECT_EQ(series.steps, expected);
        EXPECT_TRUE(series.marks.empty());
        EXPECT_EQ(rig.p.record.exchanges().size(), 3u + 31 * 3 + 3 + 30 * 2 + 1 + 30);
    }
}

TEST(StripChart, MarksANackASilentBridgeAndALostOneOnTheTimeAxis)
{
    Rig rig;
    rig.press("LED1slider", Qt::Key_Right);  // acknowledged: a step, no mark
    rig.now += 1s;
    rig.p.bridge.setChipAddress(virtualboard::kAddressC);
    const std::size_t nacks = rig.press("LED1slider", Qt::Key_Right);  // NACK: the level holds
    rig.now += 2s;
    rig.p.bridge.setChipAddress(virtualboard::kAddressBT);
    rig.p.bridge.setReplyShape(virtualboard::ReplyShape::Silent);
    const std::size_t unanswered = rig.press("LED2slider", Qt::Key_Right);  // nothing reaches the chip
    rig.now += 200ms;
    rig.p.bridge.setReplyShape(virtualboard::ReplyShape::Normal);
    rig.p.bridge.unplug(virtualboard::VirtualBridge::evaluationBoard().path, false);  // no notice
    rig.press("LED3slider", Qt::Key_Right);  // the write finds the bridge gone
    rig.now += 300ms;

    ASSERT_GT(nacks, 0u);
    ASSERT_GT(unanswered, 0u);
    std::vector<Mark> expected(nacks, {-2500, Verdict::NotAcknowledged});
    expected.insert(expected.end(), unanswered, {-500, Verdict::NoAnswer});
    expected.push_back({-300, Verdict::BridgeLost});
    const monitor::ChartSeries series = rig.series();
    EXPECT_EQ(series.marks, expected);
    const int level = rig.p.bridge.registers().pwm[0];
    ASSERT_GT(level, 0);
    EXPECT_EQ(series.steps[0],
              std::vector<Step>({{kLeftEdge, std::nullopt}, {-3500, level}, {-300, std::nullopt}}))
        << "a lost bridge's chip holds nothing known";
    EXPECT_EQ(series.steps[1], std::vector<Step>({{kLeftEdge, std::nullopt}})) << "never acknowledged";
    EXPECT_EQ(series.steps[2], std::vector<Step>({{kLeftEdge, std::nullopt}}));
}

TEST(StripChart, ABridgeLetGoOrAnotherChipIsAGapInTheChartAndUnknownInTheRegisters)
{
    Rig rig;
    monitor::MonitorWindow window(rig.p.record);
    const auto shown = [&](const char* label) {
        QCoreApplication::processEvents();
        return testing_support::control<QLabel>(window, label).text();
    };
    const std::string board = virtualboard::VirtualBridge::evaluationBoard().path;
    rig.press("LED1slider", Qt::Key_Right);  // at -4 s
    const int level = rig.p.bridge.registers().pwm[0];
    ASSERT_GT(level, 0);
    rig.now += 1s;
    rig.p.bridge.unplug(board);  // at -3 s: the panel lets it go
    EXPECT_EQ(shown("HostPwm1"), "PWM LED1: unknown");
    rig.now += 1s;
    rig.p.bridge.plug(virtualboard::VirtualBridge::evaluationBoard());  // at -2 s: the chip restarted
    rig.now += 1s;
    rig.press("LED2slider", Qt::Key_Right);  // at -1 s
    const int level2 = rig.p.bridge.registers().pwm[1];
    EXPECT_EQ(shown("HostPwm1"), "PWM LED1: unknown");
    EXPECT_NE(shown("HostPwm2"), "PWM LED2: unknown");
    rig.now += 500ms;
    QTest::mouseClick(&rig.p.find<QRadioButton>("KRL7741C"), Qt::LeftButton, {}, QPoint(5, 8));
    ASSERT_TRUE(rig.p.find<QRadioButton>("KRL7741C").isChecked());
    rig.press("LED3slider", Qt::Key_Right);  // at -0.5 s, to another chip
    rig.now += 500ms;
    EXPECT_EQ(shown("HostPwm2"), "PWM LED2: unknown");

    const monitor::ChartSeries series = rig.series();
    EXPECT_EQ(series.steps[0],
              std::vector<Step>({{kLeftEdge, std::nullopt}, {-4000, level}, {-3000, std::nullopt}}));
    EXPECT_EQ(series.steps[1],
              std::vector<Step>({{kLeftEdge, std::nullopt}, {-1000, level2}, {-500, std::nullopt}}));
    // Drawn as it is read, over the gaps.
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    testing_support::control<monitor::StripChart>(window, "Chart").grab();
}

TEST(StripChart, TheLevelAtTheLeftEdgeIsTheOneBeforeTheWindowEvenOnceTheRecordDroppedIt)
{
    Rig rig;
    rig.press("LED3slider", Qt::Key_End);
    const int level = rig.p.bridge.registers().pwm[2];
    rig.now += 15s;
    EXPECT_EQ(rig.series().steps[2], std::vector<Step>({{kLeftEdge, level}}));

    // PWM LED3 = 7, then more than the record keeps of PWM LED1 ramps.
    record::Record record;
    record.add(rig.now, {0x00, 0x70, 0x87, 0x87}, {0x00, 0x01, 0x87, 0x87}, Verdict::Acknowledged);
    for (std::size_t i = 0; i < record::Record::kKept; ++i) {
        const auto command = static_cast<std::uint8_t>(0x40 + i % 32);
        record.add(rig.now, {0x00, 0x70, command, command}, {0x00, 0x01, command, command},
                   Verdict::Acknowledged);
    }
    EXPECT_EQ(record.exchanges().size(), record::Record::kKept);
    EXPECT_EQ(record.levelsBefore(), record::Levels({std::nullopt, std::nullopt, 7}));
    EXPECT_EQ(monitor::chartSeries(record, rig.now + 11s, 10s).steps[2], std::vector<Step>({{kLeftEdge, 7}}));
}

TEST(StripChart, ScrollsOnlyWhileShownAndSomethingInViewCanMove)
{
    Rig rig;
    monitor::MonitorWindow window(rig.p.record);
    auto& chart = testing_support::control<monitor::StripChart>(window, "Chart");
    rig.press("LED1slider", Qt::Key_Right);
    EXPECT_FALSE(chart.scrolling()) << "hidden";

    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    EXPECT_TRUE(chart.scrolling());

    // Once the last exchange has left the view, the next frame is the last
    // (however late a busy machine delivers it: the guard only ends a hang).
    rig.now += 11s;
    EXPECT_TRUE(testing_support::runEventLoopUntil([&] { return !chart.scrolling(); }, 30s));

    rig.press("LED1slider", Qt::Key_Right);
    EXPECT_TRUE(chart.scrolling()) << "woken by the exchange";
    window.hide();
    EXPECT_FALSE(chart.scrolling());
    rig.press("LED1slider", Qt::Key_Right);
    EXPECT_FALSE(chart.scrolling());

    // A show event the window system sends again (a window restored) is
    // followed by one hide all the same.
    window.show();
    QShowEvent again;
    QCoreApplication::sendEvent(&chart, &again);
    window.hide();
    rig.press("LED1slider", Qt::Key_Right);
    EXPECT_FALSE(chart.scrolling()) << "a second show left a watch behind";
}
