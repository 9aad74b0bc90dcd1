#pragma once
// The strip chart of the virtual evaluation board: the chip's three PWM
// levels (0..31) against time, the last ten seconds scrolling, each channel in
// its own lane and its LED's colour, drawn as the staircase the chip sees (a
// level holds until the next command). Replies that were not acknowledged and
// exchanges the bridge left unanswered are marks on the time axis.
//
// It reads the virtual bridge's record (History.h) when it paints, and paints
// only while shown: a frame timer scrolls it while anything in view can move,
// and the first exchange after a quiet spell wakes it.

#include "VirtualBridge.h"

#include <QColor>
#include <QTimer>
#include <QWidget>

#include <array>
#include <chrono>
#include <vector>

namespace virtualboard {

// One channel's staircase: the level from `ms` on, up to the next step. `ms`
// is the time before now, negative (the window's left edge is -span).
struct Step {
    double ms = 0.0;
    int level = 0;
    bool operator==(const Step&) const = default;
};

struct Mark {
    double ms = 0.0;
    Verdict verdict = Verdict::NotAcknowledged;  // or NoAnswer
    bool operator==(const Mark&) const = default;
};

struct ChartSeries {
    std::array<std::vector<Step>, 3> steps;  // the first at -span: the level then
    std::vector<Mark> marks;                 // oldest first
};

// What the chart draws at `now` from the record, for the last `span`.
ChartSeries chartSeries(const History& history, std::chrono::steady_clock::time_point now,
                        std::chrono::milliseconds span);

class StripChart final : public QWidget {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds kSpan{10000};
    static constexpr std::chrono::milliseconds kFrame{40};  // 25 frames a second while it scrolls

    StripChart(const VirtualBridge& bridge, std::array<QColor, 3> colours, QWidget* parent = nullptr);

    // True while the frame timer runs.
    bool scrolling() const { return frames_.isActive(); }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void wake();
    void frame();

    const VirtualBridge& bridge_;
    std::array<QColor, 3> colours_;
    QTimer frames_;
    QMetaObject::Connection watch_;
};

}  // namespace virtualboard
