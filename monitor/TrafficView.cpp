#include "TrafficView.h"

#include "StripChart.h"

#include <QFontDatabase>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QVBoxLayout>

namespace monitor {
namespace {

template <typename W>
W* named(W* widget, const char* name)
{
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

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
}};

}  // namespace

const std::array<QColor, 3> kLedColours{QColor(255, 72, 72), QColor(64, 208, 96), QColor(80, 144, 255)};

TrafficView::TrafficView(record::Record& record, QWidget* parent) : QWidget(parent), record_(record)
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
    trace_ = named(new QPlainTextEdit(traceBox), "Trace");
    trace_->setReadOnly(true);
    trace_->setUndoRedoEnabled(false);
    trace_->setLineWrapMode(QPlainTextEdit::NoWrap);
    trace_->setMaximumBlockCount(kTraceLines);
    QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    fixed.setPointSizeF(font().pointSizeF());
    trace_->setFont(fixed);
    trace_->setToolTip(
        QStringLiteral("Output report -> reply, newest last; the last %1 are kept.").arg(kTraceLines));
    auto* countRow = new QHBoxLayout;
    for (std::size_t i = 0; i < kCounts.size(); ++i) {
        counts_[i] = named(new QLabel(traceBox), kCounts[i].name);
        countRow->addWidget(counts_[i]);
    }
    countRow->addStretch(1);
    traceColumn->addWidget(trace_, 1);
    traceColumn->addLayout(countRow);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->addWidget(chartBox, 1);
    column->addWidget(traceBox, 1);

    for (const record::Exchange& exchange : record_.exchanges())
        pending_.push_back(record::text(exchange));
    flush();
    connect(&record_, &record::Record::added, this, &TrafficView::add);
    connect(&record_, &record::Record::cleared, this, &TrafficView::clear);
}

void TrafficView::add(const record::Exchange& exchange)
{
    pending_.push_back(record::text(exchange));
    if (pending_.size() > kTraceLines)
        pending_.pop_front();  // would be dropped from the trace at once anyway
    if (!flushQueued_) {
        flushQueued_ = true;
        QMetaObject::invokeMethod(this, &TrafficView::flush, Qt::QueuedConnection);
    }
}

// Exchanges come faster than anyone can read them (a ramp at 10 ms, a track
// bar dragged): the lines that came since the event loop last ran are added
// in one go, and the counts shown once, before the window is next painted.
void TrafficView::flush()
{
    flushQueued_ = false;
    if (!pending_.isEmpty()) {
        trace_->appendPlainText(pending_.join(QLatin1Char('\n')));
        pending_.clear();
    }
    showCounts();
}

void TrafficView::clear()
{
    pending_.clear();
    trace_->clear();
    showCounts();
    chart_->update();
}

void TrafficView::showCounts()
{
    for (std::size_t i = 0; i < kCounts.size(); ++i)
        counts_[i]->setText(QStringLiteral("%1: %2")
                                .arg(QLatin1String(kCounts[i].caption))
                                .arg(record_.count(kCounts[i].verdict)));
}

}  // namespace monitor
