#pragma once
// The bridge's traffic as the record keeps it: the strip chart of the PWM
// levels, the trace (one line per exchange, in the record's text form) and the
// count of each verdict. The bus monitor and the demo's board window both
// show it.

#include "Record.h"

#include <QColor>
#include <QStringList>
#include <QWidget>

#include <array>

class QLabel;
class QPlainTextEdit;

namespace monitor {

class StripChart;

// The three LEDs' colours, LED1 to LED3: red, green and blue.
extern const std::array<QColor, 3> kLedColours;

class TrafficView final : public QWidget {
    Q_OBJECT
public:
    // Lines the trace keeps; older ones are dropped as new ones come.
    static constexpr int kTraceLines = 1000;

    explicit TrafficView(record::Record& record, QWidget* parent = nullptr);

private:
    void add(const record::Exchange& exchange);
    void flush();
    void clear();
    void showCounts();

    record::Record& record_;
    StripChart* chart_ = nullptr;
    QPlainTextEdit* trace_ = nullptr;
    QStringList pending_;  // lines not yet in the trace, oldest first
    bool flushQueued_ = false;
    std::array<QLabel*, record::kVerdicts> counts_{};
};

}  // namespace monitor
