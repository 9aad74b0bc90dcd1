#include "StripChart.h"

#include "ChartStyle.h"
#include "Commands.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPolygonF>

#include <algorithm>
#include <cmath>

namespace monitor {
namespace {

using Ms = std::chrono::duration<double, std::milli>;

constexpr int kSecondsLabelled = 2;
constexpr QSize kPreferredSize{440, 150};

using namespace chart;

// The line of the known steps [first, end) up to `until`. Steps closer
// together than a pixel share a column: one vertical stroke over the levels
// they touched, so a frame costs at most a few points per column however
// dense the traffic.
template <typename X, typename Y>
QPolygonF staircase(const std::vector<Step>& steps, std::size_t first, std::size_t end, double until, X x,
                    Y y)
{
    struct Column {
        int x;
        int entry, low, high, last;
    };
    std::vector<Column> columns;
    for (std::size_t k = first + 1; k < end; ++k) {
        const int at = qRound(x(steps[k].ms));
        const int level = *steps[k].level;
        if (columns.empty() || columns.back().x != at) {
            const int before = *steps[k - 1].level;
            columns.push_back({at, before, std::min(before, level), std::max(before, level), level});
        } else {
            Column& column = columns.back();
            column.low = std::min(column.low, level);
            column.high = std::max(column.high, level);
            column.last = level;
        }
    }
    QPolygonF line;
    line.reserve(static_cast<qsizetype>(4 * columns.size() + 2));
    line << QPointF(x(steps[first].ms), y(*steps[first].level));
    for (const Column& column : columns) {
        for (const int level : {column.entry, column.low, column.high, column.last})
            line << QPointF(column.x, y(level));
    }
    line << QPointF(x(until), y(*steps[end - 1].level));
    return line;
}

}  // namespace

using record::Exchange;
using record::Verdict;

ChartSeries chartSeries(const record::Record& record, record::TimePoint now, std::chrono::milliseconds span)
{
    const auto& all = record.exchanges();
    const auto& forgotten = record.registersForgotten();
    const auto from = now - span;
    // The record is in time order: the first exchange in view, and the levels before it.
    const auto first
        = std::partition_point(all.begin(), all.end(), [&](const Exchange& e) { return e.at <= from; });
    auto lapse = std::partition_point(forgotten.begin(), forgotten.end(),
                                      [&](record::TimePoint t) { return t <= from; });
    record::Levels before = first == all.begin() ? record.levelsBefore() : std::prev(first)->pwm;
    if (lapse != forgotten.begin() && (first == all.begin() || *std::prev(lapse) >= std::prev(first)->at))
        before = {};  // forgotten since the last exchange before the view

    ChartSeries series;
    const auto step = [&series](double ms, const record::Levels& levels) {
        for (std::size_t c = 0; c < series.steps.size(); ++c) {
            if (levels[c] != series.steps[c].back().level)
                series.steps[c].push_back({ms, levels[c]});
        }
    };
    for (std::size_t c = 0; c < series.steps.size(); ++c)
        series.steps[c].push_back({-Ms(span).count(), before[c]});
    auto e = first;
    while (true) {
        const bool exchange = e != all.end() && e->at <= now;
        const bool lapsed = lapse != forgotten.end() && *lapse <= now;
        if (!exchange && !lapsed)
            break;
        if (lapsed && (!exchange || *lapse <= e->at)) {
            step(Ms(*lapse - now).count(), {});
            ++lapse;
            continue;
        }
        const double ms = Ms(e->at - now).count();
        step(ms, e->pwm);
        if (e->verdict != Verdict::Acknowledged)
            series.marks.push_back({ms, e->verdict});
        ++e;
    }
    return series;
}

StripChart::StripChart(const record::Record& record, std::array<QColor, 3> colours, QWidget* parent)
    : QWidget(parent), record_(record), colours_(colours)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setToolTip(QStringLiteral("PWM LED1, LED2 and LED3 (0..31) over the last %1 s, newest on the right; "
                              "marks under the time axis: a reply not acknowledged (triangle), "
                              "no answer from the bridge or the bridge lost (bar). "
                              "A click on an exchange shows its line in the trace.")
                   .arg(kSpan.count() / 1000));
    frames_.setInterval(kFrame);
    connect(&frames_, &QTimer::timeout, this, &StripChart::frame);
}

QRect StripChart::plotArea() const { return chart::plotArea(rect(), fontMetrics()); }

