#pragma once
// The virtual evaluation board as a window: three lamps lit as the chip would
// light its LEDs, the chip's registers (what it really drives), the panel's
// traffic as the record keeps it (the bus monitor's chart, trace and counts),
// and switches that break the board as the real world can (pull the USB
// cable, swap or remove the chip, silence the bridge, make its strings
// unreadable). It watches the virtual bridge only through its signals and acts
// on it only through its public calls; the bridge knows nothing of it.

#include "Record.h"
#include "VirtualBridge.h"

#include <QColor>
#include <QWidget>

#include <array>

class QCheckBox;
class QLabel;
class QRadioButton;

namespace virtualboard {

// One LED, drawn as a round lamp. Its brightness is the fraction of full
// light the chip drives it at: the PWM duty (level / 31) times the peak
// current (register / 31).
class Lamp final : public QWidget {
    Q_OBJECT
public:
    explicit Lamp(QColor colour, QWidget* parent = nullptr);

    static double brightnessFor(int pwm, int peakCurrent);

    void setLevels(int pwm, int peakCurrent);
    double brightness() const { return brightness_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor colour_;
    double brightness_ = 0.0;
};

class BoardWindow final : public QWidget {
    Q_OBJECT
public:
    // `record`: the record of the panel's traffic with the bridge.
    BoardWindow(VirtualBridge& bridge, record::Record& record, QWidget* parent = nullptr);
    ~BoardWindow() override;

private:
    void buildLayout();
    void bindSwitches();
    void bindBridge();

    void showRegisters(const Registers& registers);
    void showSettings();
    void showPlugged();

    // The interface the board plugs back in, with its strings as the
    // "readable" switch has them.
    VirtualInterface boardInterface() const;

    VirtualBridge& bridge_;
    record::Record& record_;
    const std::string path_;

    std::array<Lamp*, 3> lamps_{};
    QLabel* regPeak_ = nullptr;
    std::array<QLabel*, 3> regPwm_{};
    QLabel* regIStart_ = nullptr;
    QLabel* regIStop_ = nullptr;
    QLabel* regGdStart_ = nullptr;

    QCheckBox* usbPlugged_ = nullptr;
    QRadioButton* chipBT_ = nullptr;
    QRadioButton* chipC_ = nullptr;
    QRadioButton* noChip_ = nullptr;
    QCheckBox* silent_ = nullptr;
    QCheckBox* stringsReadable_ = nullptr;
};

}  // namespace virtualboard
