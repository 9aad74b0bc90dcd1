#pragma once
// The trace: one line per exchange of its source (the live record, or a file
// read back), newest last, each saying
// when (milliseconds since the start, or the time of day), what the command
// means in the panel's words and units, the bytes and the verdict
// (record::traceLine). A filter shows all exchanges, only the failures or
// only one register's. It reads the record when it paints, and only the
// lines in view, so an exchange costs it nothing until the window is next
// painted.
//
// It follows the newest line until the reader scrolls back; then the lines
// in view stay where they are, the same exchanges, while new ones arrive and
// the oldest are dropped, until the reader scrolls to the end again or asks
// to follow (follow(true)).

#include "Trace.h"
#include "TraceSource.h"

#include <QAbstractScrollArea>
#include <QHBoxLayout>
#include <QStringList>

#include <cstdint>
#include <deque>
#include <optional>
#include <utility>

namespace monitor {

class TraceView final : public QAbstractScrollArea {
    Q_OBJECT
public:
    // `source` must outlive the view.
    explicit TraceView(const TraceSource& source, QWidget* parent = nullptr);

    // Every line the filter shows, oldest first.
    QStringList lines() const;
    // The lines in view, top to bottom.
    QStringList linesInView() const;
    // How many exchanges the filter shows, of those the source holds.
    std::size_t shown() const { return rows_.size(); }

    void setFilter(const record::Filter& filter);
    const record::Filter& filter() const { return filter_; }
    void setTimeShown(record::TimeShown shown);

    // The row of choices a window puts beside the trace: the filter
    // ("Filter"), the time shown ("TimeShown") and "Follow".
    QHBoxLayout* choices(QWidget* parent);

    // Shows the exchange numbered `number` (as the source numbers them) in
    // the middle of the view, marked, and stops following: what a click on a
    // chart does. One the filter hides is not marked; the lines about its
    // time are shown.
    void select(std::uint64_t number);
    std::optional<std::uint64_t> selected() const { return selected_; }

    // Follows the newest line (true), or stays on the lines in view (false).
    void follow(bool on);
    bool following() const { return following_; }

    // Brings the trace up to its source (called once per batch of exchanges).
    void refresh();

    QSize sizeHint() const override;

signals:
    void followingChanged(bool following);
    // The reader chose another filter.
    void filterChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void addLine(QStringList& lines, std::size_t row) const;
    int rowsInView() const;
    // The rows in view: [first, end).
    std::pair<std::size_t, std::size_t> rowsShown() const;
    void setRanges();
    void scrolled(int value);
    void setFollowing(bool on);

    const TraceSource& source_;
    record::Filter filter_;
    record::TimeShown timeShown_ = record::TimeShown::SinceStart;
    QChar decimalSeparator_;
    std::deque<std::uint64_t> rows_;  // the numbers of the exchanges the filter shows
    std::uint64_t scannedFirst_ = 0;  // the source's first number at the last refresh
    std::uint64_t scannedEnd_ = 0;    // the number after the last the filter has seen
    bool following_ = true;
    std::uint64_t top_ = 0;  // while not following: the number of the exchange at the top
    std::optional<std::uint64_t> selected_;
    bool adjusting_ = false;
    int lineWidth_ = 0;
};

}  // namespace monitor