void StripChart::mousePressEvent(QMouseEvent* event)
{
    const QRect plot = plotArea();
    if (event->button() != Qt::LeftButton || plot.width() <= 0) {
        QWidget::mousePressEvent(event);
        return;
    }
    event->accept();
    // Times before now, as the paint lays them out: now at the plot's right end.
    const double perPixel = Ms(kSpan).count() / plot.width();
    const double start = (std::floor(event->position().x()) - plot.right()) * perPixel;
    const record::TimePoint now = record_.now();
    const auto& exchanges = record_.exchanges();
    const auto msOf = [&exchanges, now](std::size_t i) { return Ms(exchanges[i].at - now).count(); };
    if (const auto picked = chart::pickedAt(start, perPixel, exchanges.size(), msOf))
        emit exchangeClicked(*picked);
}

ChartSeries StripChart::series() const { return chartSeries(record_, record_.now(), kSpan); }

QSize StripChart::sizeHint() const { return kPreferredSize; }

QSize StripChart::minimumSizeHint() const
{
    return {kPreferredSize.width() / 2, kPreferredSize.height() / 2};
}

void StripChart::showEvent(QShowEvent*)
{
    unwatch();  // a show may follow another without a hide between
    watch_ = {connect(&record_, &record::Record::added, this, &StripChart::wake),
              connect(&record_, &record::Record::registersChanged, this, &StripChart::wake)};
    wake();
}

void StripChart::hideEvent(QHideEvent*)
{
    unwatch();
    frames_.stop();
}

void StripChart::unwatch()
{
    for (const QMetaObject::Connection& connection : watch_)
        disconnect(connection);
}

void StripChart::wake()
{
    if (!frames_.isActive()) {
        frames_.start();
        update();
    }
}

// Scrolls one frame; once the newest exchange has left the view every line is
// flat and nothing moves, so the timer rests until the next exchange.
void StripChart::frame()
{
    update();
    std::optional<record::TimePoint> last;
    if (!record_.exchanges().empty())
        last = record_.exchanges().back().at;
    if (!record_.registersForgotten().empty())
        last = std::max(last.value_or(record_.registersForgotten().back()),
                        record_.registersForgotten().back());
    if (!last || *last + kSpan < record_.now())
        frames_.stop();
}

void StripChart::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), kBackground);
    const QFontMetrics metrics = fontMetrics();
    const QRect plot = plotArea();
    if (plot.width() < 2 || plot.height() < 6)
        return;
    const double span = Ms(kSpan).count();
    auto x = [&](double ms) { return plot.right() + ms / span * plot.width(); };

    // Seconds: a faint line each, a label every kSecondsLabelled.
    const auto seconds = static_cast<int>(kSpan.count() / 1000);
    const int labelY = plot.bottom() + kMarkSize + 4 + metrics.ascent();
    for (int s = 0; s <= seconds; ++s) {
        const int at = qRound(x(-1000.0 * s));
        painter.setPen(kGrid);
        painter.drawLine(at, plot.top(), at, plot.bottom());
        if (s % kSecondsLabelled == 0) {
            const QString label = s == 0 ? QStringLiteral("now") : QStringLiteral("-%1 s").arg(s);
            const int w = metrics.horizontalAdvance(label);
            painter.setPen(kText);
            painter.drawText(std::clamp(at - w / 2, plot.left(), plot.right() - w), labelY, label);
        }
    }

    const ChartSeries series = this->series();
    for (std::size_t c = 0; c < series.steps.size(); ++c) {
        const Lane lane = drawLane(painter, plot, c, colours_[c]);
        auto y = [&lane](int level) { return lane.y(level); };

        // Each run of known levels is one line; a level the host does not
        // know (not set yet, or forgotten with the bridge) is a gap.
        const std::vector<Step>& steps = series.steps[c];
        painter.setPen(QPen(colours_[c], 1));
        for (std::size_t k = 0; k < steps.size();) {
            std::size_t end = k;
            while (end < steps.size() && steps[end].level)
                ++end;
            if (end > k)
                painter.drawPolyline(
                    staircase(steps, k, end, end < steps.size() ? steps[end].ms : 0.0, x, y));
            k = end + 1;
        }
    }

    // The marks, just under the time axis.
    painter.setRenderHint(QPainter::Antialiasing);
    const double markTop = plot.bottom() + 3;
    for (const Mark& mark : series.marks) {
        if (mark.verdict == Verdict::NotAcknowledged)
            drawNackMark(painter, x(mark.ms), markTop);
        else
            drawNoAnswerMark(painter, x(mark.ms), markTop);
    }
}

}  // namespace monitor
