// The window as the operator meets it: its controls, the bridge's state in the
// status bars, the menu, the clock and the error box.

#include "Application.h"
#include "Clock.h"
#include "Focus.h"
#include "OpenFailure.h"
#include "Panel.h"
#include "StatusBar.h"
#include "Tag.h"
#include "Timer.h"
#include "TrackBar.h"

#include <QAbstractButton>
#include <QApplication>
#include <QGroupBox>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QTextEdit>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>

using testing_support::bridgeAt;
using testing_support::keyboardAt;
using testing_support::Panel;
using virtualboard::VirtualBridge;

namespace {

const std::string kBoard = VirtualBridge::evaluationBoard().path;

struct Placed {
    const char* name;
    QRect geometry;
};

// `expected` with each "_" replaced by the blank the locale's own data puts
// there: U+0020 in older locale data, U+202F (narrow no-break space) before
// the day period in newer. The blank is read off the locale's own short text
// for the same moment, just before the word that follows the "_"; where the
// locale has no blank there the "_" stays and the comparison fails.
QString withLocaleBlanks(const char* expected, const QLocale& locale, const QDateTime& at)
{
    const QString reference = locale.toString(at.date(), QLocale::ShortFormat) + QLatin1Char(' ')
        + locale.toString(at.time(), QLocale::ShortFormat);
    QString text = QString::fromUtf8(expected);
    for (qsizetype i = text.indexOf(QLatin1Char('_')); i >= 0; i = text.indexOf(QLatin1Char('_'), i + 1)) {
        qsizetype end = i + 1;
        while (end < text.size() && !text[end].isSpace() && text[end] != QLatin1Char('_'))
            ++end;
        const qsizetype word = reference.indexOf(text.mid(i + 1, end - i - 1), 0, Qt::CaseInsensitive);
        if (word > 0 && reference[word - 1].isSpace())
            text[i] = reference[word - 1];
    }
    return text;
}

}  // namespace

