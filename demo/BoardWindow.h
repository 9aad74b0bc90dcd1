#pragma once
// The virtual evaluation board as a window: three lamps lit as the chip would
// light its LEDs, the chip's registers, a strip chart of the PWM levels over
// the last seconds, a trace of every report the bridge
// exchanged, and switches that break the board as the real world can (pull
// the USB cable, swap or remove the chip, silence the bridge, make its strings
// unreadable). It watches the virtual bridge only through its signals and acts
// on it only through its public calls; the bridge knows nothing of it.

#include "VirtualBridge.h"

#include <QColor>
#include <QStringList>
#include <QWidget>

#include <array>

class QCheckBox;
class QLabel;
class QPlainTextEdit;
class QRadioButton;

namespace virtualboard {

class StripChart;

// The board's three LEDs: red, green and blue, LED1 to LED3.
extern const std::array<QColor, 3> kLedColours;

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
    // Lines the trace keeps; older ones are dropped as new ones come.
    static constexpr int kTraceLines = 1000;

    explicit BoardWindow(VirtualBridge& bridge, QWidget* parent = nullptr);
    ~BoardWindow() override;

private:
    void buildLayout();
    void bindSwitches();
    void bindBridge();

    void showRegisters(const Registers& registers);
    void showSettings();
    void showPlugged();
    void addTrace(const Report& output, const Report& reply, Verdict verdict);
    void flushTrace();
    void showCounts();

    // The interface the board plugs back in, with its strings as the
    // "readable" switch has them.
    VirtualInterface boardInterface() const;

    VirtualBridge& bridge_;
    const std::string path_;

    std::array<Lamp*, 3> lamps_{};
    QLabel* regPeak_ = nullptr;
    std::array<QLabel*, 3> regPwm_{};
    QLabel* regIStart_ = nullptr;
    QLabel* regIStop_ = nullptr;
    QLabel* regGdStart_ = nullptr;

    StripChart* chart_ = nullptr;
    QPlainTextEdit* trace_ = nullptr;
    QStringList pendingTrace_;  // lines not yet in the trace, oldest first
    bool flushQueued_ = false;
    QLabel* ackCount_ = nullptr;
    QLabel* nackCount_ = nullptr;
    QLabel* noAnswerCount_ = nullptr;
    long long acks_ = 0;
    long long nacks_ = 0;
    long long noAnswers_ = 0;

    QCheckBox* usbPlugged_ = nullptr;
    QRadioButton* chipBT_ = nullptr;
    QRadioButton* chipC_ = nullptr;
    QRadioButton* noChip_ = nullptr;
    QCheckBox* silent_ = nullptr;
    QCheckBox* stringsReadable_ = nullptr;
};

}  // namespace virtualboard
