// Drives a TrackBar with real key, mouse and wheel events and checks how many
// scrolled() notifications each gesture produces and what value each one sees.

#include "Focus.h"
#include "TrackBar.h"

#include <QApplication>
#include <QKeyEvent>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int kTimeoutMs = 30000;  // only guards against a hang

// A key's name for a failure message. QTest::toString hands over a string
// allocated with new[]; it is freed here.
std::string KeyName(Qt::Key key)
{
    const std::unique_ptr<char[]> name(QTest::toString(key));
    return name ? std::string(name.get()) : std::string();
}

// Exposes where the style draws the handle for a given value.
class ProbedBar : public toolkit::TrackBar {
public:
    int HandleCenterX(int v) const { return HandleAt(v).center().x(); }
    QRect Handle() const { return HandleAt(value()); }
    QRect HandleAt(int v) const
    {
        QStyleOptionSlider opt;
        initStyleOption(&opt);
        opt.sliderPosition = opt.sliderValue = v;
        return style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, this);
    }
};

class TrackBarTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        bar.resize(113, 25);
        bar.setRange(0, 30);
        bar.setValue(10);
        bar.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&bar));
        testing_support::focusOn(bar);
        QObject::connect(&bar, &toolkit::TrackBar::scrolled, [this] { seen.push_back(bar.value()); });
    }

    void Restart(int v)
    {
        bar.setValue(v);
        seen.clear();
    }

    void SendKey(QEvent::Type type, Qt::Key key, bool autoRepeat)
    {
        QKeyEvent ev(type, key, Qt::NoModifier, QString(), autoRepeat);
        QApplication::sendEvent(&bar, &ev);
    }

    QPoint At(int x) const { return {x, bar.Handle().center().y()}; }

    ProbedBar bar;
    std::vector<int> seen;
};

using Seen = std::vector<int>;

TEST_F(TrackBarTest, EachKeyStepsInThePlatformDirectionAndNotifiesOnDownAndUp)
{
    const struct {
        Qt::Key key;
        int expected;
    } cases[] = {
        {Qt::Key_Left, 9},   {Qt::Key_Up, 9},        {Qt::Key_Right, 11}, {Qt::Key_Down, 11},
        {Qt::Key_PageUp, 8}, {Qt::Key_PageDown, 12}, {Qt::Key_Home, 0},   {Qt::Key_End, 30},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(KeyName(c.key));
        Restart(10);
        QTest::keyPress(&bar, c.key);
        EXPECT_EQ(seen, Seen({c.expected}));
        QTest::keyRelease(&bar, c.key);
        EXPECT_EQ(seen, Seen({c.expected, c.expected}));
    }
}

TEST_F(TrackBarTest, KeysAtTheEndOfTheRangeStillNotify)
{
    const struct {
        Qt::Key key;
        int start;
        int expected;
    } cases[] = {
        {Qt::Key_Left, 0, 0},       {Qt::Key_Up, 0, 0},     {Qt::Key_PageUp, 0, 0},     {Qt::Key_Home, 0, 0},
        {Qt::Key_Right, 30, 30},    {Qt::Key_Down, 30, 30}, {Qt::Key_PageDown, 30, 30}, {Qt::Key_End, 30, 30},
        {Qt::Key_PageDown, 29, 30}, {Qt::Key_PageUp, 1, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << KeyName(c.key) << " from " << c.start);
        Restart(c.start);
        QTest::keyClick(&bar, c.key);
        EXPECT_EQ(seen, Seen({c.expected, c.expected}));
    }
}