TEST(Window, HasTheFixedSizeTitleAndPosition)
{
    Panel p;
    EXPECT_EQ(p.form->windowTitle(), QString(76, QLatin1Char(' ')) + "KRL7741B/C/T CONTROLLER");
    EXPECT_EQ(p.form->windowTitle().size(), 99);
    EXPECT_EQ(p.form->centralWidget()->size(), QSize(654, 241));
    EXPECT_EQ(p.form->minimumSize(), p.form->maximumSize());
    EXPECT_FALSE(p.form->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(p.form->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(p.form->windowFlags() & Qt::WindowCloseButtonHint);

    // At (601, 280) where the screen has room for it there, else moved in as
    // little as it takes (the offscreen screen is 800 x 600).
    const QRect room = p.form->screen()->availableGeometry();
    const QRect frame = p.form->frameGeometry();
    EXPECT_TRUE(room.contains(frame))
        << frame.x() << "," << frame.y() << " on " << room.width() << "x" << room.height();
    EXPECT_EQ(frame.topLeft(),
              QPoint(std::min(601, room.right() + 1 - frame.width()),
                     std::min(280, room.bottom() + 1 - frame.height())));
}

TEST(Window, EveryControlStandsWhereTheLayoutPutsIt)
{
    Panel p;
    const Placed placed[] = {
        {"GroupBox1", {8, 0, 129, 193}},    {"GroupBox2", {144, 0, 233, 137}},
        {"GroupBox3", {384, 0, 265, 113}},  {"GroupBox4", {384, 120, 265, 57}},
        {"PORTW", {144, 152, 233, 41}},     {"Label9", {544, 184, 107, 13}},
        {"StatusBar2", {0, 203, 654, 19}},  {"StatusBar1", {0, 222, 654, 19}},
        {"SEQ1", {8, 24, 113, 17}},         {"TSEQA", {8, 40, 81, 25}},
        {"SEQ2", {8, 72, 113, 17}},         {"TSEQB", {8, 88, 81, 25}},
        {"SEQ3", {8, 120, 113, 17}},        {"TSEQC", {8, 136, 81, 25}},
        {"RUN_SEQ", {8, 168, 97, 17}},      {"Label1", {6, 24, 61, 13}},
        {"Label2", {6, 48, 66, 13}},        {"Label3", {6, 80, 66, 13}},
        {"Label4", {6, 112, 66, 13}},       {"ILEDslider", {72, 16, 113, 25}},
        {"LED1slider", {72, 45, 113, 25}},  {"LED2slider", {72, 75, 113, 25}},
        {"LED3slider", {72, 104, 113, 25}}, {"VAL_ILED", {184, 24, 39, 13}},
        {"VAL_PWM1", {184, 48, 24, 13}},    {"VAL_PWM2", {184, 80, 24, 13}},
        {"VAL_PWM3", {184, 112, 24, 13}},   {"Label10", {5, 32, 50, 13}},
        {"Label11", {5, 56, 72, 13}},       {"Label12", {5, 88, 64, 13}},
        {"ILED_UP", {80, 24, 121, 25}},     {"ILED_DWN", {80, 52, 121, 25}},
        {"GD_START", {80, 80, 121, 25}},    {"VAL_START", {200, 32, 32, 13}},
        {"Val_STOP", {200, 56, 32, 13}},    {"VAL_WIDTH", {200, 88, 30, 13}},
        {"KRL7741B", {8, 16, 201, 17}},     {"KRL7741C", {8, 32, 137, 17}},
    };
    for (const auto& [name, geometry] : placed)
        EXPECT_EQ(p.find<QWidget>(name).geometry(), geometry) << name;
}

TEST(Window, ControlsStartWithTheirCaptionsRangesAndStates)
{
    Panel p;
    EXPECT_EQ(p.find<QGroupBox>("GroupBox1").title(), "LED SEQUENCES");
    EXPECT_EQ(p.find<QGroupBox>("GroupBox2").title(), "ILED & & PWM Set Up");
    EXPECT_EQ(p.find<QGroupBox>("GroupBox3").title(), "GRADUAL DIMMING");
    EXPECT_EQ(p.find<QGroupBox>("GroupBox4").title(), "Select Device");

    for (const char* name : {"TSEQA", "TSEQB", "TSEQC"}) {
        auto& t = p.find<toolkit::TrackBar>(name);
        EXPECT_EQ(t.minimum(), 10) << name;
        EXPECT_EQ(t.maximum(), 200) << name;
        EXPECT_EQ(t.value(), 50) << name;
    }
    for (const char* name :
         {"ILEDslider", "LED1slider", "LED2slider", "LED3slider", "ILED_UP", "ILED_DWN", "GD_START"}) {
        auto& t = p.find<toolkit::TrackBar>(name);
        EXPECT_EQ(t.minimum(), 0) << name;
        EXPECT_EQ(t.maximum(), 30) << name;
        EXPECT_EQ(t.value(), 0) << name;
        EXPECT_EQ(t.orientation(), Qt::Horizontal) << name;
        EXPECT_EQ(t.tickInterval(), 1) << name;
        EXPECT_EQ(t.pageStep(), 2) << name;
    }
    const std::pair<const char*, const char*> labels[] = {
        {"VAL_ILED", "000mA"},   {"VAL_PWM1", "00%"},    {"VAL_PWM2", "00%"},      {"VAL_PWM3", "00%"},
        {"VAL_START", "00mA"},   {"Val_STOP", "00mA"},   {"VAL_WIDTH", "00ms"},    {"Label9", "Halvern"},
        {"Label1", "ILED peak"}, {"Label10", "ILED-UP"}, {"Label11", "ILED-DOWN"}, {"Label12", "GD START"}};
    for (const auto& [name, text] : labels)
        EXPECT_EQ(p.find<QLabel>(name).text(), QString::fromLatin1(text)) << name;

    EXPECT_EQ(p.find<QLabel>("VAL_PWM2").palette().color(QPalette::WindowText), QColor(0, 0, 255));
    EXPECT_EQ(p.find<QLabel>("Val_STOP").palette().color(QPalette::WindowText), QColor(128, 0, 0));
    EXPECT_EQ(p.find<QLabel>("Label9").palette().color(QPalette::WindowText), QColor(0, 128, 0));
    EXPECT_TRUE(p.find<QLabel>("Label9").font().bold());

    EXPECT_TRUE(p.find<QRadioButton>("SEQ1").isChecked());
    EXPECT_TRUE(p.find<QRadioButton>("KRL7741B").isChecked());
    EXPECT_EQ(p.find<QRadioButton>("KRL7741B").text(), "KRL7741B / KRL7741T: I2C = $70");
    EXPECT_EQ(p.find<QRadioButton>("KRL7741C").text(), "KRL7741C : I2C = $72");
    EXPECT_FALSE(p.find<QCheckBox>("RUN_SEQ").isChecked());
    EXPECT_EQ(p.find<QCheckBox>("RUN_SEQ").text(), "Run Sequence");
    EXPECT_TRUE(p.portw().isEmpty());
    EXPECT_EQ(toolkit::tag(p.find<QTextEdit>("PORTW")), 0);

    for (const char* name : {"TimerSEQA", "TimerSEQB", "TimerSEQC"}) {
        auto& t = p.find<toolkit::Timer>(name);
        EXPECT_FALSE(t.enabled()) << name;
        EXPECT_EQ(t.interval(), std::chrono::milliseconds(50)) << name;
        EXPECT_EQ(toolkit::tag(t), 0) << name;
    }
    EXPECT_TRUE(p.find<toolkit::Timer>("Timer1").enabled());
    EXPECT_EQ(p.find<toolkit::Timer>("Timer1").interval(), std::chrono::milliseconds(1000));
    EXPECT_TRUE(p.bridge.written().empty()) << "nothing is sent at start-up";
}

TEST(Window, StatusBarsHaveFivePanelsWithTheLastOneStretching)
{
    Panel p(false);
    for (const char* name : {"StatusBar1", "StatusBar2"}) {
        auto& bar = p.find<toolkit::StatusBar>(name);
        ASSERT_EQ(bar.panelCount(), 5);
        const int lefts[] = {0, 150, 250, 350, 450};
        for (int i = 0; i < 5; ++i) {
            EXPECT_EQ(bar.panel(i).x(), lefts[i]) << name << i;
            EXPECT_EQ(bar.panel(i).alignment(), Qt::AlignCenter) << name << i;
        }
        EXPECT_EQ(bar.panel(3).width(), 100);
        EXPECT_EQ(bar.panel(4).width(), 654 - 450);
    }
    EXPECT_EQ(p.panel("StatusBar1", 4), "ZK-May 2009");
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(p.panel("StatusBar1", i).isEmpty());

    // A text too long for its panel shows its start rather than its middle.
    p.bridge.plug(VirtualBridge::evaluationBoard());
    auto& product = p.find<toolkit::StatusBar>("StatusBar1").panel(3);
    EXPECT_EQ(product.text(), "KRL7741 Evaluation Board");
    EXPECT_EQ(product.alignment(), Qt::AlignLeft | Qt::AlignVCenter);
}

TEST(Window, TabWalksTheGroupsWithEachRadioGroupOneStop)
{
    Panel p;
    testing_support::focusOn(p.find<QRadioButton>("SEQ1"));
    const char* expected[]
        = {"RUN_SEQ",    "TSEQA",   "TSEQB",    "TSEQC",    "ILEDslider", "LED1slider", "LED2slider",
           "LED3slider", "ILED_UP", "ILED_DWN", "GD_START", "PORTW",      "KRL7741B",   "SEQ1"};
    for (const char* name : expected) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        ASSERT_TRUE(QApplication::focusWidget());
        EXPECT_EQ(QApplication::focusWidget()->objectName(), QString::fromLatin1(name));
    }
    // Entered at the selected button.
    p.find<QRadioButton>("KRL7741C").click();
    testing_support::focusOn(p.find<QRadioButton>("SEQ1"));
    for (int i = 0; i < 13; ++i)
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget()->objectName(), "KRL7741C");
}

