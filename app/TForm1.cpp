#include "TForm1.h"

#include "Application.h"
#include "Clock.h"
#include "OnScreen.h"
#include "OpenFailure.h"
#include "Tag.h"
#include "Texts.h"

#include <QAction>
#include <QCheckBox>
#include <QCoreApplication>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QRadioButton>
#include <QScreen>
#include <QStringList>
#include <QTextEdit>

#include <algorithm>
#include <chrono>

namespace app {
namespace {

using namespace std::chrono_literals;
using toolkit::setTag;
using toolkit::tag;

constexpr int kClientWidth = 654;
constexpr int kClientHeight = 241;
constexpr QPoint kWindowPosition{601, 280};
constexpr int kDesignDpi = 96;
constexpr std::chrono::milliseconds kClockInterval = 1000ms;
constexpr std::chrono::milliseconds kRampInterval = 50ms;
constexpr int kRampIntervalMin = 10;
constexpr int kRampIntervalMax = 200;
constexpr int kSetupMax = driver::kMaxPosition;

const QColor kBlue(0, 0, 255);
const QColor kMaroon(128, 0, 0);
const QColor kGreen(0, 128, 0);
const QColor kRed(255, 0, 0);

// Positions and sizes are those of a 96 dpi screen. Where the toolkit does not
// scale for the screen itself (logical dpi other than 96), they grow with the
// window font's text height.
double layoutScale(const QWidget& window)
{
    const int dpi = window.logicalDpiY();
    if (dpi == kDesignDpi || dpi <= 0)
        return 1.0;
    QFont design = window.font();
    design.setPixelSize(qRound(design.pointSizeF() * kDesignDpi / 72.0));
    const int designHeight = QFontMetrics(design).height();
    const int height = QFontMetrics(window.font()).height();
    return designHeight > 0 ? static_cast<double>(height) / designHeight : 1.0;
}

// "<lead><reason>." from a host's reason, which may end in a full stop of its own.
QString sentence(const QString& lead, const std::string& reason)
{
    QString text = lead + QString::fromStdString(reason).trimmed();
    if (!text.endsWith(QLatin1Char('.')))
        text += QLatin1Char('.');
    return text;
}

}  // namespace

TForm1::TForm1(bridge::HIDapi& host, Environment environment, QWidget* parent)
    : QMainWindow(parent,
                  Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                      | Qt::WindowCloseButtonHint),
      env_(std::move(environment)), link_(host)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(texts::kCaption);
    if (env_.serial)
        link_.setSerialFilter(*env_.serial);
    readDecimalSeparator();
    buildLayout();
    orderTabs();
    bindHandlers();
    bridge::WatchResult watched = host.watch([this] { RequestBridgeScan(); });
    deviceWatch_ = std::move(watched.watch);
    QStringList problems;
    if (const std::string why = host.unavailable(); !why.empty())
        problems << sentence(QStringLiteral("USB devices cannot be used here: "), why);
    if (!deviceWatch_)
        problems << sentence(QStringLiteral("Plugging and unplugging cannot be followed here: "),
                             watched.error);
    noticeProblem_ = problems.join(QLatin1Char('\n'));
    FormCreate();
}

TForm1::~TForm1() = default;