TEST_F(TrackBarTest, AutoRepeatKeyDownsEachStepAndOnlyTheFinalReleaseNotifies)
{
    Restart(4);
    SendKey(QEvent::KeyPress, Qt::Key_Right, false);
    for (int i = 0; i < 3; ++i) {
        SendKey(QEvent::KeyRelease, Qt::Key_Right, true);
        SendKey(QEvent::KeyPress, Qt::Key_Right, true);
    }
    EXPECT_EQ(seen, Seen({5, 6, 7, 8}));
    SendKey(QEvent::KeyRelease, Qt::Key_Right, false);
    EXPECT_EQ(seen, Seen({5, 6, 7, 8, 8}));

    Restart(29);
    SendKey(QEvent::KeyPress, Qt::Key_PageDown, false);
    SendKey(QEvent::KeyPress, Qt::Key_PageDown, true);
    SendKey(QEvent::KeyPress, Qt::Key_PageDown, true);
    SendKey(QEvent::KeyRelease, Qt::Key_PageDown, false);
    EXPECT_EQ(seen, Seen({30, 30, 30, 30}));
}

TEST_F(TrackBarTest, OtherKeysNeitherMoveNorNotify)
{
    for (Qt::Key key : {Qt::Key_A, Qt::Key_Space, Qt::Key_Plus, Qt::Key_Escape}) {
        SCOPED_TRACE(KeyName(key));
        QTest::keyClick(&bar, key);
        EXPECT_EQ(bar.value(), 10);
        EXPECT_TRUE(seen.empty());
    }
}

TEST_F(TrackBarTest, DraggingTheHandleNotifiesEachMoveThenTwiceOnRelease)
{
    Restart(5);
    const QPoint grab = At(bar.HandleCenterX(5));
    QTest::mousePress(&bar, Qt::LeftButton, Qt::NoModifier, grab);
    EXPECT_TRUE(seen.empty());

    int moves = 0;
    for (int x = grab.x(); x <= bar.HandleCenterX(12); ++x, ++moves)
        QTest::mouseMove(&bar, At(x));
    EXPECT_EQ(bar.value(), 12);
    // Only the moves that changed the position notified, each once, in order.
    ASSERT_FALSE(seen.empty());
    EXPECT_LT(static_cast<int>(seen.size()), moves);
    EXPECT_EQ(seen.front(), 6);
    EXPECT_EQ(seen.back(), 12);
    EXPECT_TRUE(std::adjacent_find(seen.begin(), seen.end(), [](int a, int b) { return b != a + 1; })
                == seen.end());

    // Back again, past the start of the range.
    for (int x = bar.HandleCenterX(12); x >= 0; --x)
        QTest::mouseMove(&bar, At(x));
    EXPECT_EQ(bar.value(), 0);
    const size_t beforeRelease = seen.size();
    EXPECT_EQ(beforeRelease, 7u + 12u);
    EXPECT_EQ(seen.back(), 0);

    QTest::mouseRelease(&bar, Qt::LeftButton, Qt::NoModifier, At(0));
    EXPECT_EQ(Seen(seen.begin() + beforeRelease, seen.end()), Seen({0, 0}));
}

TEST_F(TrackBarTest, PressingAndReleasingTheHandleWithoutMovingNotifiesTwice)
{
    const QPoint grab = At(bar.HandleCenterX(10));
    QTest::mousePress(&bar, Qt::LeftButton, Qt::NoModifier, grab);
    QTest::mouseMove(&bar, grab);
    QTest::mouseRelease(&bar, Qt::LeftButton, Qt::NoModifier, grab);
    EXPECT_EQ(seen, Seen({10, 10}));
}

TEST_F(TrackBarTest, ClickingTheChannelPagesTowardThePointerThenEndsTracking)
{
    const struct {
        int x;
        int expected;
    } cases[] = {{bar.HandleCenterX(25), 12}, {bar.HandleCenterX(2), 8}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.x);
        Restart(10);
        QTest::mousePress(&bar, Qt::LeftButton, Qt::NoModifier, At(c.x));
        EXPECT_EQ(seen, Seen({c.expected}));
        QTest::mouseRelease(&bar, Qt::LeftButton, Qt::NoModifier, At(c.x));
        EXPECT_EQ(seen, Seen({c.expected, c.expected}));
    }
}