TEST(Window, StartsDisconnectedWithoutABridge)
{
    Panel p(false);
    EXPECT_EQ(p.panel("StatusBar2", 0), "USB = Disconnected ");
    EXPECT_EQ(p.panel("StatusBar2", 1), "VID=$0000");
    EXPECT_EQ(p.panel("StatusBar2", 2), "PID=$0000");
    EXPECT_EQ(p.panel("StatusBar2", 3), "");
    EXPECT_EQ(p.panel("StatusBar1", 3), "");
}

TEST(Window, StartsOpenWithTheBridgeAlreadyShownBeforeTheWindowIs)
{
    VirtualBridge bridge;
    bridge.plug(VirtualBridge::evaluationBoard());
    app::TForm1 form(bridge);  // not shown yet
    auto& bar2 = *form.findChild<toolkit::StatusBar*>("StatusBar2");
    auto& bar1 = *form.findChild<toolkit::StatusBar*>("StatusBar1");
    EXPECT_EQ(bar2.text(0), "USB = OPEN ");
    EXPECT_EQ(bar2.text(1), "VID=$6017");
    EXPECT_EQ(bar2.text(2), "PID=$0200");
    EXPECT_EQ(bar2.text(3), "HID =EVB-0001");
    EXPECT_EQ(bar1.text(3), "KRL7741 Evaluation Board");
    EXPECT_EQ(bridge.openHandles(), 1);
}

