#pragma once
// The chart of a review: the three PWM levels of a whole file read back, over
// the span in view, from the file's whole length down to single exchanges.
// However many exchanges the span holds, each pixel column is drawn from a
// summary of the exchanges in it (the lowest and highest level of each
// channel, the last, and whether any failed), so a redraw costs one pass over
// the exchanges in view and a few points per column. Failures are marked
// under the time axis as in the live chart.
//
// The wheel or + and - zoom (about the pointer, or the middle), Left and
// Right scroll, Home shows the whole file. A click picks an exchange (the
// review shows its line in the trace).

#include "Capture.h"

#include <QColor>
#include <QWidget>

#include <array>
#include <optional>
#include <vector>

namespace monitor {

// One pixel column of the chart: the exchanges whose times fall in it.
struct ChartColumn {
    int x = 0;
    std::size_t count = 0;
    std::size_t first = 0;                     // the capture's index of the first
    std::array<int, 3> low{}, high{}, last{};  // per channel; -1 while unknown
    bool nack = false;                         // a reply not acknowledged
    bool unanswered = false;                   // no answer, or the bridge lost
};

// The columns of `width` pixels over [fromMs, toMs), only those holding an
// exchange, left to right; `before` gets the levels before the first.
std::vector<ChartColumn> chartColumns(const record::Capture& capture, double fromMs, double toMs, int width,
                                      std::array<int, 3>* before = nullptr);

class ReviewChart final : public QWidget {
    Q_OBJECT
public:
    // The narrowest span the zoom goes down to.
    static constexpr double kMinSpanMs = 1.0;

    ReviewChart(const record::Capture& capture, std::array<QColor, 3> colours, QWidget* parent = nullptr);

    double fromMs() const { return from_; }
    double toMs() const { return to_; }
    // Shows [fromMs, toMs), kept within the file's span and no narrower than kMinSpanMs.
    void setSpan(double fromMs, double toMs);
    // The file's whole span.
    void showAll();
    // Zooms by `factor` (< 1 closer) keeping `atMs` where it is.
    void zoom(double factor, double atMs);
    // The file grew: a view of the whole file grows with it.
    void grown();

    // The plot's area, and the columns the next paint draws.
    QRect plotArea() const;
    std::vector<ChartColumn> columns() const;
    // The span of the whole file, in t_ms.
    double firstMs() const;
    double lastMs() const;

    QSize sizeHint() const override;

signals:
    void spanChanged();
    // A click on the plot picked the capture's exchange `index`: the first in
    // the pixel column clicked, or else the nearest within a few pixels.
    void exchangeClicked(std::size_t index);

protected:
    void paintEvent(QPaintEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    const record::Capture& capture_;
    std::array<QColor, 3> colours_;
    double from_ = 0;
    double to_ = 1;
    bool all_ = true;  // showing the whole file
};

}  // namespace monitor
