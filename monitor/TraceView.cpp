#include "TraceView.h"

#include "Named.h"

#include <QComboBox>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLocale>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>

#include <algorithm>

namespace monitor {
namespace {

constexpr int kMargin = 4;
constexpr int kPreferredRows = 8;

// The filter's choices, in the order of its list: all, the failures, then
// each register as the panel's message line names it.
std::vector<std::pair<QString, record::Filter>> filterChoices()
{
    using Kind = record::Filter::Kind;
    std::vector<std::pair<QString, record::Filter>> choices{
        {QStringLiteral("All exchanges"), {Kind::All, {}}},
        {QStringLiteral("Failures (NACK, no answer, bridge lost)"), {Kind::Failures, {}}}};
    for (const auto control :
         {driver::SetupControl::IledPeak, driver::SetupControl::PwmLed1, driver::SetupControl::PwmLed2,
          driver::SetupControl::PwmLed3, driver::SetupControl::IledUp, driver::SetupControl::IledDown,
          driver::SetupControl::GdStart})
        choices.push_back(
            {driver::registerName(control) + QStringLiteral(" only"), {Kind::Register, control}});
    return choices;
}

}  // namespace

TraceView::TraceView(const TraceSource& source, QWidget* parent)
    : QAbstractScrollArea(parent), source_(source)
{
    const QString point = QLocale().decimalPoint();
    decimalSeparator_ = point.isEmpty() ? QLatin1Char('.') : point.front();
    QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    fixed.setPointSizeF(font().pointSizeF());
    setFont(fixed);
    // The widest line there is: a long reply, the longest meaning and verdict.
    record::Exchange widest;
    widest.sent = {0, 0xFF, 0xFE, 0xFE};
    widest.received = record::Bytes(8, 0xFF);
    widest.verdict = record::Verdict::NotAcknowledged;
    lineWidth_ = fontMetrics().horizontalAdvance(
                     record::traceLine(record::sinceStartText(1e7), widest, decimalSeparator_))
        + 2 * kMargin;
    setToolTip(QStringLiteral("When, what it means, output report -> reply and verdict, newest last; "
                              "the last %1 are kept. Scroll back to stop following the newest line.")
                   .arg(record::Record::kKept));
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, &TraceView::scrolled);
    refresh();
}

// Between an exchange and the next refresh the source may have dropped the
// oldest rows: those are no longer there to show.
void TraceView::addLine(QStringList& lines, std::size_t row) const
{
    const std::uint64_t first = source_.firstNumber();
    if (rows_[row] < first || rows_[row] >= first + source_.size())
        return;
    const auto i = static_cast<std::size_t>(rows_[row] - first);
    const QString time = timeShown_ == record::TimeShown::SinceStart ? record::sinceStartText(source_.tMs(i))
                                                                     : record::timeOfDayText(source_.time(i));
    lines << record::traceLine(time, source_.exchange(i), decimalSeparator_);
}

QStringList TraceView::lines() const
{
    QStringList all;
    for (std::size_t row = 0; row < rows_.size(); ++row)
        addLine(all, row);
    return all;
}

std::pair<std::size_t, std::size_t> TraceView::rowsShown() const
{
    const auto first = static_cast<std::size_t>(verticalScrollBar()->value());
    return {first, std::min(rows_.size(), first + static_cast<std::size_t>(rowsInView()))};
}

QStringList TraceView::linesInView() const
{
    const auto [first, end] = rowsShown();
    QStringList shown;
    for (std::size_t row = first; row < end; ++row)
        addLine(shown, row);
    return shown;
}

QHBoxLayout* TraceView::choices(QWidget* parent)
{
    auto* filter = named(new QComboBox(parent), "Filter");
    filter->setToolTip(QStringLiteral("Which exchanges the trace shows."));
    for (const auto& [caption, choice] : filterChoices())
        filter->addItem(caption);
    auto* timeShown = named(new QComboBox(parent), "TimeShown");
    timeShown->setToolTip(QStringLiteral("How the trace says when: milliseconds since the start (t_ms), "
                                         "or the time of day."));
    timeShown->addItems({QStringLiteral("ms since start"), QStringLiteral("Time of day")});
    auto* follow = named(new QPushButton(QStringLiteral("Follow"), parent), "Follow");
    follow->setCheckable(true);
    follow->setChecked(following());
    follow->setToolTip(QStringLiteral("Keeps the newest exchange in view; scrolling back stops it."));
    auto* choiceRow = new QHBoxLayout;
    choiceRow->addWidget(filter, 1);
    choiceRow->addWidget(timeShown);
    choiceRow->addWidget(follow);

    const auto filterChosen = [this](int index) {
        setFilter(filterChoices().at(static_cast<std::size_t>(index)).second);
        emit filterChanged();
    };
    connect(filter, &QComboBox::currentIndexChanged, this, filterChosen);
    const auto timeChosen = [this](int index) {
        setTimeShown(index == 0 ? record::TimeShown::SinceStart : record::TimeShown::TimeOfDay);
    };
    connect(timeShown, &QComboBox::currentIndexChanged, this, timeChosen);
    connect(follow, &QPushButton::clicked, this, &TraceView::follow);
    connect(this, &TraceView::followingChanged, follow, &QPushButton::setChecked);
    return choiceRow;
}