TEST(Window, FollowsTheBridgeAsItIsUnpluggedAndPluggedAgain)
{
    Panel p;
    p.bridge.plug(keyboardAt("kbd"));  // an unrelated device changes nothing
    EXPECT_EQ(p.panel("StatusBar2", 0), "USB = OPEN ");
    EXPECT_EQ(p.bridge.openHandles(), 1);

    p.bridge.unplug(kBoard);
    EXPECT_EQ(p.panel("StatusBar2", 0), "USB = Disconnected ");
    EXPECT_EQ(p.panel("StatusBar2", 1), "VID=$0000");
    EXPECT_EQ(p.panel("StatusBar2", 2), "PID=$0000");
    EXPECT_EQ(p.panel("StatusBar2", 3), "HID =EVB-0001") << "kept";
    EXPECT_EQ(p.panel("StatusBar1", 3), "KRL7741 Evaluation Board") << "kept";
    EXPECT_EQ(p.bridge.openHandles(), 0);

    auto other = bridgeAt("usb-2");
    other.serial = u"SN42";
    p.bridge.plug(other);
    EXPECT_EQ(p.panel("StatusBar2", 0), "USB = OPEN ");
    EXPECT_EQ(p.panel("StatusBar2", 1), "VID=$6017");
    EXPECT_EQ(p.panel("StatusBar2", 3), "HID =SN42");
    EXPECT_EQ(p.bridge.openHandles(), 1);
}

TEST(Window, TwoBridgesShowTheFirst)
{
    VirtualBridge bridge;
    bridge.setRealTime(false);
    auto first = bridgeAt("a");
    first.serial = u"FIRST";
    auto second = bridgeAt("b");
    second.serial = u"SECOND";
    bridge.plug(first);
    bridge.plug(second);
    app::TForm1 form(bridge);
    EXPECT_EQ(form.findChild<toolkit::StatusBar*>("StatusBar2")->text(3), "HID =FIRST");
    EXPECT_EQ(bridge.openHandles(), 1);
}

TEST(Window, AnUnreadableSerialKeepsTheEarlierText)
{
    Panel p;
    p.bridge.unplug(kBoard);
    auto mute = VirtualBridge::evaluationBoard();
    mute.serial.reset();
    mute.product.reset();
    p.bridge.plug(mute);
    EXPECT_EQ(p.panel("StatusBar2", 0), "USB = OPEN ");
    EXPECT_EQ(p.panel("StatusBar2", 3), "HID =EVB-0001");
    EXPECT_EQ(p.panel("StatusBar1", 3), "KRL7741 Evaluation Board");
}