TEST_F(TrackBarTest, HoldingTheChannelPagesUntilTheHandleReachesThePointer)
{
    // Every notification is one page further up, starting from 2.
    const auto pagedUpFromZero = [this] {
        for (size_t i = 0; i < seen.size(); ++i)
            if (seen[i] != 2 * static_cast<int>(i + 1))
                return false;
        return true;
    };

    Restart(0);
    const QPoint target = At(bar.HandleCenterX(20));
    QTest::mousePress(&bar, Qt::LeftButton, Qt::NoModifier, target);
    EXPECT_TRUE(QTest::qWaitFor([&] { return bar.Handle().contains(target); }, kTimeoutMs));
    const Seen reached = seen;
    QTest::qWait(400);
    EXPECT_EQ(seen, reached) << "kept paging after reaching the pointer";
    ASSERT_GE(seen.size(), 2u);
    EXPECT_TRUE(pagedUpFromZero());
    EXPECT_GT(target.x(), bar.HandleAt(seen.back() - 2).right()) << "stopped before reaching the pointer";

    // The pointer carries on ahead: paging resumes, still upward.
    const QPoint further = At(bar.HandleCenterX(28));
    QTest::mouseMove(&bar, further);
    EXPECT_TRUE(QTest::qWaitFor([&] { return bar.Handle().contains(further); }, kTimeoutMs));
    EXPECT_TRUE(pagedUpFromZero());

    // The pointer goes back behind the handle: paging never reverses.
    const int held = bar.value();
    const size_t notified = seen.size();
    QTest::mouseMove(&bar, At(bar.HandleCenterX(3)));
    QTest::qWait(400);
    EXPECT_EQ(bar.value(), held);
    EXPECT_EQ(seen.size(), notified);

    QTest::mouseRelease(&bar, Qt::LeftButton, Qt::NoModifier, At(bar.HandleCenterX(3)));
    ASSERT_EQ(seen.size(), notified + 1);
    EXPECT_EQ(seen.back(), held);

    QTest::qWait(400);
    EXPECT_EQ(seen.size(), notified + 1) << "paged after release";
}

TEST_F(TrackBarTest, HoldingTheChannelDownwardStopsAtTheStartOfTheRange)
{
    Restart(30);
    QTest::mousePress(&bar, Qt::LeftButton, Qt::NoModifier, At(0));
    EXPECT_TRUE(QTest::qWaitFor([&] { return bar.value() == 0; }, kTimeoutMs));
    QTest::qWait(400);
    QTest::mouseRelease(&bar, Qt::LeftButton, Qt::NoModifier, At(0));
    Seen expected;
    for (int v = 28; v >= 0; v -= 2)
        expected.push_back(v);
    expected.push_back(0);
    EXPECT_EQ(seen, expected);
}

TEST_F(TrackBarTest, WheelIsAcceptedButMovesNothing)
{
    for (int delta : {120, -120, 480}) {
        SCOPED_TRACE(delta);
        const QPoint pos = At(bar.HandleCenterX(10));
        QWheelEvent ev(pos, bar.mapToGlobal(pos), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                       Qt::NoScrollPhase, false);
        QApplication::sendEvent(&bar, &ev);
        EXPECT_TRUE(ev.isAccepted());
        EXPECT_EQ(bar.value(), 10);
        EXPECT_TRUE(seen.empty());
    }
}

TEST_F(TrackBarTest, ProgramSetValueNotifiesOnlyOnRealChange)
{
    bar.setValue(10);
    EXPECT_TRUE(seen.empty());
    bar.setValue(17);
    EXPECT_EQ(seen, Seen({17}));
    bar.setValue(30);
    bar.setValue(99);  // clamped to where it already is
    EXPECT_EQ(seen, Seen({17, 30}));
}

}  // namespace
