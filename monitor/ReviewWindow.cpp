#include "ReviewWindow.h"

#include "Named.h"

#include "ReviewChart.h"
#include "TraceView.h"
#include "TrafficView.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>

#include <cmath>

namespace monitor {
namespace {

constexpr QSize kWindowSize{760, 720};
constexpr int kProgressSteps = 1000;
constexpr int kScrollSteps = 10000;

}  // namespace

ReviewWindow::ReviewWindow(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("ReviewWindow"));
    setWindowTitle(QStringLiteral("KRL7741 review"));

    auto* openButton = named(new QPushButton(QStringLiteral("Open..."), this), "Open");
    openButton->setToolTip(QStringLiteral("Opens a log (--log) or a saved record for review."));
    file_ = named(new QLabel(this), "File");
    progress_ = named(new QProgressBar(this), "Progress");
    progress_->setRange(0, kProgressSteps);
    cancel_ = named(new QPushButton(QStringLiteral("Cancel"), this), "Cancel");
    cancel_->setToolTip(QStringLiteral("Stops reading; what was read stays."));
    cancel_->setEnabled(false);
    followFile_ = named(new QCheckBox(QStringLiteral("Follow the file"), this), "FollowFile");
    followFile_->setToolTip(
        QStringLiteral("Reads the lines added to the file as it grows (a log still being written)."));
    status_ = named(new QLabel(this), "LoadStatus");

    auto* top = new QHBoxLayout;
    top->addWidget(openButton);
    top->addWidget(file_, 1);
    top->addWidget(progress_);
    top->addWidget(cancel_);
    top->addWidget(followFile_);
    auto* column = new QVBoxLayout(this);
    column->addLayout(top);
    column->addWidget(status_);
    resize(kWindowSize);

    const auto chosen = [this](const QString& path) { open(path); };
    const auto askWhichFile = [this, chosen] { askForLog(this, "OpenDialog", chosen); };
    connect(openButton, &QPushButton::clicked, this, askWhichFile);
    connect(cancel_, &QPushButton::clicked, this, [this] {
        if (loading_)
            loading_->cancel();
    });
    follow_.setInterval(kFollowEvery);
    connect(&follow_, &QTimer::timeout, this, &ReviewWindow::lookForMore);
    const auto followChanged = [this](bool on) {
        if (on)
            follow_.start();
        else
            follow_.stop();
    };
    connect(followFile_, &QCheckBox::toggled, this, followChanged);
    open("");
}

ReviewWindow::~ReviewWindow() = default;

void askForLog(QWidget* parent, const char* name, const std::function<void(const QString&)>& chosen)
{
    auto* dialog = new QFileDialog(parent, QStringLiteral("Open a log or a saved record"), QString(),
                                   QStringLiteral("JSON lines (*.jsonl);;All files (*)"));
    dialog->setObjectName(QString::fromLatin1(name));
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(dialog, &QFileDialog::fileSelected, parent, chosen);
    dialog->open();
}

void ReviewWindow::open(const QString& path)
{
    delete body_;
    body_ = nullptr;
    trace_ = nullptr;
    source_.reset();
    loading_ = std::make_unique<record::Loading>(path);
    source_ = std::make_unique<CaptureSource>(loading_->capture());
    skippedShown_ = 0;
    build();
    file_->setText(path.isEmpty() ? QStringLiteral("No file open.") : QFileInfo(path).fileName());
    file_->setToolTip(path);
    setWindowTitle(path.isEmpty() ? QStringLiteral("KRL7741 review")
                                  : QStringLiteral("%1 - KRL7741 review").arg(QFileInfo(path).fileName()));
    progress_->setValue(0);
    if (path.isEmpty())
        return;
    connect(loading_.get(), &record::Loading::progressed, this, &ReviewWindow::progressed);
    connect(loading_.get(), &record::Loading::finished, this, &ReviewWindow::finished);
    status_->setText(QStringLiteral("Reading..."));
    cancel_->setEnabled(true);
    loading_->read(false);
}