TEST(Window, ABridgeThatMayNotBeOpenedSaysWhyInATooltip)
{
    VirtualBridge bridge;
    auto locked = VirtualBridge::evaluationBoard();
    locked.openError = "Permission denied";
    locked.openDeniedPermission = true;
    bridge.plug(locked);
    app::TForm1 form(bridge);
    auto& bar2 = *form.findChild<toolkit::StatusBar*>("StatusBar2");
    EXPECT_EQ(bar2.text(0), "USB = Disconnected ");
    EXPECT_EQ(bar2.text(1), "VID=$0000");
    // In the system's own words (the udev rule on Linux: tests/hidraw/panel_test.cpp).
    EXPECT_TRUE(
        bar2.panel(0).toolTip().contains(QString::fromStdString(bridge::whyDenied("Permission denied"))));
    EXPECT_TRUE(bar2.panel(0).toolTip().contains("Permission denied"));
    EXPECT_EQ(bridge.openHandles(), 0);

    bridge.setOpenFailure(locked.path, {}, false);  // the rule is installed, the bridge replugged
    bridge.plug(VirtualBridge::evaluationBoard());
    EXPECT_EQ(bar2.text(0), "USB = OPEN ");
    EXPECT_TRUE(bar2.panel(0).toolTip().isEmpty());
}

TEST(Window, DisabledMenuEntriesDoNothingAndExitCloses)
{
    Panel p;
    auto& file = p.find<QMenu>("File1");
    EXPECT_EQ(file.title(), "File");
    QStringList captions;
    for (QAction* a : file.actions())
        captions << (a->isSeparator() ? QStringLiteral("-") : a->text());
    EXPECT_EQ(captions, QStringList({"Open ...", "Save", "Save as ...", "-", "Exit"}));
    for (const char* name : {"Open1", "Save1", "Saveas1"}) {
        auto& entry = p.find<QAction>(name);
        EXPECT_FALSE(entry.isEnabled()) << name;
        entry.trigger();
    }
    EXPECT_TRUE(p.form->isVisible());
    EXPECT_TRUE(p.bridge.written().empty());

    p.find<QAction>("Exit1").trigger();
    EXPECT_FALSE(p.form->isVisible());
}

TEST(Window, TheClockTicksInTheLocalesOwnWay)
{
    QDateTime now(QDate(2026, 12, 8), QTime(14, 5, 9));
    app::Environment env;
    env.now = [&] { return now; };
    QLocale locale(QLocale::English, QLocale::UnitedStates);
    env.locale = [&] { return locale; };
    Panel p(true, env);
    EXPECT_TRUE(p.panel("StatusBar2", 4).isEmpty()) << "empty until the first tick";
    EXPECT_TRUE(QTest::qWaitFor([&] { return !p.panel("StatusBar2", 4).isEmpty(); }, 5000));
    EXPECT_EQ(p.panel("StatusBar2", 4), withLocaleBlanks("12/8/26 2:05:09_PM", locale, now));

    locale = QLocale(QLocale::German, QLocale::Germany);
    p.form->Timer1Timer();
    EXPECT_EQ(p.panel("StatusBar2", 4), "08.12.26 14:05:09");

    now.setTime(QTime(7, 0, 0));
    p.form->Timer1Timer();
    EXPECT_EQ(p.panel("StatusBar2", 4), "08.12.26 07:00:00");

    locale = QLocale(QLocale::English, QLocale::UnitedStates);
    p.form->Timer1Timer();
    EXPECT_EQ(p.panel("StatusBar2", 4), withLocaleBlanks("12/8/26 7:00:00_AM", locale, now));

    now.setTime(QTime(0, 0, 0));
    p.form->Timer1Timer();
    EXPECT_EQ(p.panel("StatusBar2", 4), "12/8/26") << "the date alone at midnight";
}

