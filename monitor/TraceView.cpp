#include "TraceView.h"

#include <QFontDatabase>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>

namespace monitor {
namespace {

constexpr int kMargin = 4;
constexpr int kPreferredRows = 8;

}  // namespace

TraceView::TraceView(const record::Record& record, QWidget* parent)
    : QAbstractScrollArea(parent), record_(record)
{
    QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    fixed.setPointSizeF(font().pointSizeF());
    setFont(fixed);
    // The widest line there is: a long reply and the longest verdict.
    record::Exchange widest;
    widest.sent = record::Bytes(4, 0xFF);
    widest.received = record::Bytes(8, 0xFF);
    widest.verdict = record::Verdict::NotAcknowledged;
    lineWidth_ = fontMetrics().horizontalAdvance(record::text(widest)) + 2 * kMargin;
    setToolTip(QStringLiteral("Output report -> reply, newest last; the last %1 are kept.")
                   .arg(record::Record::kKept));
    setRanges(true);
}

QStringList TraceView::lines() const
{
    QStringList all;
    for (const record::Exchange& exchange : record_.exchanges())
        all << record::text(exchange);
    return all;
}

QStringList TraceView::linesInView() const
{
    const auto& all = record_.exchanges();
    const auto first = static_cast<std::size_t>(verticalScrollBar()->value());
    const std::size_t end = std::min(all.size(), first + static_cast<std::size_t>(rowsInView()));
    QStringList shown;
    for (std::size_t i = first; i < end; ++i)
        shown << record::text(all[i]);
    return shown;
}

void TraceView::follow()
{
    QScrollBar* bar = verticalScrollBar();
    setRanges(bar->value() == bar->maximum());
    viewport()->update();
}

QSize TraceView::sizeHint() const
{
    return {lineWidth_ + verticalScrollBar()->sizeHint().width(),
            kPreferredRows * fontMetrics().lineSpacing() + 2 * kMargin};
}

int TraceView::rowsInView() const
{
    return std::max(1, (viewport()->height() - 2 * kMargin) / fontMetrics().lineSpacing() + 1);
}

void TraceView::setRanges(bool toEnd)
{
    const int rows = static_cast<int>(record_.exchanges().size());
    const int whole = std::max(1, (viewport()->height() - 2 * kMargin) / fontMetrics().lineSpacing());
    QScrollBar* bar = verticalScrollBar();
    bar->setRange(0, std::max(0, rows - whole));
    bar->setPageStep(whole);
    if (toEnd)
        bar->setValue(bar->maximum());
    horizontalScrollBar()->setRange(0, std::max(0, lineWidth_ - viewport()->width()));
    horizontalScrollBar()->setPageStep(viewport()->width());
}

void TraceView::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    QScrollBar* bar = verticalScrollBar();
    setRanges(bar->value() == bar->maximum());
}

void TraceView::paintEvent(QPaintEvent*)
{
    QPainter painter(viewport());
    painter.fillRect(viewport()->rect(), palette().base());
    painter.setPen(palette().text().color());
    const int spacing = fontMetrics().lineSpacing();
    int y = kMargin + fontMetrics().ascent();
    const int x = kMargin - horizontalScrollBar()->value();
    for (const QString& line : linesInView()) {
        painter.drawText(x, y, line);
        y += spacing;
    }
}

}  // namespace monitor
