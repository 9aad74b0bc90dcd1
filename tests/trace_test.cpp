// The bus monitor's trace: when and what on every line, in the panel's own
// words and units; the filters and the count of what they show; following the
// newest line, and staying on the lines being read while new exchanges drop
// the oldest.

#include "Focus.h"
#include "Panel.h"
#include "TraceView.h"
#include "TrackBar.h"
#include "TrafficView.h"

#include <QComboBox>
#include <QPushButton>
#include <QScrollBar>

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using record::Verdict;
using testing_support::control;
using testing_support::Panel;

namespace {

// The panel on a virtual bridge and the traffic view beside it, on a clock
// the test moves.
struct Rig {
    Rig()
    {
        p.record.setClock([this] { return now; });
        view.resize(760, 420);
        view.show();
        (void)QTest::qWaitForWindowExposed(&view);
    }
    template <typename T>
    T& on(const char* name)
    {
        return control<T>(view, name);
    }
    monitor::TraceView& trace() { return on<monitor::TraceView>("Trace"); }
    QStringList lines()
    {
        QCoreApplication::processEvents();  // the trace follows once the event loop runs
        return trace().lines();
    }
    QStringList inView()
    {
        QCoreApplication::processEvents();
        return trace().linesInView();
    }
    QString shown()
    {
        QCoreApplication::processEvents();
        return on<QLabel>("ShownCount").text();
    }
    void press(const char* bar, Qt::Key key)
    {
        auto& slider = p.find<toolkit::TrackBar>(bar);
        testing_support::focusOn(slider);
        QTest::keyClick(&slider, key);
    }
    // Picks the `index`th entry of a combo box with the keyboard.
    void choose(const char* box, int index)
    {
        auto& combo = on<QComboBox>(box);
        testing_support::focusOn(combo);
        QTest::keyClick(&combo, Qt::Key_Home);
        for (int i = 0; i < index; ++i)
            QTest::keyClick(&combo, Qt::Key_Down);
        ASSERT_EQ(combo.currentIndex(), index);
    }
    // An exchange with `command`, as the recording host notes it.
    void add(std::uint8_t command, Verdict verdict)
    {
        const std::uint8_t status = verdict == Verdict::NotAcknowledged ? 0xF0 : 0x01;
        const bool replied = verdict == Verdict::Acknowledged || verdict == Verdict::NotAcknowledged;
        p.record.add(now, {0, 0x70, command, command},
                     replied ? record::Bytes{0, status, command, command} : record::Bytes{}, verdict);
    }

    record::TimePoint now = record::TimePoint{} + 1h;
    Panel p;
    monitor::TrafficView view{p.record};
};

// "   12.500  <meaning padded>  <bytes and verdict>", as the trace writes it.
QString line(const char* time, const QString& meaning, const char* exchange)
{
    return QStringLiteral("%1  %2  %3")
        .arg(QLatin1String(time), 12)
        .arg(meaning, -29)
        .arg(QLatin1String(exchange));
}

}  // namespace

TEST(Trace, EveryLineSaysWhenAndWhatInThePanelsOwnWords)
{
    Rig rig;
    rig.now += 12500us;
    rig.press("LED1slider", Qt::Key_Right);
    // What the panel showed for it: the message line's text, then the value label.
    const QString led1 = "PWM LED1 = $41 (" + rig.p.find<QLabel>("VAL_PWM1").text() + ")";
    EXPECT_EQ(led1, "PWM LED1 = $41 (3.125%)");
    rig.now += 1s;
    rig.press("GD_START", Qt::Key_End);
    const QString gd = "GRADUAL DIMMING = $FE (" + rig.p.find<QLabel>("VAL_WIDTH").text() + ")";
    rig.p.bridge.setChipAddress(virtualboard::kAddressC);
    rig.now += 250ms;
    rig.press("ILEDslider", Qt::Key_Right);
    // A ramp's step: level 31, which no track bar reaches.
    rig.p.bridge.setChipAddress(virtualboard::kAddressBT);
    QTest::mouseClick(&rig.p.find<QCheckBox>("RUN_SEQ"), Qt::LeftButton);
    for (int step = 0; step < 31; ++step)
        rig.p.form->TimerSEQATimer();

    const QStringList lines = rig.lines();
    ASSERT_EQ(lines.size(), 2 + 2 + 2 + 3 + 31);
    EXPECT_EQ(lines[0], line("12.500", led1, "00 70 41 41 -> 00 01 41 41  acknowledged"));
    EXPECT_EQ(lines[1], lines[0]) << "the key's move and its end";
    EXPECT_EQ(lines[2], line("1012.500", gd, "00 70 FE FE -> 00 01 FE FE  acknowledged"));
    EXPECT_EQ(gd, "GRADUAL DIMMING = $FE (240ms)");
    EXPECT_EQ(lines[4],
              line("1262.500", "ILED PEAK = $21 (3.125%)", "00 70 21 21 -> 00 F0 21 21  not acknowledged"));
    EXPECT_EQ(lines[6], line("1262.500", "PWM LED1 = $40 (0%)", "00 70 40 40 -> 00 01 40 40  acknowledged"));
    EXPECT_EQ(lines.back(),
              line("1262.500", "PWM LED1 = $5F (96.875%)", "00 70 5F 5F -> 00 01 5F 5F  acknowledged"));

    // The time of day instead, chosen as a person would.
    rig.choose("TimeShown", 1);
    const QString atNoon = rig.p.record.exchanges().front().time.toLocalTime().toString("HH:mm:ss.zzz");
    EXPECT_EQ(rig.trace().lines().front(),
              line(atNoon.toLatin1().constData(), led1, "00 70 41 41 -> 00 01 41 41  acknowledged"));
}

