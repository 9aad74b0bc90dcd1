#include "ReviewChart.h"

#include "ChartStyle.h"
#include "Commands.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPolygonF>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace monitor {
namespace {

constexpr double kZoomStep = 0.5;     // + halves the span, - doubles it
constexpr double kScrollStep = 0.25;  // Left and Right move a quarter of the span
constexpr QSize kPreferredSize{640, 200};

using namespace chart;

std::array<int, 3> levelsOf(const std::array<std::int8_t, 3>& levels)
{
    return {levels[0], levels[1], levels[2]};
}

QString msText(double ms) { return QStringLiteral("%1 s").arg(ms / 1000.0, 0, 'f', ms < 10000 ? 3 : 1); }

}  // namespace

std::vector<ChartColumn> chartColumns(const record::Capture& capture, double fromMs, double toMs, int width,
                                      std::array<int, 3>* before)
{
    std::vector<ChartColumn> columns;
    const std::size_t first = capture.firstAtOrAfter(fromMs);
    std::array<int, 3> levels
        = first == 0 ? std::array<int, 3>{-1, -1, -1} : levelsOf(capture.pwm(first - 1));
    if (before)
        *before = levels;
    const double perPixel = (toMs - fromMs) / width;
    for (std::size_t i = first; i < capture.size() && capture.tMs(i) < toMs; ++i) {
        const int x = std::min(width - 1, static_cast<int>((capture.tMs(i) - fromMs) / perPixel));
        if (columns.empty() || columns.back().x != x) {
            ChartColumn column;
            column.x = x;
            column.first = i;
            column.low = levels;
            column.high = levels;
            columns.push_back(column);
        }
        ChartColumn& column = columns.back();
        ++column.count;
        levels = levelsOf(capture.pwm(i));
        for (std::size_t c = 0; c < levels.size(); ++c) {
            column.low[c] = column.low[c] < 0 ? levels[c] : std::min(column.low[c], levels[c]);
            column.high[c] = std::max(column.high[c], levels[c]);
            column.last[c] = levels[c];
        }
        const record::Verdict verdict = capture.verdict(i);
        column.nack |= verdict == record::Verdict::NotAcknowledged;
        column.unanswered |= verdict == record::Verdict::NoAnswer || verdict == record::Verdict::BridgeLost;
    }
    return columns;
}

ReviewChart::ReviewChart(const record::Capture& capture, std::array<QColor, 3> colours, QWidget* parent)
    : QWidget(parent), capture_(capture), colours_(colours)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::StrongFocus);
    setToolTip(
        QStringLiteral("PWM LED1, LED2 and LED3 (0..31) over the span in view; marks under the time "
                       "axis: a reply not acknowledged (triangle), no answer or the bridge lost (bar). "
                       "Wheel or +/-: zoom; Left/Right: scroll; Home: the whole file; "
                       "a click on an exchange shows its line in the trace."));
    showAll();
}

double ReviewChart::firstMs() const { return capture_.empty() ? 0.0 : capture_.tMs(0); }

double ReviewChart::lastMs() const { return capture_.empty() ? 0.0 : capture_.tMs(capture_.size() - 1); }

void ReviewChart::setSpan(double fromMs, double toMs)
{
    // The whole file, and a little room after the last exchange so it shows.
    const double first = firstMs();
    const double end = std::max(lastMs() + kMinSpanMs, first + kMinSpanMs);
    double span = std::clamp(toMs - fromMs, kMinSpanMs, end - first);
    const double from = std::clamp(fromMs, first, end - span);
    all_ = from <= first && from + span >= end;
    if (from == from_ && from + span == to_)
        return;
    from_ = from;
    to_ = from + span;
    update();
    emit spanChanged();
}

void ReviewChart::showAll() { setSpan(firstMs(), lastMs() + kMinSpanMs); }

void ReviewChart::zoom(double factor, double atMs)
{
    const double span = (to_ - from_) * factor;
    const double share = (atMs - from_) / (to_ - from_);
    setSpan(atMs - share * span, atMs - share * span + span);
}

void ReviewChart::grown()
{
    if (all_)
        showAll();
    else
        update();
}

QSize ReviewChart::sizeHint() const { return kPreferredSize; }

QRect ReviewChart::plotArea() const { return chart::plotArea(rect(), fontMetrics()); }

