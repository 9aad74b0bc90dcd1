#include "ChartStyle.h"

#include "Commands.h"

#include <cmath>

namespace monitor::chart {
namespace {

const QColor kNackMark(255, 200, 0);
const QColor kNoAnswerMark(200, 200, 200);
constexpr double kPickPixels = 4;  // how far from a click an exchange is still picked

}  // namespace

QRect plotArea(const QRect& rect, const QFontMetrics& metrics)
{
    const int labelWidth = metrics.horizontalAdvance(QStringLiteral("LED3")) + 8;
    return rect.adjusted(labelWidth, 4, -8, -(metrics.height() + kMarkSize + 6));
}

std::optional<std::size_t> pickedAt(double startMs, double msPerPixel, std::size_t count,
                                    const std::function<double(std::size_t)>& msOf)
{
    std::size_t after = 0;  // the first at or after startMs
    for (std::size_t end = count; after < end;) {
        const std::size_t middle = after + (end - after) / 2;
        if (msOf(middle) < startMs)
            after = middle + 1;
        else
            end = middle;
    }
    if (after < count && msOf(after) < startMs + msPerPixel)
        return after;
    std::optional<std::size_t> picked;
    double reach = kPickPixels * msPerPixel;
    for (std::size_t i = after > 0 ? after - 1 : 0; i <= after && i < count; ++i) {
        const double distance = std::abs(msOf(i) - (startMs + msPerPixel / 2));
        if (distance <= reach) {
            reach = distance;
            picked = i;
        }
    }
    return picked;
}

double Lane::y(int level) const { return bottom - (height - 6) * level / driver::kValueMax; }

Lane drawLane(QPainter& painter, const QRect& plot, std::size_t index, const QColor& colour)
{
    const double height = plot.height() / 3.0;
    const double top = plot.top() + static_cast<double>(index) * height;
    const double bottom = top + height - 3;
    painter.setPen(kGrid);
    painter.drawLine(QPointF(plot.left(), bottom + 1.5), QPointF(plot.right(), bottom + 1.5));
    painter.setPen(colour);
    painter.drawText(QPointF(4, top + (height + painter.fontMetrics().ascent()) / 2),
                     QString::fromLatin1(kLaneNames[index]));
    return {bottom, height};
}

void drawNackMark(QPainter& painter, double x, double top)
{
    painter.setPen(Qt::NoPen);
    painter.setBrush(kNackMark);
    const QPointF triangle[]
        = {{x, top}, {x - kMarkSize / 2.0, top + kMarkSize}, {x + kMarkSize / 2.0, top + kMarkSize}};
    painter.drawPolygon(triangle, 3);
}

void drawNoAnswerMark(QPainter& painter, double x, double top)
{
    painter.setPen(Qt::NoPen);
    painter.setBrush(kNoAnswerMark);
    painter.drawRect(QRectF(x - 1, top, 2, kMarkSize));
}

}  // namespace monitor::chart
