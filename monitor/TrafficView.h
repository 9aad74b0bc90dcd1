#pragma once
// The bridge's traffic as the record keeps it: the strip chart of the PWM
// levels, the trace (one line per exchange, in the record's text form) and the
// count of each verdict. The bus monitor and the demo's board window both
// show it.

#include "Record.h"

#include <QColor>
#include <QWidget>

#include <array>

class QLabel;

namespace monitor {

class StripChart;
class TraceView;

// The three LEDs' colours, LED1 to LED3: red, green and blue.
extern const std::array<QColor, 3> kLedColours;

class TrafficView final : public QWidget {
    Q_OBJECT
public:
    explicit TrafficView(record::Record& record, QWidget* parent = nullptr);

private:
    void add();
    void flush();

    record::Record& record_;
    StripChart* chart_ = nullptr;
    TraceView* trace_ = nullptr;
    bool flushQueued_ = false;
    std::array<QLabel*, record::kVerdicts> counts_{};
};

}  // namespace monitor
