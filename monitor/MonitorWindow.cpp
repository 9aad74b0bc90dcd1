#include "MonitorWindow.h"

#include "Named.h"

#include "Commands.h"
#include "OnScreen.h"
#include "ReviewWindow.h"
#include "TrafficView.h"

#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>
#include <optional>

namespace monitor {
namespace {

constexpr QSize kWindowSize{720, 600};
constexpr int kGap = 8;  // between the panel and the window beside it

std::optional<int> pwm(const record::Registers& r, std::size_t i) { return r.pwm[i]; }

QString registerText(const char* caption, std::optional<int> value)
{
    if (!value)
        return QStringLiteral("%1: unknown").arg(QLatin1String(caption));
    return QStringLiteral("%1: %2 (0x%3)")
        .arg(QLatin1String(caption))
        .arg(*value)
        .arg(driver::hexByte(static_cast<std::uint8_t>(*value)));
}

// Caption and value of each register view label, in its grid order.
std::array<std::pair<const char*, std::optional<int>>, 7> registerValues(const record::Registers& r)
{
    return {{{"Peak current", r.peakCurrent},
             {"I-START", r.iStart},
             {"I-STOP", r.iStop},
             {"GD START", r.gdStart},
             {"PWM LED1", pwm(r, 0)},
             {"PWM LED2", pwm(r, 1)},
             {"PWM LED3", pwm(r, 2)}}};
}

}  // namespace

MonitorWindow::MonitorWindow(record::Record& record, QWidget* parent)
    : QWidget(parent, Qt::Window), record_(record)
{
    setObjectName(QStringLiteral("MonitorWindow"));
    setWindowTitle(QStringLiteral("KRL7741 bus monitor"));

    auto* registers
        = named(new QGroupBox(QStringLiteral("Registers, as the host set them"), this), "HostRegisters");
    registers->setToolTip(QStringLiteral("The values of the commands the chip acknowledged; "
                                         "unknown until the panel first sets one, and again "
                                         "once the bridge is lost, opened again or another chip is chosen."));
    auto* grid = new QGridLayout(registers);
    grid->setVerticalSpacing(2);
    const char* names[]
        = {"HostPeak", "HostIStart", "HostIStop", "HostGdStart", "HostPwm1", "HostPwm2", "HostPwm3"};
    for (std::size_t i = 0; i < registers_.size(); ++i) {
        registers_[i] = named(new QLabel(registers), names[i]);
        registers_[i]->setTextInteractionFlags(Qt::TextSelectableByMouse);
        grid->addWidget(registers_[i], static_cast<int>(i % 4), static_cast<int>(i / 4));
    }

    auto* traffic = named(new TrafficView(record_, this), "Traffic");

    save_ = named(new QPushButton(QStringLiteral("Save..."), this), "Save");
    save_->setToolTip(QStringLiteral("Saves the record, one JSON object per exchange and line."));
    clear_ = named(new QPushButton(QStringLiteral("Clear"), this), "Clear");
    clear_->setToolTip(QStringLiteral("Forgets every exchange and the counts."));
    auto* reviewButton = named(new QPushButton(QStringLiteral("Open..."), this), "OpenReview");
    reviewButton->setToolTip(
        QStringLiteral("Opens a log or a saved record for review, in a window of its own."));
    saveStatus_ = named(new QLabel(this), "SaveStatus");
    logStatus_ = named(new QLabel(this), "LogStatus");
    logStatus_->setWordWrap(true);
    logStatus_->hide();
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(save_);
    buttons->addWidget(clear_);
    buttons->addWidget(reviewButton);
    buttons->addWidget(saveStatus_, 1);

    auto* column = new QVBoxLayout(this);
    column->addWidget(registers);
    column->addWidget(traffic, 1);
    column->addLayout(buttons);
    column->addWidget(logStatus_);
    resize(kWindowSize);

    shown_ = record_.registers();
    const auto values = registerValues(shown_);
    for (std::size_t i = 0; i < registers_.size(); ++i)
        registers_[i]->setText(registerText(values[i].first, values[i].second));

    connect(save_, &QPushButton::clicked, this, &MonitorWindow::askWhereToSave);
    const auto chosen = [this](const QString& path) { review(path); };
    const auto askWhatToReview = [this, chosen] { askForLog(this, "ReviewDialog", chosen); };
    connect(reviewButton, &QPushButton::clicked, this, askWhatToReview);
    connect(clear_, &QPushButton::clicked, this, [this] {
        record_.clear();
        saveStatus_->clear();
    });
    const auto queueRegisters = [this] {
        if (!registersQueued_) {
            registersQueued_ = true;
            QMetaObject::invokeMethod(this, &MonitorWindow::showRegisters, Qt::QueuedConnection);
        }
    };
    connect(&record_, &record::Record::added, this, queueRegisters);
    connect(&record_, &record::Record::registersChanged, this, queueRegisters);
}

// Once the event loop runs, as the trace: only a register that changed is
// written again.
void MonitorWindow::showRegisters()
{
    registersQueued_ = false;
    const record::Registers& now = record_.registers();
    if (now == shown_)
        return;
    const auto before = registerValues(shown_);
    const auto after = registerValues(now);
    for (std::size_t i = 0; i < registers_.size(); ++i) {
        if (after[i].second != before[i].second)
            registers_[i]->setText(registerText(after[i].first, after[i].second));
    }
    shown_ = now;
}

void MonitorWindow::askWhereToSave()
{
    auto* dialog = new QFileDialog(this, QStringLiteral("Save the record"), QString(),
                                   QStringLiteral("JSON lines (*.jsonl);;All files (*)"));
    dialog->setObjectName(QStringLiteral("SaveDialog"));
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setDefaultSuffix(QStringLiteral("jsonl"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QFileDialog::fileSelected, this, &MonitorWindow::saveTo);
    dialog->open();
}

ReviewWindow* MonitorWindow::review(const QString& path)
{
    auto* window = new ReviewWindow(this);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setAttribute(Qt::WA_QuitOnClose, false);
    window->open(path);
    window->show();
    return window;
}

void MonitorWindow::saveTo(const QString& path)
{
    const QString error = record::save(record_, path);
    if (error.isEmpty())
        saveStatus_->setText(QStringLiteral("Saved %1 exchanges.").arg(record_.exchanges().size()));
    else
        saveStatus_->setText(QStringLiteral("Not saved: %1").arg(error));
}

void MonitorWindow::showLog(const QString& text)
{
    logStatus_->setText(text);
    logStatus_->show();
}

void placeBeside(QWidget& window, const QWidget& panel)
{
    const QRect frame = panel.frameGeometry();
    const QScreen* screen = panel.screen();
    const QRect room = screen ? screen->availableGeometry() : QRect();
    const int width = window.frameGeometry().width();
    const int height = window.frameGeometry().height();

    int x = frame.right() + 1 + kGap;
    if (room.isValid() && x + width > room.right() + 1)
        x = frame.left() - kGap - width;
    const QRect beside(x, frame.top(), width, height);
    window.move(room.isValid() ? toolkit::keptWithin(beside, room) : beside.topLeft());
}

}  // namespace monitor
