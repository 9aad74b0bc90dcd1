#include "TrafficView.h"

#include "Named.h"

#include "StripChart.h"
#include "TraceView.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace monitor {
namespace {

struct Count {
    record::Verdict verdict;
    const char* name;
    const char* caption;
};
constexpr std::array<Count, record::kVerdicts> kCounts{{
    {record::Verdict::Acknowledged, "AckCount", "Acknowledged"},
    {record::Verdict::NotAcknowledged, "NackCount", "NACK"},
    {record::Verdict::NoAnswer, "NoAnswerCount", "No answer"},
    {record::Verdict::BridgeLost, "BridgeLostCount", "Bridge lost"},
    {record::Verdict::Stray, "StrayCount", "Stray"},
}};

}  // namespace

std::array<QLabel*, record::kVerdicts> countLabels(QWidget* parent, QHBoxLayout& row)
{
    std::array<QLabel*, record::kVerdicts> labels{};
    for (std::size_t i = 0; i < kCounts.size(); ++i) {
        labels[static_cast<std::size_t>(kCounts[i].verdict)] = named(new QLabel(parent), kCounts[i].name);
        row.addWidget(labels[static_cast<std::size_t>(kCounts[i].verdict)]);
    }
    row.addStretch(1);
    return labels;
}

void showCounts(const std::array<QLabel*, record::kVerdicts>& labels, const record::VerdictCounts& counts)
{
    for (const Count& count : kCounts) {
        const auto i = static_cast<std::size_t>(count.verdict);
        labels[i]->setText(QStringLiteral("%1: %2").arg(QLatin1String(count.caption)).arg(counts[i]));
    }
}

const std::array<QColor, 3> kLedColours{QColor(255, 72, 72), QColor(64, 208, 96), QColor(80, 144, 255)};

TrafficView::TrafficView(record::Record& record, QWidget* parent)
    : QWidget(parent), record_(record), source_(record)
{
    auto* chartBox
        = named(new QGroupBox(
                    QStringLiteral("PWM levels, the last %1 s").arg(StripChart::kSpan.count() / 1000), this),
                "ChartBox");
    auto* chartColumn = new QVBoxLayout(chartBox);
    chart_ = named(new StripChart(record_, kLedColours, chartBox), "Chart");
    chartColumn->addWidget(chart_);

    auto* traceBox = named(new QGroupBox(QStringLiteral("Trace"), this), "TraceBox");
    auto* traceColumn = new QVBoxLayout(traceBox);
    trace_ = named(new TraceView(source_, traceBox), "Trace");

    traceColumn->addLayout(trace_->choices(traceBox));
    const auto showLine = [this](std::size_t index) { trace_->select(source_.firstNumber() + index); };
    connect(chart_, &StripChart::exchangeClicked, this, showLine);
    connect(trace_, &TraceView::filterChanged, this, &TrafficView::flush);
    auto* countRow = new QHBoxLayout;
    counts_ = countLabels(traceBox, *countRow);
    shown_ = named(new QLabel(traceBox), "ShownCount");
    shown_->setToolTip(QStringLiteral("Exchanges the trace shows, of those kept."));
    countRow->addWidget(shown_);
    traceColumn->addWidget(trace_, 1);
    traceColumn->addLayout(countRow);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->addWidget(chartBox, 1);
    column->addWidget(traceBox, 1);

    flush();
    connect(&record_, &record::Record::added, this, &TrafficView::add);
    connect(&record_, &record::Record::cleared, this, &TrafficView::flush);
}

void TrafficView::add()
{
    if (!flushQueued_) {
        flushQueued_ = true;
        QMetaObject::invokeMethod(this, &TrafficView::flush, Qt::QueuedConnection);
    }
}

// Exchanges come faster than anyone can read them (a ramp at 10 ms, a track
// bar dragged): the trace and the counts catch up with the record once the
// event loop runs, before the window is next painted.
void TrafficView::flush()
{
    flushQueued_ = false;
    trace_->refresh();
    shown_->setText(QStringLiteral("Shown: %1 of %2").arg(trace_->shown()).arg(record_.exchanges().size()));
    showCounts(counts_, record_.counts(trace_->filter()));
    chart_->update();
}
}  // namespace monitor
