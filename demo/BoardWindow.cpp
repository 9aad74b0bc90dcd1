#include "BoardWindow.h"

#include "Commands.h"
#include "TrafficView.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QRadialGradient>
#include <QRadioButton>
#include <QVBoxLayout>

#include <algorithm>

namespace virtualboard {
namespace {

constexpr int kLampDiameter = 40;
constexpr QSize kWindowSize{480, 580};

const QColor kUnlitGlass(56, 56, 56);
const QColor kUnlitOutline(128, 128, 128);

QColor mix(const QColor& from, const QColor& to, double t)
{
    auto channel = [t](int a, int b) { return qRound(a + (b - a) * t); };
    return QColor(channel(from.red(), to.red()), channel(from.green(), to.green()),
                  channel(from.blue(), to.blue()), channel(from.alpha(), to.alpha()));
}

QString registerText(const QString& name, int value)
{
    return QStringLiteral("%1: %2 (0x%3)")
        .arg(name)
        .arg(value)
        .arg(driver::hexByte(static_cast<std::uint8_t>(value)));
}

template <typename W>
W* named(W* widget, const char* name)
{
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

}  // namespace

// ---------------------------------------------------------------- Lamp

Lamp::Lamp(QColor colour, QWidget* parent) : QWidget(parent), colour_(colour)
{
    setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Minimum);
    setToolTip(QStringLiteral("off"));
}

double Lamp::brightnessFor(int pwm, int peakCurrent)
{
    const auto fraction = [](int value) {
        return static_cast<double>(std::clamp(value, 0, driver::kValueMax)) / driver::kValueMax;
    };
    return fraction(pwm) * fraction(peakCurrent);
}

void Lamp::setLevels(int pwm, int peakCurrent)
{
    const double b = brightnessFor(pwm, peakCurrent);
    if (b == brightness_)
        return;
    brightness_ = b;
    setToolTip(b > 0.0 ? QStringLiteral("%1% of full light").arg(qRound(b * 100)) : QStringLiteral("off"));
    update();
}

QSize Lamp::sizeHint() const { return {kLampDiameter + 12, kLampDiameter + 12}; }

QSize Lamp::minimumSizeHint() const { return {kLampDiameter / 2, kLampDiameter / 2}; }

void Lamp::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);

    const int side = std::min(width(), height());
    const qreal diameter = std::min<qreal>(kLampDiameter, side - 6);
    const QPointF centre = QRectF(rect()).center();
    const QRectF lamp(centre.x() - diameter / 2, centre.y() - diameter / 2, diameter, diameter);

    // A halo around a lit lamp, stronger as it brightens.
    if (brightness_ > 0.0) {
        QRadialGradient halo(centre, side / 2.0);
        QColor inner = colour_;
        inner.setAlphaF(0.6 * brightness_);
        QColor outer = colour_;
        outer.setAlpha(0);
        halo.setColorAt(0.6, inner);
        halo.setColorAt(1.0, outer);
        painter.setPen(Qt::NoPen);
        painter.setBrush(halo);
        painter.drawEllipse(centre, side / 2.0, side / 2.0);
    }

    // The glass: dark when off, the LED's colour at full light, a brighter
    // spot where the die sits.
    const QColor body = mix(kUnlitGlass, colour_, brightness_);
    const QColor spot = mix(kUnlitGlass.lighter(130), colour_.lighter(150), brightness_);
    QRadialGradient glass(centre, diameter / 2);
    glass.setColorAt(0.0, spot);
    glass.setColorAt(0.35, spot);
    glass.setColorAt(1.0, body);
    painter.setBrush(glass);
    painter.setPen(QPen(brightness_ > 0.0 ? colour_.darker(140) : kUnlitOutline, 1.5));
    painter.drawEllipse(lamp);
}

// ---------------------------------------------------------------- BoardWindow