std::vector<ChartColumn> ReviewChart::columns() const
{
    return chartColumns(capture_, from_, to_, std::max(1, plotArea().width()));
}

void ReviewChart::wheelEvent(QWheelEvent* event)
{
    const QRect plot = plotArea();
    const double at
        = from_ + (event->position().x() - plot.left()) / std::max(1, plot.width()) * (to_ - from_);
    const int steps = event->angleDelta().y() / QWheelEvent::DefaultDeltasPerStep;
    if (steps != 0)
        zoom(std::pow(kZoomStep, steps), std::clamp(at, from_, to_));
    event->accept();
}

void ReviewChart::mousePressEvent(QMouseEvent* event)
{
    const QRect plot = plotArea();
    if (event->button() != Qt::LeftButton || plot.width() <= 0 || capture_.empty()) {
        QWidget::mousePressEvent(event);
        return;
    }
    event->accept();
    const double perPixel = (to_ - from_) / plot.width();
    const double start = from_ + (std::floor(event->position().x()) - plot.left()) * perPixel;
    const auto tMs = [this](std::size_t i) { return capture_.tMs(i); };
    if (const auto picked = pickedAt(start, perPixel, capture_.size(), tMs))
        emit exchangeClicked(*picked);
}

void ReviewChart::keyPressEvent(QKeyEvent* event)
{
    const double middle = (from_ + to_) / 2;
    const double span = to_ - from_;
    switch (event->key()) {
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        zoom(kZoomStep, middle);
        break;
    case Qt::Key_Minus:
        zoom(1 / kZoomStep, middle);
        break;
    case Qt::Key_Left:
        setSpan(from_ - kScrollStep * span, to_ - kScrollStep * span);
        break;
    case Qt::Key_Right:
        setSpan(from_ + kScrollStep * span, to_ + kScrollStep * span);
        break;
    case Qt::Key_Home:
        showAll();
        break;
    default:
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
}

void ReviewChart::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), kBackground);
    const QFontMetrics metrics = fontMetrics();
    const QRect plot = plotArea();
    if (plot.width() < 2 || plot.height() < 6)
        return;

    // The span's ends, and a line every tenth of it.
    painter.setPen(kGrid);
    for (int tenth = 0; tenth <= 10; ++tenth) {
        const int x = plot.left() + plot.width() * tenth / 10;
        painter.drawLine(x, plot.top(), x, plot.bottom());
    }
    const int labelY = plot.bottom() + kMarkSize + 4 + metrics.ascent();
    painter.setPen(kText);
    painter.drawText(plot.left(), labelY, msText(from_));
    const QString right = msText(to_);
    painter.drawText(plot.right() - metrics.horizontalAdvance(right), labelY, right);

    std::array<int, 3> before{};
    const std::vector<ChartColumn> columns = chartColumns(capture_, from_, to_, plot.width(), &before);
    for (std::size_t c = 0; c < colours_.size(); ++c) {
        const Lane lane = drawLane(painter, plot, c, colours_[c]);
        auto y = [&lane](int level) { return lane.y(level); };

        // A staircase through the columns: a level not known yet is not drawn.
        QPolygonF line;
        int level = before[c];
        if (level >= 0)
            line << QPointF(plot.left(), y(level));
        auto flush = [&] {
            if (line.size() > 1)
                painter.drawPolyline(line);
            line.clear();
        };
        for (const ChartColumn& column : columns) {
            const double x = plot.left() + column.x;
            if (column.low[c] < 0) {
                flush();
                continue;
            }
            if (level >= 0)
                line << QPointF(x, y(level));
            for (const int l : {column.low[c], column.high[c], column.last[c]})
                line << QPointF(x, y(l));
            level = column.last[c];
        }
        if (level >= 0)
            line << QPointF(
                plot.left()
                    + std::min<double>(plot.width(), (lastMs() - from_) / (to_ - from_) * plot.width()),
                y(level));
        painter.setPen(QPen(colours_[c], 1));
        flush();
    }

    const double markTop = plot.bottom() + 3;
    for (const ChartColumn& column : columns) {
        if (column.nack)
            drawNackMark(painter, plot.left() + column.x, markTop);
        if (column.unanswered)
            drawNoAnswerMark(painter, plot.left() + column.x, markTop);
    }
}

}  // namespace monitor
