#pragma once
// The strip chart of the PWM levels: the three levels (0..31) the host
// believes the chip drives, against time, the last ten seconds scrolling, each
// channel in its own lane and its LED's colour, drawn as the staircase the
// acknowledged commands make (a level holds until the next one; a level not
// yet set, or forgotten since, is not drawn). Replies that were not acknowledged, exchanges the
// bridge left unanswered and a bridge lost are marks on the time axis.
//
// A click on an exchange says which (exchangeClicked); the bus monitor shows
// its line in the trace.
//
// It reads the record (Record.h) when it paints, and paints only while shown:
// a frame timer scrolls it while anything in view can move, and the first
// exchange after a quiet spell wakes it.

#include "Record.h"

#include <QColor>
#include <QTimer>
#include <QWidget>

#include <array>
#include <chrono>
#include <optional>
#include <vector>

namespace monitor {

// One channel's staircase: the level from `ms` on, up to the next step. `ms`
// is the time before now, negative (the window's left edge is -span).
struct Step {
    double ms = 0.0;
    std::optional<int> level;
    bool operator==(const Step&) const = default;
};

struct Mark {
    double ms = 0.0;
    record::Verdict verdict = record::Verdict::NotAcknowledged;  // or NoAnswer, BridgeLost
    bool operator==(const Mark&) const = default;
};

struct ChartSeries {
    std::array<std::vector<Step>, 3> steps;  // the first at -span: the level then
    std::vector<Mark> marks;                 // oldest first
};

// What the chart draws at `now` from the record, for the last `span`.
ChartSeries chartSeries(const record::Record& record, record::TimePoint now, std::chrono::milliseconds span);

class StripChart final : public QWidget {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds kSpan{10000};
    static constexpr std::chrono::milliseconds kFrame{40};  // 25 frames a second while it scrolls

    StripChart(const record::Record& record, std::array<QColor, 3> colours, QWidget* parent = nullptr);

    // True while the frame timer runs.
    bool scrolling() const { return frames_.isActive(); }
    // What the next frame draws.
    ChartSeries series() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    // The plot's area: now at its right end, kSpan ago at its left.
    QRect plotArea() const;

signals:
    // A click on the plot picked the record's exchange `index`: the first in
    // the pixel column clicked, or else the nearest within a few pixels.
    void exchangeClicked(std::size_t index);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void wake();
    void frame();
    void unwatch();

    const record::Record& record_;
    std::array<QColor, 3> colours_;
    QTimer frames_;
    std::array<QMetaObject::Connection, 2> watch_;
};

}  // namespace monitor
