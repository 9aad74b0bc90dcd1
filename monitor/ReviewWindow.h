#pragma once
// A log or a saved record opened for review, with no bridge: the chart over
// the file's whole span, zoomable and scrollable down to single exchanges;
// the trace with its filter, its choice of time and the counts; the lines
// skipped, by number. The file is read on a thread of its own, with its
// progress shown and a button to cancel; a log still being written can be
// followed. Open... reads another file in its place.

#include "Loading.h"
#include "TraceSource.h"

#include <QTimer>
#include <QWidget>

#include <array>
#include <functional>
#include <memory>

class QCheckBox;
class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;
class QScrollBar;

namespace monitor {

class ReviewChart;
class TraceView;

// Asks for a log or a saved record to open, in a dialog named `name`;
// `chosen` gets the file once one is chosen.
void askForLog(QWidget* parent, const char* name, const std::function<void(const QString&)>& chosen);

class ReviewWindow final : public QWidget {
    Q_OBJECT
public:
    // How often a followed file is looked at for new lines.
    static constexpr std::chrono::milliseconds kFollowEvery{500};

    explicit ReviewWindow(QWidget* parent = nullptr);
    ~ReviewWindow() override;

    // Reads `path` in place of what was shown.
    void open(const QString& path);
    const record::Loading* loading() const { return loading_.get(); }

signals:
    // The read ended (at the file's end, cancelled, or failed).
    void loaded();

private:
    void progressed(qint64 bytes, qint64 total);
    void finished(bool cancelled, const QString& error);
    void showSpan();
    void scrolled(int value);
    void lookForMore();
    void build();

    std::unique_ptr<record::Loading> loading_;
    std::unique_ptr<CaptureSource> source_;
    QLabel* file_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QCheckBox* followFile_ = nullptr;
    QLabel* status_ = nullptr;
    QWidget* body_ = nullptr;
    ReviewChart* chart_ = nullptr;
    QScrollBar* chartScroll_ = nullptr;
    TraceView* trace_ = nullptr;
    std::array<QLabel*, record::kVerdicts> counts_{};
    QLabel* shown_ = nullptr;
    QListWidget* skipped_ = nullptr;
    std::size_t skippedShown_ = 0;
    QTimer follow_;
    bool adjusting_ = false;
};

}  // namespace monitor
