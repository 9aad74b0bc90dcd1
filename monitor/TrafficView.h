#pragma once
// The bridge's traffic as the record keeps it: the strip chart of the PWM
// levels, the trace (one line per exchange: when, what it means, the bytes
// and the verdict), its filter, its choice of time and its Follow button, and
// the counts of what the filter shows: of each verdict since the start or the
// last clear, and of the lines kept. The bus monitor and the demo's board
// window both show it.

#include "Record.h"
#include "TraceSource.h"

#include <QColor>
#include <QWidget>

#include <array>

class QHBoxLayout;
class QLabel;

namespace monitor {

class StripChart;
class TraceView;

// The three LEDs' colours, LED1 to LED3: red, green and blue.
extern const std::array<QColor, 3> kLedColours;

// The count of each verdict, a label each ("AckCount": "Acknowledged: 12",
// "NackCount", "NoAnswerCount", "BridgeLostCount"), added to `row`; indexed
// by record::Verdict.
std::array<QLabel*, record::kVerdicts> countLabels(QWidget* parent, QHBoxLayout& row);
void showCounts(const std::array<QLabel*, record::kVerdicts>& labels, const record::VerdictCounts& counts);

class TrafficView final : public QWidget {
    Q_OBJECT
public:
    explicit TrafficView(record::Record& record, QWidget* parent = nullptr);

private:
    void add();
    void flush();

    record::Record& record_;
    RecordSource source_;
    StripChart* chart_ = nullptr;
    TraceView* trace_ = nullptr;
    bool flushQueued_ = false;
    std::array<QLabel*, record::kVerdicts> counts_{};
    QLabel* shown_ = nullptr;
};

}  // namespace monitor