BoardWindow::BoardWindow(VirtualBridge& bridge, record::Record& record, QWidget* parent)
    : QWidget(parent, Qt::Window), bridge_(bridge), record_(record),
      path_(VirtualBridge::evaluationBoard().path)
{
    setObjectName(QStringLiteral("BoardWindow"));
    setWindowTitle(QStringLiteral("virtual evaluation board"));
    buildLayout();

    usbPlugged_->setChecked(bridge_.isPlugged(path_));
    showSettings();
    showRegisters(bridge_.registers());

    bindSwitches();
    bindBridge();
}

BoardWindow::~BoardWindow() = default;

void BoardWindow::buildLayout()
{
    // LEDs
    auto* leds = named(new QGroupBox(QStringLiteral("LEDs"), this), "LEDs");
    auto* ledRow = new QHBoxLayout(leds);
    const char* lampNames[] = {"LED1", "LED2", "LED3"};
    for (std::size_t i = 0; i < lamps_.size(); ++i) {
        auto* column = new QVBoxLayout;
        lamps_[i] = named(new Lamp(monitor::kLedColours[i], leds), lampNames[i]);
        auto* caption = new QLabel(QString::fromLatin1(lampNames[i]), leds);
        caption->setAlignment(Qt::AlignHCenter);
        column->addWidget(lamps_[i], 1);
        column->addWidget(caption);
        ledRow->addLayout(column);
    }

    // Registers
    auto* registers = named(new QGroupBox(QStringLiteral("Registers"), this), "Registers");
    auto* registerGrid = new QGridLayout(registers);
    registerGrid->setVerticalSpacing(2);
    auto reg = [&](const char* name, int row, int column) {
        auto* label = named(new QLabel(registers), name);
        label->setMinimumWidth(label->fontMetrics().horizontalAdvance(
            registerText(QStringLiteral("Peak current"), driver::kValueMax)));
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        registerGrid->addWidget(label, row, column);
        return label;
    };
    regPeak_ = reg("RegPeak", 0, 0);
    regIStart_ = reg("RegIStart", 1, 0);
    regIStop_ = reg("RegIStop", 2, 0);
    regGdStart_ = reg("RegGdStart", 3, 0);
    regPwm_[0] = reg("RegPwm1", 0, 1);
    regPwm_[1] = reg("RegPwm2", 1, 1);
    regPwm_[2] = reg("RegPwm3", 2, 1);

    // Switches: the cable and the bridge on the left, the chip on the right.
    auto* switches = named(new QGroupBox(QStringLiteral("Switches"), this), "Switches");
    auto* switchGrid = new QGridLayout(switches);
    switchGrid->setVerticalSpacing(2);
    usbPlugged_ = named(new QCheckBox(QStringLiteral("USB plugged in"), switches), "UsbPlugged");
    silent_ = named(new QCheckBox(QStringLiteral("Bridge silent"), switches), "Silent");
    stringsReadable_ = named(new QCheckBox(QStringLiteral("Product and serial strings readable"), switches),
                             "StringsReadable");
    stringsReadable_->setChecked(true);
    stringsReadable_->setToolTip(QStringLiteral("The panel reads the strings when it opens the bridge: "
                                                "unplug and plug in again to see a change."));
    chipBT_ = named(new QRadioButton(QStringLiteral("KRL7741B/T at $70"), switches), "ChipBT");
    chipC_ = named(new QRadioButton(QStringLiteral("KRL7741C at $72"), switches), "ChipC");
    noChip_ = named(new QRadioButton(QStringLiteral("No chip"), switches), "NoChip");
    auto* chips = new QButtonGroup(this);
    int row = 0;
    for (QAbstractButton* b : std::initializer_list<QAbstractButton*>{usbPlugged_, silent_, stringsReadable_})
        switchGrid->addWidget(b, row++, 0);
    row = 0;
    for (QRadioButton* b : {chipBT_, chipC_, noChip_}) {
        chips->addButton(b);
        switchGrid->addWidget(b, row++, 1);
    }
    switchGrid->setColumnStretch(0, 1);

    auto* traffic = named(new monitor::TrafficView(record_, this), "Traffic");

    // The lamps and the registers side by side, the switches below them, then
    // the traffic (chart and trace) in whatever height is left. The layout
    // keeps the window from shrinking below what its texts need.
    auto* grid = new QGridLayout(this);
    grid->addWidget(leds, 0, 0);
    grid->addWidget(registers, 0, 1);
    grid->addWidget(switches, 1, 0, 1, 2);
    grid->addWidget(traffic, 2, 0, 1, 2);
    grid->setRowStretch(2, 1);
    grid->setColumnStretch(1, 1);
    resize(kWindowSize);
}