TEST(Clock, WritesHoursMinutesAndSecondsTheWayEachLocaleDoes)
{
    // Hours as the locale's short format has them (leading zero or not, 0-23
    // or 1-12), its own time separator, its own AM/PM designator on its own
    // side; no time zone, day-period letters, unit words or brackets. "_" is
    // the blank the locale's data puts there (see withLocaleBlanks).
    const struct {
        const char* locale;
        const char* afternoon;      // 2026-12-08 14:05:09
        const char* afterMidnight;  // 2026-01-02 00:04:05
        const char* midnight;       // 2026-01-02 00:00:00: the date alone
    } cases[] = {
        {"en_US", "12/8/26 2:05:09_PM", "1/2/26 12:04:05_AM", "1/2/26"},
        {"en_GB", "08/12/2026 14:05:09", "02/01/2026 00:04:05", "02/01/2026"},
        {"de_DE", "08.12.26 14:05:09", "02.01.26 00:04:05", "02.01.26"},
        {"fi_FI", "8.12.2026 14.05.09", "2.1.2026 0.04.05", "2.1.2026"},
        {"es_ES", "8/12/26 14:05:09", "2/1/26 0:04:05", "2/1/26"},
        {"ja_JP", "2026/12/08 14:05:09", "2026/01/02 0:04:05", "2026/01/02"},
        {"ko_KR", "26. 12. 8. \uC624\uD6C4 2:05:09", "26. 1. 2. \uC624\uC804 12:04:05", "26. 1. 2."},
        {"zh_TW", "2026/12/8 \u4E0B\u53482:05:09", "2026/1/2 \u4E0A\u534812:04:05", "2026/1/2"},
        // Persian digits, as the locale writes its date too
        {"fa_IR", "\u06F2\u06F0\u06F2\u06F6/\u06F1\u06F2/\u06F8 \u06F1\u06F4:\u06F0\u06F5:\u06F0\u06F9",
         "\u06F2\u06F0\u06F2\u06F6/\u06F1/\u06F2 \u06F0:\u06F0\u06F4:\u06F0\u06F5",
         "\u06F2\u06F0\u06F2\u06F6/\u06F1/\u06F2"},
        {"th_TH", "8/12/26 14:05:09", "2/1/26 00:04:05", "2/1/26"},
        {"bg_BG", "8.12.26_\u0433. 14:05:09", "2.01.26_\u0433. 0:04:05", "2.01.26_\u0433."},
        {"en_CA", "2026-12-08 2:05:09_p.m.", "2026-01-02 12:04:05_a.m.", "2026-01-02"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.locale);
        const QLocale locale(QString::fromLatin1(c.locale));
        const QDateTime afternoon(QDate(2026, 12, 8), QTime(14, 5, 9));
        const QDateTime afterMidnight(QDate(2026, 1, 2), QTime(0, 4, 5));
        const QDateTime midnight(QDate(2026, 1, 2), QTime(0, 0, 0));
        EXPECT_EQ(app::clockText(afternoon, locale), withLocaleBlanks(c.afternoon, locale, afternoon));
        EXPECT_EQ(app::clockText(afterMidnight, locale),
                  withLocaleBlanks(c.afterMidnight, locale, afterMidnight));
        EXPECT_EQ(app::clockText(midnight, locale), withLocaleBlanks(c.midnight, locale, midnight));
    }
}

namespace {

// A host whose device list and report writes fail on demand, as a broken
// platform call would.
class FailingHost final : public bridge::HIDapi {
public:
    class Device final : public bridge::HidDevice {
    public:
        Device(FailingHost& host, std::unique_ptr<bridge::HidDevice> inner)
            : host_(host), inner_(std::move(inner))
        {
        }
        int write(std::span<const std::uint8_t> report) override
        {
            if (host_.failWrites)
                throw std::runtime_error("The report cannot be written.");
            return inner_->write(report);
        }
        int read(std::span<std::uint8_t> report, std::chrono::milliseconds timeout) override
        {
            return inner_->read(report, timeout);
        }
        std::optional<std::u16string> productString() override { return inner_->productString(); }
        std::optional<std::u16string> serialString() override { return inner_->serialString(); }
        bool gone() const override { return inner_->gone(); }

    private:
        FailingHost& host_;
        std::unique_ptr<bridge::HidDevice> inner_;
    };

