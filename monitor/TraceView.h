#pragma once
// The trace: one line per exchange the record keeps, in the record's text
// form, newest last. It reads the record when it paints, and only the lines in
// view, so an exchange costs it nothing until the window is next painted; it
// follows the newest line while scrolled to the end.

#include "Record.h"

#include <QAbstractScrollArea>
#include <QStringList>

namespace monitor {

class TraceView final : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit TraceView(const record::Record& record, QWidget* parent = nullptr);

    // Every line the trace holds, oldest first (the record's exchanges).
    QStringList lines() const;
    // The lines in view, top to bottom.
    QStringList linesInView() const;

    // Brings the scroll range up to the record (called once per batch of exchanges).
    void follow();

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    int rowsInView() const;
    void setRanges(bool toEnd);

    const record::Record& record_;
    int lineWidth_ = 0;
};

}  // namespace monitor