TEST(Trace, AFilterShowsExactlyWhatItSaysAndCountsIt)
{
    Rig rig;
    const std::pair<std::uint8_t, Verdict> traffic[]
        = {{0x41, Verdict::Acknowledged}, {0x62, Verdict::NotAcknowledged}, {0x43, Verdict::NoAnswer},
           {0x00, Verdict::Acknowledged}, {0xE3, Verdict::BridgeLost},      {0x05, Verdict::NotAcknowledged},
           {0x5F, Verdict::Acknowledged}};
    for (const auto& [command, verdict] : traffic) {
        rig.now += 10ms;
        rig.add(command, verdict);
    }
    auto commands = [&rig] {
        QStringList bytes;
        for (const QString& l : rig.lines())
            bytes << l.section(QStringLiteral(" -> "), 0, 0).right(2);
        return bytes.join(' ');
    };
    EXPECT_EQ(commands(), "41 62 43 00 E3 05 5F");
    EXPECT_EQ(rig.shown(), "Shown: 7 of 7");

    // Index 1: the failures; then one register each, in the panel's order.
    const std::pair<int, const char*> filters[]
        = {{1, "62 43 E3 05"},         {2, "00"}, {3, "41 43 5F"}, {4, "62"}, {8, "E3"}, {5, ""},
           {0, "41 62 43 00 E3 05 5F"}};
    for (const auto& [index, expected] : filters) {
        rig.choose("Filter", index);
        EXPECT_EQ(commands(), expected) << rig.on<QComboBox>("Filter").currentText().toStdString();
        const auto count = QString(expected).split(' ', Qt::SkipEmptyParts).size();
        EXPECT_EQ(rig.shown(), QStringLiteral("Shown: %1 of 7").arg(count));
    }
    EXPECT_EQ(rig.on<QComboBox>("Filter").itemText(3), "PWM LED1 only");

    // New traffic is filtered as it comes.
    rig.choose("Filter", 1);
    rig.add(0x44, Verdict::Acknowledged);
    rig.add(0x45, Verdict::NoAnswer);
    EXPECT_EQ(commands(), "62 43 E3 05 45");
}

// With the record full, each new exchange drops the oldest: a reader who
// scrolled back keeps reading the same exchanges.
TEST(Trace, TheLinesBeingReadStayPutWhileTrafficDropsTheOldest)
{
    Rig rig;
    for (std::size_t i = 0; i < record::Record::kKept; ++i) {
        rig.now += 1ms;
        rig.add(static_cast<std::uint8_t>(0x40 + i % 31), Verdict::Acknowledged);
    }
    monitor::TraceView& trace = rig.trace();
    auto& follow = rig.on<QPushButton>("Follow");
    EXPECT_TRUE(follow.isChecked());
    EXPECT_TRUE(rig.inView().back().endsWith("00 70 43 43 -> 00 01 43 43  acknowledged")) << "the newest";
    testing_support::focusOn(trace);
    for (int page = 0; page < 3; ++page)
        QTest::keyClick(&trace, Qt::Key_PageUp);
    const QStringList reading = rig.inView();
    ASSERT_GT(reading.size(), 3);
    EXPECT_FALSE(follow.isChecked()) << "scrolling back stops following";

    for (int i = 0; i < 50; ++i) {
        rig.now += 1ms;
        rig.add(0x7F, Verdict::Acknowledged);
        if (i % 10 == 0) {
            EXPECT_EQ(rig.inView(), reading) << "after " << i + 1 << " more";
        }
    }
    EXPECT_EQ(rig.inView(), reading);
    EXPECT_EQ(rig.p.record.exchanges().size(), record::Record::kKept);

    // Following again, on request: the newest line is the last in view.
    QTest::mouseClick(&follow, Qt::LeftButton);
    EXPECT_TRUE(follow.isChecked());
    EXPECT_TRUE(rig.inView().back().endsWith("00 70 7F 7F -> 00 01 7F 7F  acknowledged"));
    rig.now += 1ms;
    rig.add(0x60, Verdict::Acknowledged);
    EXPECT_TRUE(rig.inView().back().contains("PWM LED2 = $60 (0%)"));

    // Once the exchange at the top is dropped, the oldest kept takes its place.
    QTest::keyClick(trace.verticalScrollBar(), Qt::Key_Home);  // the scroll bar to the top
    EXPECT_FALSE(follow.isChecked());
    const QString oldest = rig.inView().front();
    for (int i = 0; i < 5; ++i)
        rig.add(0x7E, Verdict::Acknowledged);
    EXPECT_NE(rig.inView().front(), oldest);
    EXPECT_EQ(rig.inView().front(), rig.lines().front());
}

// The window may paint between an exchange and the trace's catching up with
// it: the lines the record has just dropped are not read.
TEST(Trace, APaintBeforeTheTraceCatchesUpReadsOnlyWhatTheRecordKeeps)
{
    Rig rig;
    for (std::size_t i = 0; i < record::Record::kKept; ++i)
        rig.add(0x41, Verdict::Acknowledged);
    monitor::TraceView& trace = rig.trace();
    testing_support::focusOn(trace);
    (void)rig.inView();
    QTest::keyClick(trace.verticalScrollBar(), Qt::Key_Home);
    for (int i = 0; i < 20; ++i)
        rig.add(0x42, Verdict::Acknowledged);
    // Not yet caught up: the 20 oldest lines are gone from the record.
    EXPECT_EQ(trace.lines().size(), static_cast<qsizetype>(record::Record::kKept) - 20);
    trace.viewport()->repaint();
    EXPECT_EQ(rig.lines().size(), static_cast<qsizetype>(record::Record::kKept));
}