    VirtualBridge inner;
    bool fail = false;
    bool notices = true;
    std::string hidFailure;  // what the host's HID library says when it did not start
    std::vector<bridge::HidInterface> interfaces() override
    {
        if (fail)
            throw std::runtime_error("The device list cannot be read.");
        return inner.interfaces();
    }
    bool failWrites = false;
    bridge::OpenResult open(const std::string& path) override
    {
        bridge::OpenResult opened = inner.open(path);
        if (opened.device)
            opened.device = std::make_unique<Device>(*this, std::move(opened.device));
        return opened;
    }
    bridge::WatchResult watch(std::function<void()> f) override
    {
        if (!notices)
            return {nullptr, "no device events on this machine"};
        return inner.watch(std::move(f));
    }
    std::string unavailable() const override { return hidFailure; }
};

}  // namespace

TEST(Window, AnErrorInAHandlerIsShownAndTheProgramGoesOn)
{
    FailingHost host;
    app::TForm1 form(host);
    form.show();
    host.fail = true;

    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    int buttons = 0;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_TRUE(box);
        title = box->windowTitle();
        text = box->text();
        icon = box->icon();
        buttons = static_cast<int>(box->standardButtons());
        box->button(QMessageBox::Ok)->click();
    });
    host.inner.plug(VirtualBridge::evaluationBoard());  // the notice runs the failing scan

    const auto* application = qobject_cast<app::Application*>(QApplication::instance());
    ASSERT_TRUE(application);
    EXPECT_EQ(title, application->title());
    EXPECT_EQ(text, "The device list cannot be read.");
    EXPECT_EQ(icon, QMessageBox::Critical);
    EXPECT_EQ(buttons, static_cast<int>(QMessageBox::Ok));

    // The program goes on: the clock still ticks, the next notice scans.
    EXPECT_TRUE(form.findChild<toolkit::Timer*>("Timer1")->enabled());
    host.fail = false;
    host.inner.plug(virtualboard::VirtualInterface(testing_support::keyboardAt("kbd")));
    EXPECT_EQ(form.findChild<toolkit::StatusBar*>("StatusBar2")->text(0), "USB = OPEN ");
}

TEST(Window, ErrorsRaisedDuringADragAreShownOneByOneAndNothingUnwindsThroughQt)
{
    FailingHost host;
    host.inner.setRealTime(false);
    host.inner.plug(VirtualBridge::evaluationBoard());
    app::TForm1 form(host);
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    auto& slider = *form.findChild<toolkit::TrackBar*>("LED2slider");
    host.failWrites = true;

    // The operator closes every error box as it comes.
    QStringList shown;
    QString portwUnderBox;  // what PORTW shows while the box is up
    QTimer closer;
    closer.setInterval(0);
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            EXPECT_EQ(box->objectName(), "ErrorBox");
            EXPECT_EQ(box->icon(), QMessageBox::Critical);
            shown << box->text();
            portwUnderBox = form.findChild<QTextEdit*>("PORTW")->toPlainText();
            box->button(QMessageBox::Ok)->click();
        }
    });
    closer.start();
    bool escaped = false;
    try {
        testing_support::dragTo(slider, 12);
    } catch (...) {
        escaped = true;  // an error came out of Qt's mouse event dispatch
    }
    closer.stop();
    EXPECT_FALSE(escaped);
    ASSERT_GE(shown.size(), 3) << "every change of the drag raised its own error";
    for (const QString& text : shown)
        EXPECT_EQ(text, "The report cannot be written.");
    EXPECT_EQ(slider.value(), 12);
    EXPECT_EQ(form.findChild<QLabel*>("VAL_PWM2")->text(), "37.5%") << "the handler ran up to the write";
    EXPECT_EQ(portwUnderBox, "PWM LED2 = $6C") << "the description the failed command never replaced";

    // The program goes on: the next change goes through.
    host.failWrites = false;
    host.inner.clearWritten();
    testing_support::focusOn(slider);
    QTest::keyClick(&slider, Qt::Key_Right);
    ASSERT_FALSE(host.inner.written().empty());
    EXPECT_EQ(testing_support::hex(host.inner.written().back()), "00 70 6D 6D");
    EXPECT_EQ(form.findChild<QLabel*>("VAL_PWM2")->text(), "40.625%");
}