void TraceView::setFilter(const record::Filter& filter)
{
    filter_ = filter;
    rows_.clear();
    scannedEnd_ = source_.firstNumber();
    refresh();
}

void TraceView::setTimeShown(record::TimeShown shown)
{
    timeShown_ = shown;
    viewport()->update();
}

void TraceView::select(std::uint64_t number)
{
    selected_ = number;
    const auto at
        = std::partition_point(rows_.begin(), rows_.end(), [number](std::uint64_t n) { return n < number; });
    const auto row = static_cast<std::size_t>(at - rows_.begin());
    const auto above = static_cast<std::size_t>(rowsInView() / 2);
    if (!rows_.empty())
        top_ = rows_[std::min(rows_.size() - 1, row - std::min(row, above))];
    setFollowing(false);
    setRanges();
    viewport()->update();
}

void TraceView::follow(bool on)
{
    setFollowing(on);
    refresh();
}

void TraceView::setFollowing(bool on)
{
    if (on == following_)
        return;
    following_ = on;
    emit followingChanged(on);
}

// Only what is new is filtered: the rows are the exchanges' numbers, so those
// the source dropped (the live record's oldest) leave from the front, and the
// rest stay as they were.
void TraceView::refresh()
{
    const std::uint64_t first = source_.firstNumber();
    const std::uint64_t end = first + source_.size();
    if (first < scannedFirst_ || end < scannedEnd_) {  // cleared: numbered from 0 again
        rows_.clear();
        scannedEnd_ = first;
        selected_.reset();
    }
    scannedFirst_ = first;
    while (!rows_.empty() && rows_.front() < first)
        rows_.pop_front();
    for (std::uint64_t n = std::max(scannedEnd_, first); n < end; ++n) {
        const auto i = static_cast<std::size_t>(n - first);
        if (filter_.accepts(source_.verdict(i), source_.command(i)))
            rows_.push_back(n);
    }
    scannedEnd_ = end;
    setRanges();
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

// The range for the rows shown; the top row is the newest page's while
// following, else the exchange that was at the top (or, once the record has
// dropped it, the oldest kept).
void TraceView::setRanges()
{
    const int rows = static_cast<int>(rows_.size());
    const int whole = std::max(1, (viewport()->height() - 2 * kMargin) / fontMetrics().lineSpacing());
    QScrollBar* bar = verticalScrollBar();
    adjusting_ = true;
    bar->setRange(0, std::max(0, rows - whole));
    bar->setPageStep(whole);
    if (following_) {
        bar->setValue(bar->maximum());
    } else {
        const auto top
            = std::partition_point(rows_.begin(), rows_.end(), [this](std::uint64_t n) { return n < top_; });
        bar->setValue(static_cast<int>(top - rows_.begin()));
    }
    adjusting_ = false;
    horizontalScrollBar()->setRange(0, std::max(0, lineWidth_ - viewport()->width()));
    horizontalScrollBar()->setPageStep(viewport()->width());
}

// The reader moved the scroll bar: at the end it follows, elsewhere it stays
// on the exchange now at the top.
void TraceView::scrolled(int value)
{
    if (adjusting_)
        return;
    QScrollBar* bar = verticalScrollBar();
    if (value < static_cast<int>(rows_.size()))
        top_ = rows_[static_cast<std::size_t>(value)];
    setFollowing(value == bar->maximum());
}

void TraceView::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    setRanges();
}

void TraceView::paintEvent(QPaintEvent*)
{
    QPainter painter(viewport());
    painter.fillRect(viewport()->rect(), palette().base());
    painter.setPen(palette().text().color());
    const int spacing = fontMetrics().lineSpacing();
    int y = kMargin + fontMetrics().ascent();
    const int x = kMargin - horizontalScrollBar()->value();
    const auto [first, end] = rowsShown();
    for (std::size_t row = first; row < end; ++row) {
        QStringList line;
        addLine(line, row);
        if (line.isEmpty())
            continue;
        const bool marked = selected_ == rows_[row];
        if (marked)
            painter.fillRect(0, y - fontMetrics().ascent(), viewport()->width(), spacing,
                             palette().highlight());
        painter.setPen(marked ? palette().highlightedText().color() : palette().text().color());
        painter.drawText(x, y, line.front());
        y += spacing;
    }
}

}  // namespace monitor
