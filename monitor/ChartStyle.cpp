#include "ChartStyle.h"

#include "Commands.h"

namespace monitor::chart {
namespace {

const QColor kNackMark(255, 200, 0);
const QColor kNoAnswerMark(200, 200, 200);

}  // namespace

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
