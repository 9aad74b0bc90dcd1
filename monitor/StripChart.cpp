#include "StripChart.h"

#include "ChartStyle.h"
#include "Commands.h"

#include <QPainter>
#include <QPolygonF>

#include <algorithm>

namespace monitor {
namespace {

using Ms = std::chrono::duration<double, std::milli>;

constexpr int kSecondsLabelled = 2;
constexpr QSize kPreferredSize{440, 150};

using namespace chart;

}  // namespace

using record::Exchange;
using record::Verdict;

ChartSeries chartSeries(const record::Record& record, record::TimePoint now, std::chrono::milliseconds span)
{
    const auto& all = record.exchanges();
    const auto from = now - span;
    // The record is in time order: the first exchange in view, and the levels before it.
    const auto first
        = std::partition_point(all.begin(), all.end(), [&](const Exchange& e) { return e.at <= from; });
    const record::Levels before = first == all.begin() ? record.levelsBefore() : std::prev(first)->pwm;

    ChartSeries series;
    for (std::size_t c = 0; c < series.steps.size(); ++c)
        series.steps[c].push_back({-Ms(span).count(), before[c]});
    for (auto e = first; e != all.end() && e->at <= now; ++e) {
        const double ms = Ms(e->at - now).count();
        for (std::size_t c = 0; c < series.steps.size(); ++c) {
            if (e->pwm[c] != series.steps[c].back().level)
                series.steps[c].push_back({ms, e->pwm[c]});
        }
        if (e->verdict != Verdict::Acknowledged)
            series.marks.push_back({ms, e->verdict});
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
                              "no answer from the bridge or the bridge lost (bar).")
                   .arg(kSpan.count() / 1000));
    frames_.setInterval(kFrame);
    connect(&frames_, &QTimer::timeout, this, &StripChart::frame);
}

ChartSeries StripChart::series() const { return chartSeries(record_, record_.now(), kSpan); }

QSize StripChart::sizeHint() const { return kPreferredSize; }

QSize StripChart::minimumSizeHint() const
{
    return {kPreferredSize.width() / 2, kPreferredSize.height() / 2};
}

void StripChart::showEvent(QShowEvent*)
{
    watch_ = connect(&record_, &record::Record::added, this, &StripChart::wake);
    wake();
}

void StripChart::hideEvent(QHideEvent*)
{
    disconnect(watch_);
    frames_.stop();
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
    const auto& all = record_.exchanges();
    if (all.empty() || all.back().at + kSpan < record_.now())
        frames_.stop();
}

void StripChart::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), kBackground);
    const QFontMetrics metrics = fontMetrics();
    const int labelWidth = metrics.horizontalAdvance(QStringLiteral("LED3")) + 8;
    const QRect plot = rect().adjusted(labelWidth, 4, -8, -(metrics.height() + kMarkSize + 6));
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

        // Steps closer together than a pixel share a column: one vertical
        // stroke over the levels they touched, so a frame costs at most a few
        // points per column however dense the traffic.
        struct Column {
            int x;
            int entry, low, high, last;
        };
        // A level the host has not set yet is not drawn: the line starts at
        // the first step it knows (once known, a level stays known).
        const std::vector<Step>& steps = series.steps[c];
        const auto known = std::find_if(steps.begin(), steps.end(), [](const Step& s) { return s.level; });
        if (known == steps.end())
            continue;
        const auto first = static_cast<std::size_t>(known - steps.begin());
        std::vector<Column> columns;
        for (std::size_t k = first + 1; k < steps.size(); ++k) {
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
        line << QPointF(first == 0 ? plot.left() : x(known->ms), y(*known->level));
        for (const Column& column : columns) {
            for (const int level : {column.entry, column.low, column.high, column.last})
                line << QPointF(column.x, y(level));
        }
        line << QPointF(x(0), y(*steps.back().level));
        painter.setPen(QPen(colours_[c], 1));
        painter.drawPolyline(line);
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