void TForm1::buildLayout()
{
    const double k = layoutScale(*this);
    auto at = [k](QWidget* w, int x, int y, int width, int height) {
        w->setGeometry(qRound(x * k), qRound(y * k), qRound(width * k), qRound(height * k));
    };
    auto named = [](QWidget* w, const char* name) {
        w->setObjectName(QString::fromLatin1(name));
        return w;
    };
    auto label = [&](QWidget* parent, const char* name, const QString& text, QRect r, const QColor& colour,
                     bool bold) {
        auto* l = new QLabel(text, parent);
        named(l, name);
        at(l, r.x(), r.y(), r.width(), r.height());
        QPalette p = l->palette();
        p.setColor(QPalette::WindowText, colour);
        l->setPalette(p);
        QFont f = l->font();
        f.setBold(bold);
        l->setFont(f);
        return l;
    };
    auto trackBar = [&](QWidget* parent, const char* name, QRect r, int min, int max, int pos) {
        auto* t = new toolkit::TrackBar(parent);
        named(t, name);
        at(t, r.x(), r.y(), r.width(), r.height());
        t->setRange(min, max);
        t->setValue(pos);
        return t;
    };
    auto radio = [&](QWidget* parent, const char* name, const QString& text, QRect r) {
        auto* b = new QRadioButton(text, parent);
        named(b, name);
        at(b, r.x(), r.y(), r.width(), r.height());
        return b;
    };
    auto group = [&](const char* name, const QString& title, QRect r) {
        auto* g = new QGroupBox(title, client_);
        named(g, name);
        at(g, r.x(), r.y(), r.width(), r.height());
        return g;
    };

    client_ = new QWidget(this);
    client_->setObjectName(QStringLiteral("ClientArea"));
    client_->setFixedSize(qRound(kClientWidth * k), qRound(kClientHeight * k));
    setCentralWidget(client_);

    GroupBox1 = group("GroupBox1", QStringLiteral("LED SEQUENCES"), {8, 0, 129, 193});
    GroupBox2 = group("GroupBox2", QStringLiteral("ILED & & PWM Set Up"), {144, 0, 233, 137});
    GroupBox3 = group("GroupBox3", QStringLiteral("GRADUAL DIMMING"), {384, 0, 265, 113});
    GroupBox4 = group("GroupBox4", QStringLiteral("Select Device"), {384, 120, 265, 57});

    PORTW = new QTextEdit(client_);
    named(PORTW, "PORTW");
    at(PORTW, 144, 152, 233, 41);
    PORTW->setTabChangesFocus(true);
    PORTW->setAcceptRichText(false);

    Label9 = label(client_, "Label9", QStringLiteral("Halvern"), {544, 184, 107, 13}, kGreen, true);

    StatusBar2 = new toolkit::StatusBar({150, 100, 100, 100, 50}, client_);
    named(StatusBar2, "StatusBar2");
    at(StatusBar2, 0, 203, 654, 19);
    StatusBar1 = new toolkit::StatusBar({150, 100, 100, 100, 50}, client_);
    named(StatusBar1, "StatusBar1");
    at(StatusBar1, 0, 222, 654, 19);
    StatusBar1->setText(4, texts::kReleaseDate);

    Timer1 = new toolkit::Timer(kClockInterval, true, this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    TimerSEQA = new toolkit::Timer(kRampInterval, false, this);
    TimerSEQA->setObjectName(QStringLiteral("TimerSEQA"));
    TimerSEQB = new toolkit::Timer(kRampInterval, false, this);
    TimerSEQB->setObjectName(QStringLiteral("TimerSEQB"));
    TimerSEQC = new toolkit::Timer(kRampInterval, false, this);
    TimerSEQC->setObjectName(QStringLiteral("TimerSEQC"));

    // LED SEQUENCES
    SEQ1 = radio(GroupBox1, "SEQ1", QStringLiteral("SEQ#1"), {8, 24, 113, 17});
    SEQ1->setChecked(true);
    TSEQA = trackBar(GroupBox1, "TSEQA", {8, 40, 81, 25}, kRampIntervalMin, kRampIntervalMax, 50);
    SEQ2 = radio(GroupBox1, "SEQ2", QStringLiteral("SEQ#2"), {8, 72, 113, 17});
    TSEQB = trackBar(GroupBox1, "TSEQB", {8, 88, 81, 25}, kRampIntervalMin, kRampIntervalMax, 50);
    SEQ3 = radio(GroupBox1, "SEQ3", QStringLiteral("SEQ#3"), {8, 120, 113, 17});
    TSEQC = trackBar(GroupBox1, "TSEQC", {8, 136, 81, 25}, kRampIntervalMin, kRampIntervalMax, 50);
    RUN_SEQ = new QCheckBox(QStringLiteral("Run Sequence"), GroupBox1);
    named(RUN_SEQ, "RUN_SEQ");
    at(RUN_SEQ, 8, 168, 97, 17);

    // ILED & PWM Set Up
    label(GroupBox2, "Label1", QStringLiteral("ILED peak"), {6, 24, 61, 13}, kBlue, true);
    label(GroupBox2, "Label2", QStringLiteral("PWM LED1"), {6, 48, 66, 13}, kBlue, true);
    label(GroupBox2, "Label3", QStringLiteral("PWM LED2"), {6, 80, 66, 13}, kBlue, true);
    label(GroupBox2, "Label4", QStringLiteral("PWM LED3"), {6, 112, 66, 13}, kBlue, true);
    ILEDslider = trackBar(GroupBox2, "ILEDslider", {72, 16, 113, 25}, 0, kSetupMax, 0);
    LED1slider = trackBar(GroupBox2, "LED1slider", {72, 45, 113, 25}, 0, kSetupMax, 0);
    LED2slider = trackBar(GroupBox2, "LED2slider", {72, 75, 113, 25}, 0, kSetupMax, 0);
    LED3slider = trackBar(GroupBox2, "LED3slider", {72, 104, 113, 25}, 0, kSetupMax, 0);
    VAL_ILED = label(GroupBox2, "VAL_ILED", QStringLiteral("000mA"), {184, 24, 39, 13}, kBlue, true);
    VAL_PWM1 = label(GroupBox2, "VAL_PWM1", QStringLiteral("00%"), {184, 48, 24, 13}, kBlue, true);
    VAL_PWM2 = label(GroupBox2, "VAL_PWM2", QStringLiteral("00%"), {184, 80, 24, 13}, kBlue, true);
    VAL_PWM3 = label(GroupBox2, "VAL_PWM3", QStringLiteral("00%"), {184, 112, 24, 13}, kBlue, true);

    // GRADUAL DIMMING
    label(GroupBox3, "Label10", QStringLiteral("ILED-UP"), {5, 32, 50, 13}, kMaroon, true);
    label(GroupBox3, "Label11", QStringLiteral("ILED-DOWN"), {5, 56, 72, 13}, kMaroon, true);
    label(GroupBox3, "Label12", QStringLiteral("GD START"), {5, 88, 64, 13}, kMaroon, true);
    ILED_UP = trackBar(GroupBox3, "ILED_UP", {80, 24, 121, 25}, 0, kSetupMax, 0);
    ILED_DWN = trackBar(GroupBox3, "ILED_DWN", {80, 52, 121, 25}, 0, kSetupMax, 0);
    GD_START = trackBar(GroupBox3, "GD_START", {80, 80, 121, 25}, 0, kSetupMax, 0);
    VAL_START = label(GroupBox3, "VAL_START", QStringLiteral("00mA"), {200, 32, 32, 13}, kMaroon, true);
    Val_STOP = label(GroupBox3, "Val_STOP", QStringLiteral("00mA"), {200, 56, 32, 13}, kMaroon, true);
    VAL_WIDTH = label(GroupBox3, "VAL_WIDTH", QStringLiteral("00ms"), {200, 88, 30, 13}, kMaroon, true);

    // Select Device
    KRL7741B
        = radio(GroupBox4, "KRL7741B", QStringLiteral("KRL7741B / KRL7741T: I2C = $70"), {8, 16, 201, 17});
    KRL7741B->setChecked(true);
    KRL7741C = radio(GroupBox4, "KRL7741C", QStringLiteral("KRL7741C : I2C = $72"), {8, 32, 137, 17});

    // Each radio group is one tab stop, entered at its selected button.
    for (QRadioButton* b : {SEQ1, SEQ2, SEQ3, KRL7741B, KRL7741C}) {
        auto follow = [b](bool checked) { b->setFocusPolicy(checked ? Qt::StrongFocus : Qt::ClickFocus); };
        follow(b->isChecked());
        connect(b, &QRadioButton::toggled, b, follow);
    }

    // Menu
    auto* bar = new QMenuBar(this);
    bar->setObjectName(QStringLiteral("MainMenu1"));
    setMenuBar(bar);
    File1 = bar->addMenu(QStringLiteral("File"));
    File1->setObjectName(QStringLiteral("File1"));
    auto entry = [this](const char* name, const QString& caption, bool enabled) {
        QAction* a = File1->addAction(caption);
        a->setObjectName(QString::fromLatin1(name));
        a->setEnabled(enabled);
        return a;
    };
    entry("Open1", QStringLiteral("Open ..."), false);
    entry("Save1", QStringLiteral("Save"), false);
    entry("Saveas1", QStringLiteral("Save as ..."), false);
    File1->addSeparator()->setObjectName(QStringLiteral("N1"));
    Exit1 = entry("Exit1", QStringLiteral("Exit"), true);

    layout()->setSizeConstraint(QLayout::SetFixedSize);
    move(kWindowPosition);
}

// The designed place, unless the screen is too small for the window there (on
// 1024 x 768 a third of it would be off the screen): then moved in as far as
// it needs, frame included, once the platform knows the frame.
void TForm1::keepOnScreen()
{
    const QScreen* s = screen();
    if (!s)
        return;
    const QRect frame = frameGeometry();
    const QPoint kept = toolkit::keptWithin(frame, s->availableGeometry());
    if (kept != frame.topLeft())
        move(kept);
}

void TForm1::orderTabs()
{
    QWidget* const chain[]
        = {SEQ1,       SEQ2,       SEQ3,    RUN_SEQ,  TSEQA,    TSEQB, TSEQC,    ILEDslider, LED1slider,
           LED2slider, LED3slider, ILED_UP, ILED_DWN, GD_START, PORTW, KRL7741B, KRL7741C};
    for (std::size_t i = 1; i < std::size(chain); ++i)
        QWidget::setTabOrder(chain[i - 1], chain[i]);
    StatusBar1->setFocusPolicy(Qt::NoFocus);
    StatusBar2->setFocusPolicy(Qt::NoFocus);
}

template <typename Sender, typename Signal>
void TForm1::bind(Sender* sender, Signal signal, void (TForm1::*handler)())
{
    connect(sender, signal, this, [this, handler] { runHandler([this, handler] { (this->*handler)(); }); });
}

// Handlers are bound only once every property is in place, so building the
// window runs none of them. Every one is called through runHandler (bind, and
// event() for the device notice), so an error it raises is shown where it
// was raised and never crosses Qt's own code.
void TForm1::bindHandlers()
{
    bind(Timer1, &toolkit::Timer::ticked, &TForm1::Timer1Timer);
    bind(TimerSEQA, &toolkit::Timer::ticked, &TForm1::TimerSEQATimer);
    bind(TimerSEQB, &toolkit::Timer::ticked, &TForm1::TimerSEQBTimer);
    bind(TimerSEQC, &toolkit::Timer::ticked, &TForm1::TimerSEQCTimer);
    bind(TSEQA, &toolkit::TrackBar::scrolled, &TForm1::TSEQAChange);
    bind(TSEQB, &toolkit::TrackBar::scrolled, &TForm1::TSEQBChange);
    bind(TSEQC, &toolkit::TrackBar::scrolled, &TForm1::TSEQCChange);
    bind(RUN_SEQ, &QCheckBox::clicked, &TForm1::RUN_SEQClick);
    bind(ILEDslider, &toolkit::TrackBar::scrolled, &TForm1::ILEDsliderChange);
    bind(LED1slider, &toolkit::TrackBar::scrolled, &TForm1::LED1sliderChange);
    bind(LED2slider, &toolkit::TrackBar::scrolled, &TForm1::LED2sliderChange);
    bind(LED3slider, &toolkit::TrackBar::scrolled, &TForm1::LED3sliderChange);
    bind(ILED_UP, &toolkit::TrackBar::scrolled, &TForm1::ILED_UPChange);
    bind(ILED_DWN, &toolkit::TrackBar::scrolled, &TForm1::ILED_DWNChange);
    bind(GD_START, &toolkit::TrackBar::scrolled, &TForm1::GD_STARTChange);
    bind(Exit1, &QAction::triggered, &TForm1::Exit1Click);

    ramps_ = std::make_unique<sequences::Ramps>(
        sequences::Ramps::Wiring{*TimerSEQA, *TimerSEQB, *TimerSEQC, [this] { return RUN_SEQ->isChecked(); },
                                 [this] {
                                     return SEQ1->isChecked() ? sequences::Sequence::Seq1
                                         : SEQ2->isChecked()  ? sequences::Sequence::Seq2
                                                              : sequences::Sequence::Seq3;
                                 },
                                 [this](std::uint8_t command) { WriteDriverCommand(command, command); }});
}

bool TForm1::event(QEvent* event)
{
    if (event->type() == kDeviceChangeEvent) {
        runHandler([this] { ScanForBridge(); });
        return true;
    }
    if (event->type() == QEvent::Show && !placed_) {
        placed_ = true;
        keepOnScreen();
    }
    if (event->type() == QEvent::LocaleChange)
        readDecimalSeparator();
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        valueWidths_.clear();  // the value labels measure again
    return QMainWindow::event(event);
}

void TForm1::readDecimalSeparator()
{
    const QString point = env_.locale().decimalPoint();
    decimalSeparator_ = point.isEmpty() ? QLatin1Char('.') : point.front();
}

void TForm1::FormCreate() { RequestBridgeScan(); }

// A scan is asked for with the same event the platform's device notices
// send, so every scan takes one path: event(), runHandler, ScanForBridge.
void TForm1::RequestBridgeScan()
{
    QEvent notice(kDeviceChangeEvent);
    QCoreApplication::sendEvent(this, &notice);
}

void TForm1::showDisconnected()
{
    StatusBar2->setText(0, texts::kUsbDisconnected);
    StatusBar2->setText(1, texts::kVidPrefix + driver::hexWord(0));
    StatusBar2->setText(2, texts::kPidPrefix + driver::hexWord(0));
}

void TForm1::ScanForBridge() { showScan(link_.scan()); }

void TForm1::showScan(const bridge::ScanResult& scan)
{
    QString why;
    switch (scan.state) {
    case bridge::ScanResult::State::Opened:
        StatusBar2->setText(0, texts::kUsbOpen);
        StatusBar2->setText(1, texts::kVidPrefix + driver::hexWord(bridge::kBridgeVendorId));
        StatusBar2->setText(2, texts::kPidPrefix + driver::hexWord(bridge::kBridgeProductId));
        if (scan.product)
            StatusBar1->setText(3, QString::fromStdU16String(*scan.product));
        if (scan.serial)
            StatusBar2->setText(3, texts::kSerialPrefix + QString::fromStdU16String(*scan.serial));
        break;
    case bridge::ScanResult::State::StillOpen:
        return;
    case bridge::ScanResult::State::Disconnected:
        showDisconnected();
        // The reason as a sentence of its own.
        why = QString::fromStdString(bridge::whyNotOpened(scan));
        if (!why.isEmpty())
            why = why.front().toUpper() + why.mid(1) + QLatin1Char('.');
        break;
    }
    if (!noticeProblem_.isEmpty())
        why += (why.isEmpty() ? QString() : QStringLiteral("\n")) + noticeProblem_;
    StatusBar2->panel(0).setToolTip(why);
}

void TForm1::WriteDriverCommand(std::uint8_t first, std::uint8_t second)
{
    const std::uint8_t address = KRL7741B->isChecked() ? driver::kAddressBT : driver::kAddressC;
    const bridge::Reply reply = link_.transact(address, first, second);

    StatusBar2->setText(
        3,
        QStringLiteral("$%1- $%2- $%3")
            .arg(driver::hexByte(reply.status), driver::hexByte(reply.first), driver::hexByte(reply.second)));
    // An empty PORTW already red stays as it is: clearing and recolouring it
    // again changes nothing anyone can see, and costs a document rebuild.
    if (!PORTW->document()->isEmpty() || PORTW->textColor() != kRed) {
        PORTW->clear();
        PORTW->setTextColor(kRed);
    }
    switch (reply.verdict()) {
    case bridge::Verdict::NotAcknowledged:
        setTag(*PORTW, tag(*PORTW) + 1);
        StatusBar1->setText(0, texts::kNackPrefix + QString::number(tag(*PORTW)));
        PORTW->insertPlainText(texts::kNoAcknowledge);
        break;
    case bridge::Verdict::NoAnswer:
    case bridge::Verdict::BridgeLost:
        PORTW->insertPlainText(texts::kNotConnected);
        break;
    case bridge::Verdict::Acknowledged:
    case bridge::Verdict::Stray:  // never a transaction's
        break;
    }
    // The link has already looked again: a bridge back in place shows as open.
    if (reply.deviceLost)
        showScan(reply.rescan);
}

void TForm1::applySetup(driver::SetupControl control, const toolkit::TrackBar& slider, QLabel& value)
{
    const driver::SetupCommand command = driver::setupCommand(control, slider.value(), decimalSeparator_);
    if (value.text() != command.value) {
        value.setText(command.value);
        value.resize(valueWidth(value), value.height());  // labels grow with their text
    }
    // The description stands in PORTW only until the transaction shows its
    // outcome there, and nothing paints or reads the window in between; it
    // is written only if the transaction ends in an error, which the error
    // box then shows over it.
    try {
        WriteDriverCommand(command.byte, command.byte);
    } catch (...) {
        PORTW->setPlainText(command.description);
        throw;
    }
}

int TForm1::valueWidth(const QLabel& value)
{
    auto& known = valueWidths_[&value];
    const auto found = known.constFind(value.text());
    if (found != known.constEnd())
        return *found;
    return *known.insert(value.text(), value.sizeHint().width());
}

void TForm1::ILEDsliderChange() { applySetup(driver::SetupControl::IledPeak, *ILEDslider, *VAL_ILED); }
void TForm1::LED1sliderChange() { applySetup(driver::SetupControl::PwmLed1, *LED1slider, *VAL_PWM1); }
void TForm1::LED2sliderChange() { applySetup(driver::SetupControl::PwmLed2, *LED2slider, *VAL_PWM2); }
void TForm1::LED3sliderChange() { applySetup(driver::SetupControl::PwmLed3, *LED3slider, *VAL_PWM3); }
void TForm1::ILED_UPChange() { applySetup(driver::SetupControl::IledUp, *ILED_UP, *VAL_START); }
void TForm1::ILED_DWNChange() { applySetup(driver::SetupControl::IledDown, *ILED_DWN, *Val_STOP); }
void TForm1::GD_STARTChange() { applySetup(driver::SetupControl::GdStart, *GD_START, *VAL_WIDTH); }

void TForm1::RUN_SEQClick() { ramps_->start(); }
void TForm1::TimerSEQATimer() { ramps_->tickA(); }
void TForm1::TimerSEQBTimer() { ramps_->tickB(); }
void TForm1::TimerSEQCTimer() { ramps_->tickC(); }
void TForm1::TSEQAChange() { TimerSEQA->setInterval(std::chrono::milliseconds(TSEQA->value())); }
void TForm1::TSEQBChange() { TimerSEQB->setInterval(std::chrono::milliseconds(TSEQB->value())); }
void TForm1::TSEQCChange() { TimerSEQC->setInterval(std::chrono::milliseconds(TSEQC->value())); }

void TForm1::Timer1Timer() { StatusBar2->setText(4, clockText(env_.now(), env_.locale())); }

void TForm1::Exit1Click() { close(); }

}  // namespace app