VirtualInterface BoardWindow::boardInterface() const
{
    VirtualInterface board = VirtualBridge::evaluationBoard();
    if (!stringsReadable_->isChecked()) {
        board.product.reset();
        board.serial.reset();
    }
    return board;
}

// The switches act only when the operator uses them (clicked), so showing
// what the bridge reports never acts on it again.
void BoardWindow::bindSwitches()
{
    connect(usbPlugged_, &QCheckBox::clicked, this, [this](bool plugged) {
        if (plugged)
            bridge_.plug(boardInterface());
        else
            bridge_.unplug(path_);
    });
    connect(chipBT_, &QRadioButton::clicked, this, [this] { bridge_.setChipAddress(kAddressBT); });
    connect(chipC_, &QRadioButton::clicked, this, [this] { bridge_.setChipAddress(kAddressC); });
    connect(noChip_, &QRadioButton::clicked, this, [this] { bridge_.setChipAddress(std::nullopt); });
    connect(silent_, &QCheckBox::clicked, this,
            [this](bool silent) { bridge_.setReplyShape(silent ? ReplyShape::Silent : ReplyShape::Normal); });
    // The strings change on the board now; the panel sees them when it next
    // opens the bridge, that is at the next plug.
    connect(stringsReadable_, &QCheckBox::clicked, this, [this] {
        const VirtualInterface board = boardInterface();
        bridge_.setStrings(path_, board.product, board.serial);
    });
}

void BoardWindow::bindBridge()
{
    connect(&bridge_, &VirtualBridge::registersChanged, this, &BoardWindow::showRegisters);
    connect(&bridge_, &VirtualBridge::settingsChanged, this, &BoardWindow::showSettings);
    connect(&bridge_, &VirtualBridge::plugChanged, this, [this](const std::string& path, bool) {
        if (path == path_)
            showPlugged();
    });
}

void BoardWindow::showRegisters(const Registers& registers)
{
    regPeak_->setText(registerText(QStringLiteral("Peak current"), registers.peakCurrent));
    const char* pwmNames[] = {"PWM LED1", "PWM LED2", "PWM LED3"};
    for (std::size_t i = 0; i < regPwm_.size(); ++i) {
        regPwm_[i]->setText(registerText(QString::fromLatin1(pwmNames[i]), registers.pwm[i]));
        lamps_[i]->setLevels(registers.pwm[i], registers.peakCurrent);
    }
    regIStart_->setText(registerText(QStringLiteral("I-START"), registers.iStart));
    regIStop_->setText(registerText(QStringLiteral("I-STOP"), registers.iStop));
    regGdStart_->setText(registerText(QStringLiteral("GD START"), registers.gdStart));
}

void BoardWindow::showPlugged() { usbPlugged_->setChecked(bridge_.isPlugged(path_)); }

void BoardWindow::showSettings()
{
    const std::optional<std::uint8_t> address = bridge_.chipAddress();
    QRadioButton* chip = !address ? noChip_
        : *address == kAddressBT  ? chipBT_
        : *address == kAddressC   ? chipC_
                                  : nullptr;
    if (chip) {
        chip->setChecked(true);
    } else {
        // A chip at an address this board has no switch for: none of the three.
        auto* group = chipBT_->group();
        group->setExclusive(false);
        for (QRadioButton* b : {chipBT_, chipC_, noChip_})
            b->setChecked(false);
        group->setExclusive(true);
    }
    silent_->setChecked(bridge_.replyShape() == ReplyShape::Silent);
}

}  // namespace virtualboard
