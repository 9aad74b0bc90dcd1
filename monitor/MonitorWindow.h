#pragma once
// The bus monitor: a window beside the panel showing the record of every
// exchange with the bridge, whichever bridge it is: the chart of the PWM
// levels, the trace and the counts (TrafficView), what the host believes the
// chip's registers hold, and buttons to save the record as JSON lines, to
// clear it, and to open a log or saved record for review. A line under them
// says what became of the log, when there is one.

#include "Record.h"

#include <QWidget>

#include <array>

class QLabel;
class QPushButton;

namespace monitor {

class ReviewWindow;

class MonitorWindow final : public QWidget {
    Q_OBJECT
public:
    explicit MonitorWindow(record::Record& record, QWidget* parent = nullptr);

    // Shows `text` on the log's line.
    void showLog(const QString& text);

    // Saves the record to `path` (what the Save button's dialog does) and
    // says how it went on the save line.
    void saveTo(const QString& path);
    // Opens `path` for review in a window of its own (what Open... does once
    // a file is chosen).
    ReviewWindow* review(const QString& path);

private:
    void askWhereToSave();
    void showRegisters();

    record::Record& record_;
    std::array<QLabel*, 7> registers_{};
    record::Registers shown_;
    bool registersQueued_ = false;
    QPushButton* save_ = nullptr;
    QPushButton* clear_ = nullptr;
    QLabel* saveStatus_ = nullptr;
    QLabel* logStatus_ = nullptr;
};

// Places `window` to the right of `panel`, top edges level; on the left when
// the screen has no room on the right; kept on the screen either way.
void placeBeside(QWidget& window, const QWidget& panel);

}  // namespace monitor