void ReviewWindow::build()
{
    body_ = new QWidget(this);
    auto* column = new QVBoxLayout(body_);
    column->setContentsMargins(0, 0, 0, 0);

    auto* chartBox = named(new QGroupBox(QStringLiteral("PWM levels"), body_), "ChartBox");
    auto* chartColumn = new QVBoxLayout(chartBox);
    chart_ = named(new ReviewChart(loading_->capture(), kLedColours, chartBox), "Chart");
    chartScroll_ = named(new QScrollBar(Qt::Horizontal, chartBox), "ChartScroll");
    chartScroll_->setRange(0, 0);
    auto* whole = named(new QPushButton(QStringLiteral("Whole file"), chartBox), "WholeFile");
    auto* scrollRow = new QHBoxLayout;
    scrollRow->addWidget(chartScroll_, 1);
    scrollRow->addWidget(whole);
    chartColumn->addWidget(chart_, 1);
    chartColumn->addLayout(scrollRow);

    auto* traceBox = named(new QGroupBox(QStringLiteral("Trace"), body_), "TraceBox");
    auto* traceColumn = new QVBoxLayout(traceBox);
    trace_ = named(new TraceView(*source_, traceBox), "Trace");
    traceColumn->addLayout(trace_->choices(traceBox));
    traceColumn->addWidget(trace_, 1);
    auto* countRow = new QHBoxLayout;
    counts_ = countLabels(traceBox, *countRow);
    shown_ = named(new QLabel(traceBox), "ShownCount");
    countRow->addWidget(shown_);
    traceColumn->addLayout(countRow);

    auto* skippedBox = named(new QGroupBox(QStringLiteral("Lines skipped"), body_), "SkippedBox");
    auto* skippedColumn = new QVBoxLayout(skippedBox);
    skipped_ = named(new QListWidget(skippedBox), "Skipped");
    skipped_->setMaximumHeight(5 * skipped_->fontMetrics().lineSpacing());
    skippedColumn->addWidget(skipped_);

    column->addWidget(chartBox, 3);
    column->addWidget(traceBox, 4);
    column->addWidget(skippedBox, 1);
    static_cast<QVBoxLayout*>(layout())->addWidget(body_, 1);

    connect(chart_, &ReviewChart::spanChanged, this, &ReviewWindow::showSpan);
    connect(chartScroll_, &QScrollBar::valueChanged, this, &ReviewWindow::scrolled);
    connect(whole, &QPushButton::clicked, chart_, &ReviewChart::showAll);
    const auto showLine = [this](std::size_t index) { trace_->select(index); };
    connect(chart_, &ReviewChart::exchangeClicked, this, showLine);
    const auto filtered = [this] { progressed(0, 0); };
    connect(trace_, &TraceView::filterChanged, this, filtered);
    trace_->follow(false);
    progressed(0, 0);
}

// A batch came in: the chart, the trace, the counts and the lines skipped catch up.
void ReviewWindow::progressed(qint64 bytes, qint64 total)
{
    if (total > 0)
        progress_->setValue(static_cast<int>(std::llround(double(bytes) / double(total) * kProgressSteps)));
    const record::Capture& capture = loading_->capture();
    trace_->refresh();
    showCounts(counts_, capture.counts().shown(trace_->filter()));
    shown_->setText(QStringLiteral("Shown: %1 of %2").arg(trace_->shown()).arg(capture.size()));
    const auto& skipped = loading_->skipped();
    for (; skippedShown_ < skipped.size(); ++skippedShown_)
        skipped_->addItem(QStringLiteral("line %1: %2")
                              .arg(skipped[skippedShown_].line)
                              .arg(skipped[skippedShown_].reason));
    // Only once the list is full are lines counted and not kept.
    const long long more = loading_->skippedCount() - static_cast<long long>(skipped.size());
    if (more > 0) {
        if (skipped_->count() == int(skippedShown_))
            skipped_->addItem(QString());
        skipped_->item(skipped_->count() - 1)->setText(QStringLiteral("and %1 more").arg(more));
    }
    chart_->grown();
    showSpan();
}

void ReviewWindow::finished(bool cancelled, const QString& error)
{
    cancel_->setEnabled(false);
    const record::Capture& capture = loading_->capture();
    if (!error.isEmpty())
        status_->setText(QStringLiteral("Cannot read %1: %2").arg(loading_->path(), error));
    else if (cancelled)
        status_->setText(QStringLiteral("Cancelled after %1 exchanges; %2 lines skipped.")
                             .arg(capture.size())
                             .arg(loading_->skippedCount()));
    else if (loading_->unfinished() > 0)
        status_->setText(QStringLiteral("%1 exchanges; %2 lines skipped; the last line is not whole yet "
                                        "(Follow the file reads it once it is).")
                             .arg(capture.size())
                             .arg(loading_->skippedCount()));
    else
        status_->setText(QStringLiteral("%1 exchanges; %2 lines skipped.")
                             .arg(capture.size())
                             .arg(loading_->skippedCount()));
    emit loaded();
}

void ReviewWindow::lookForMore()
{
    if (loading_ && !loading_->path().isEmpty() && !loading_->reading())
        loading_->read(false);
}

// The scroll bar follows the chart's span within the file's.
void ReviewWindow::showSpan()
{
    const double whole = chart_->lastMs() + ReviewChart::kMinSpanMs - chart_->firstMs();
    const double span = chart_->toMs() - chart_->fromMs();
    adjusting_ = true;
    if (span >= whole) {
        chartScroll_->setRange(0, 0);
    } else {
        chartScroll_->setRange(0, kScrollSteps);
        chartScroll_->setPageStep(std::max(1, static_cast<int>(kScrollSteps * span / whole)));
        chartScroll_->setValue(static_cast<int>(
            std::llround((chart_->fromMs() - chart_->firstMs()) / (whole - span) * kScrollSteps)));
    }
    adjusting_ = false;
}

void ReviewWindow::scrolled(int value)
{
    if (adjusting_)
        return;
    const double whole = chart_->lastMs() + ReviewChart::kMinSpanMs - chart_->firstMs();
    const double span = chart_->toMs() - chart_->fromMs();
    const double from = chart_->firstMs() + (whole - span) * value / kScrollSteps;
    chart_->setSpan(from, from + span);
}

}  // namespace monitor
