#pragma once
// What the live chart and the review's chart draw alike: their colours, the
// lanes' names, and the marks under the time axis for a reply not acknowledged
// (a triangle) and for no answer or a lost bridge (a bar); the plot's area;
// the exchange a click picks.

#include <QColor>
#include <QPainter>

#include <cstddef>
#include <functional>
#include <optional>

namespace monitor::chart {

inline constexpr int kMarkSize = 6;
inline const QColor kBackground(30, 30, 30);
inline const QColor kGrid(70, 70, 70);
inline const QColor kText(190, 190, 190);
inline const char* const kLaneNames[] = {"LED1", "LED2", "LED3"};

// One channel's lane, the `index`th of three in `plot`: its base line and
// its name drawn in `colour`; y(level) is where a level (0..31) lies.
struct Lane {
    double bottom = 0;
    double height = 0;
    double y(int level) const;
};
Lane drawLane(QPainter& painter, const QRect& plot, std::size_t index, const QColor& colour);

// The plot in a chart widget's `rect`: room on the left for the lanes' names,
// under it for the marks and the time labels.
QRect plotArea(const QRect& rect, const QFontMetrics& metrics);

// The exchange a click on the pixel column from `startMs` picks, of `count`
// in time order (`msOf(i)`): the first in the column, or else the nearer of
// the last before it and the first after it, within a few pixels.
std::optional<std::size_t> pickedAt(double startMs, double msPerPixel, std::size_t count,
                                    const std::function<double(std::size_t)>& msOf);

// The marks at `x`, their tops at `top`; the painter's pen and brush change.
void drawNackMark(QPainter& painter, double x, double top);
void drawNoAnswerMark(QPainter& painter, double x, double top);

}  // namespace monitor::chart
