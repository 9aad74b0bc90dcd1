#pragma once
// The panel's one window. It owns every control and timer and wires them to
// the bridge link, the driver's command bytes and the ramp sequences; the
// protocol itself lives in bridge/, driver/ and sequences/.

#include "BridgeLink.h"
#include "Commands.h"
#include "Ramps.h"
#include "StatusBar.h"
#include "Timer.h"
#include "TrackBar.h"

#include <QDateTime>
#include <QEvent>
#include <QHash>
#include <QLocale>
#include <QMainWindow>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

class QAction;
class QCheckBox;
class QGroupBox;
class QLabel;
class QMenu;
class QRadioButton;
class QTextEdit;

namespace app {

// What the window reads from its surroundings, replaceable in tests.
struct Environment {
    std::function<QDateTime()> now = [] { return QDateTime::currentDateTime(); };
    std::function<QLocale()> locale = [] { return QLocale(); };
    std::optional<std::u16string> serial;  // only the bridge with this serial number counts (--serial)
};

// The device-change notice: sent to the window by the platform watcher and by
// RequestBridgeScan; handled by ScanForBridge.
inline const QEvent::Type kDeviceChangeEvent = static_cast<QEvent::Type>(QEvent::User + 0x219);

class TForm1 final : public QMainWindow {
    Q_OBJECT
public:
    explicit TForm1(bridge::HIDapi& host, Environment environment = {}, QWidget* parent = nullptr);
    ~TForm1() override;

    bridge::BridgeLink& link() { return link_; }

    // Handlers, named after their control and event.
    void FormCreate();
    void RequestBridgeScan();
    void ScanForBridge();
    void Timer1Timer();
    void Exit1Click();
    void WriteDriverCommand(std::uint8_t first, std::uint8_t second);
    void ILEDsliderChange();
    void LED1sliderChange();
    void LED2sliderChange();
    void LED3sliderChange();
    void ILED_UPChange();
    void ILED_DWNChange();
    void GD_STARTChange();
    void RUN_SEQClick();
    void TimerSEQATimer();
    void TimerSEQBTimer();
    void TimerSEQCTimer();
    void TSEQAChange();
    void TSEQBChange();
    void TSEQCChange();

protected:
    bool event(QEvent* event) override;

private:
    void buildLayout();
    void keepOnScreen();
    void bindHandlers();
    // Connects `signal` of `sender` to `handler`, called through runHandler.
    template <typename Sender, typename Signal>
    void bind(Sender* sender, Signal signal, void (TForm1::*handler)());
    void orderTabs();
    void applySetup(driver::SetupControl control, const toolkit::TrackBar& slider, QLabel& value);
    // The value label's width for its text (its size hint), measured once per text.
    int valueWidth(const QLabel& value);
    void showDisconnected();
    void showScan(const bridge::ScanResult& scan);
    void readDecimalSeparator();

    Environment env_;
    bridge::BridgeLink link_;
    std::unique_ptr<bridge::DeviceWatch> deviceWatch_;
    QString noticeProblem_;  // why the bridge cannot be reached or followed here, if so
    QChar decimalSeparator_ = QLatin1Char('.');
    std::map<const QLabel*, QHash<QString, int>> valueWidths_;
    bool placed_ = false;  // kept on the screen at the first show

    QWidget* client_ = nullptr;
    QGroupBox* GroupBox1 = nullptr;
    QGroupBox* GroupBox2 = nullptr;
    QGroupBox* GroupBox3 = nullptr;
    QGroupBox* GroupBox4 = nullptr;
    QTextEdit* PORTW = nullptr;
    QLabel* Label9 = nullptr;
    toolkit::StatusBar* StatusBar2 = nullptr;
    toolkit::StatusBar* StatusBar1 = nullptr;
    toolkit::Timer* Timer1 = nullptr;
    toolkit::Timer* TimerSEQA = nullptr;
    toolkit::Timer* TimerSEQB = nullptr;
    toolkit::Timer* TimerSEQC = nullptr;

    QRadioButton* SEQ1 = nullptr;
    QRadioButton* SEQ2 = nullptr;
    QRadioButton* SEQ3 = nullptr;
    toolkit::TrackBar* TSEQA = nullptr;
    toolkit::TrackBar* TSEQB = nullptr;
    toolkit::TrackBar* TSEQC = nullptr;
    QCheckBox* RUN_SEQ = nullptr;

    toolkit::TrackBar* ILEDslider = nullptr;
    toolkit::TrackBar* LED1slider = nullptr;
    toolkit::TrackBar* LED2slider = nullptr;
    toolkit::TrackBar* LED3slider = nullptr;
    QLabel* VAL_ILED = nullptr;
    QLabel* VAL_PWM1 = nullptr;
    QLabel* VAL_PWM2 = nullptr;
    QLabel* VAL_PWM3 = nullptr;

    toolkit::TrackBar* ILED_UP = nullptr;
    toolkit::TrackBar* ILED_DWN = nullptr;
    toolkit::TrackBar* GD_START = nullptr;
    QLabel* VAL_START = nullptr;
    QLabel* Val_STOP = nullptr;
    QLabel* VAL_WIDTH = nullptr;

    QRadioButton* KRL7741B = nullptr;
    QRadioButton* KRL7741C = nullptr;

    QMenu* File1 = nullptr;
    QAction* Exit1 = nullptr;

    std::unique_ptr<sequences::Ramps> ramps_;
};

}  // namespace app