TEST(Window, SaysSoWhenPluggingCannotBeFollowed)
{
    FailingHost host;
    host.notices = false;
    app::TForm1 form(host);
    auto& state = form.findChild<toolkit::StatusBar*>("StatusBar2")->panel(0);
    EXPECT_EQ(state.text(), "USB = Disconnected ");
    EXPECT_EQ(state.toolTip(),
              "Plugging and unplugging cannot be followed here: no device events on this machine.");

    host.inner.plug(VirtualBridge::evaluationBoard());  // no notice reaches the window
    EXPECT_EQ(state.text(), "USB = Disconnected ");
    form.RequestBridgeScan();
    EXPECT_EQ(state.text(), "USB = OPEN ");
    EXPECT_TRUE(state.toolTip().startsWith("Plugging and unplugging cannot be followed"));
}

TEST(Window, SaysSoWhenTheHostsHidLibraryDidNotStart)
{
    FailingHost host;
    host.hidFailure = "resolve DLL functions: (0x0000007E) The specified module could not be found.";
    host.notices = false;
    app::TForm1 form(host);
    auto& state = form.findChild<toolkit::StatusBar*>("StatusBar2")->panel(0);
    EXPECT_EQ(state.text(), "USB = Disconnected ");
    EXPECT_EQ(state.toolTip(),
              "USB devices cannot be used here: resolve DLL functions: (0x0000007E) The specified "
              "module could not be found.\n"
              "Plugging and unplugging cannot be followed here: no device events on this machine.");
}

TEST(ApplicationTitle, IsTheFileNameUpToItsFirstDotWithTheRestInLowerCase)
{
    EXPECT_EQ(app::applicationTitle("C:/Tools/KRL7741AT.exe"), "Krl7741at");
    EXPECT_EQ(app::applicationTitle("/usr/bin/KRL7741AT"), "Krl7741at");
    EXPECT_EQ(app::applicationTitle("/opt/panel/my.tool.v2.exe"), "my");
    EXPECT_EQ(app::applicationTitle("/x/krl-Panel"), "krl-panel");
}

TEST(Window, ABridgeRepluggedBetweenTwoNoticesCostsOneCommandAtMost)
{
    Panel p;
    // The remove and add notices come as one: the scan sees the same path listed.
    p.bridge.unplug(kBoard, false);
    p.bridge.plug(VirtualBridge::evaluationBoard());
    auto& slider = p.find<toolkit::TrackBar>("ILEDslider");
    testing_support::focusOn(slider);

    QTest::keyPress(&slider, Qt::Key_Right);  // on the dead handle
    EXPECT_EQ(p.portw(), "USB error : device not connected");
    EXPECT_EQ(p.panel("StatusBar2", 0), "USB = OPEN ");
    EXPECT_EQ(p.panel("StatusBar2", 1), "VID=$6017");
    EXPECT_TRUE(p.bridge.written().empty());

    QTest::keyRelease(&slider, Qt::Key_Right);  // sends again, on the new handle
    EXPECT_EQ(p.panel("StatusBar2", 3), "$01- $21- $21");
    EXPECT_EQ(p.panel("StatusBar2", 0), "USB = OPEN ");
    ASSERT_EQ(p.bridge.written().size(), 1u);
    EXPECT_EQ(testing_support::hex(p.bridge.written()[0]), "00 70 21 21");
    EXPECT_EQ(p.bridge.openHandles(), 1);
}

TEST(Window, AFailedWriteIsAnsweredByNothing)
{
    Panel p;
    p.bridge.setWritesFail(true);
    p.bridge.sendDuringNextWait(kBoard, {0x00, 0x01, 0x21, 0x21});
    auto& slider = p.find<toolkit::TrackBar>("ILEDslider");
    testing_support::focusOn(slider);
    QTest::keyPress(&slider, Qt::Key_Right);
    EXPECT_EQ(p.panel("StatusBar2", 3), "$00- $00- $00");
    EXPECT_EQ(p.portw(), "USB error : device not connected");
    EXPECT_EQ(p.panel("StatusBar2", 0), "USB = OPEN ");
}
