// The panel program's options: --monitor opens the bus monitor beside the
// panel, --log FILE writes every exchange to FILE; a log that cannot be
// written stops nothing but itself, one that cannot be opened stops the
// program before anything is sent.

#include "Counts.h"
#include "EventLoop.h"
#include "Focus.h"
#include "JsonLines.h"
#include "MonitorWindow.h"
#include "Panel.h"
#include "Program.h"
#include "ReviewWindow.h"
#include "StripChart.h"
#include "TraceLines.h"
#include "TraceView.h"
#include "TrackBar.h"

#include <QFileDialog>
#include <QJsonDocument>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using testing_support::control;
using testing_support::jsonLines;
using virtualboard::VirtualBridge;

namespace {

// The program started on a virtual board with `arguments`.
struct Launch {
    explicit Launch(const QStringList& arguments)
    {
        board.setRealTime(false);
        board.plug(VirtualBridge::evaluationBoard());
        QTextStream out(&outText);
        started = app::Program::start(QStringList{QStringLiteral("KRL7741AT")} + arguments, board, out, err);
        if (started.program) {
            started.program->show();
            (void)QTest::qWaitForWindowExposed(&started.program->form());
        }
    }
    app::Program& program() { return *started.program; }
    // The operator presses a key on one of the panel's track bars.
    void press(const char* bar, Qt::Key key)
    {
        auto& slider = control<toolkit::TrackBar>(program().form(), bar);
        testing_support::focusOn(slider);
        QTest::keyClick(&slider, key);
    }
    QString monitorText(const char* label)
    {
        QCoreApplication::processEvents();  // the trace and the counts follow when the event loop runs
        return control<QLabel>(*program().monitor(), label).text();
    }
    QString trace()
    {
        QCoreApplication::processEvents();
        const QStringList lines = control<monitor::TraceView>(*program().monitor(), "Trace").lines();
        return testing_support::exchangeColumns(lines).join('\n');
    }
    // The last line in view: the trace follows the newest.
    QString lastTrace()
    {
        QCoreApplication::processEvents();
        return testing_support::exchangeColumn(
            control<monitor::TraceView>(*program().monitor(), "Trace").linesInView().back());
    }

    VirtualBridge board;
    QString outText, errText;
    QTextStream err{&errText};
    app::Program::Started started;
};

}  // namespace

TEST(PanelOptions, WithoutOptionsThePanelIsAllThereIsAndBadOnesStopIt)
{
    Launch plain(QStringList{});
    ASSERT_TRUE(plain.started.program);
    EXPECT_EQ(plain.program().monitor(), nullptr);
    EXPECT_EQ(plain.program().traffic(), nullptr) << "nothing recorded";
    EXPECT_EQ(plain.program().form().link().connected(), true);

    Launch help({QStringLiteral("--help")});
    EXPECT_FALSE(help.started.program);
    EXPECT_EQ(help.started.status, 0);
    for (const char* option : {"--monitor", "--log <FILE>", "JSON line", "--serial <S>", "--version"})
        EXPECT_TRUE(help.outText.contains(QLatin1String(option))) << option;
    for (const char* option : {"--version", "-v"}) {
        Launch version({QLatin1String(option)});
        EXPECT_FALSE(version.started.program);
        EXPECT_EQ(version.started.status, 0);
        EXPECT_EQ(version.outText, "KRL7741AT " KRL_VERSION "\n");
    }

    for (const QStringList& bad :
         {QStringList{QStringLiteral("--monitr")}, QStringList{QStringLiteral("extra")},
          QStringList{QStringLiteral("--log")}, QStringList{QStringLiteral("--review")},
          QStringList{QStringLiteral("--review"), QStringLiteral("night.jsonl"),
                      QStringLiteral("--monitor")}}) {
        Launch wrong(bad);
        EXPECT_FALSE(wrong.started.program) << bad.join(' ').toStdString();
        EXPECT_EQ(wrong.started.status, app::kExitUsage);
        EXPECT_NE(wrong.errText, "");
    }
}

TEST(PanelOptions, WithASerialOnlyTheBridgeWithThatSerialIsOpened)
{
    Launch other({QStringLiteral("--serial"), QStringLiteral("EVB-0002")});
    ASSERT_TRUE(other.started.program);
    EXPECT_FALSE(other.program().form().link().connected()) << "the board's bridge is EVB-0001";
    Launch same({QStringLiteral("--serial"), QStringLiteral("EVB-0001")});
    ASSERT_TRUE(same.started.program);
    EXPECT_TRUE(same.program().form().link().connected());
}

TEST(PanelOptions, ALogThatCannotBeWrittenStopsTheProgramBeforeAnythingIsSent)
{
    Launch run(
        {QStringLiteral("--monitor"), QStringLiteral("--log"), QStringLiteral("/nonexistent/traffic.jsonl")});
    EXPECT_FALSE(run.started.program);
    EXPECT_EQ(run.started.status, app::kExitUsage);
    EXPECT_TRUE(run.errText.startsWith("Cannot write the log /nonexistent/traffic.jsonl: "))
        << run.errText.toStdString();
    EXPECT_TRUE(run.board.written().empty());
    EXPECT_EQ(run.board.openHandles(), 0) << "the bridge was not even opened";
    for (const QWidget* window : QApplication::topLevelWidgets())
        EXPECT_FALSE(window->isVisible()) << window->objectName().toStdString();
}

// A log is a file: a pipe would hold the panel once nobody reads it and its
// buffer is full, so it is refused at start.
TEST(PanelOptions, ALogOnAPipeIsRefusedAtStart)
{
    QTemporaryDir dir;
    const QString fifo = dir.filePath("traffic.jsonl");
    if (QProcess::execute(QStringLiteral("mkfifo"), {fifo}) != 0)
        GTEST_SKIP() << "no mkfifo here";
    Launch run({QStringLiteral("--log"), fifo});
    EXPECT_FALSE(run.started.program);
    EXPECT_EQ(run.started.status, app::kExitUsage);
    EXPECT_EQ(run.errText, QStringLiteral("Cannot write the log %1: a pipe, not a file\n").arg(fifo));
    EXPECT_EQ(run.board.openHandles(), 0) << "the bridge was not even opened";
}

TEST(BusMonitor, ShowsTheTrafficTheCountsAndTheRegistersAsThePanelSetThem)
{
    Launch run({QStringLiteral("--monitor")});
    ASSERT_TRUE(run.started.program);
    monitor::MonitorWindow& window = *run.program().monitor();
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(window.windowTitle(), "KRL7741 bus monitor");
    EXPECT_TRUE(window.isWindow()) << "a window of its own";
    EXPECT_EQ(run.monitorText("HostPwm1"), "PWM LED1: unknown");
    EXPECT_EQ(run.monitorText("HostPeak"), "Peak current: unknown");

    // A key press on a track bar notifies twice (the move and its end): two exchanges.
    run.press("LED1slider", Qt::Key_Right);
    EXPECT_EQ(run.trace(),
              "00 70 41 41 -> 00 01 41 41  acknowledged\n00 70 41 41 -> 00 01 41 41  acknowledged");
    EXPECT_EQ(run.monitorText("HostPwm1"), "PWM LED1: 1 (0x01)");
    EXPECT_EQ(run.monitorText("AckCount"), "Acknowledged: 2");

    run.board.setChipAddress(virtualboard::kAddressC);
    run.press("LED1slider", Qt::Key_Right);
    EXPECT_EQ(run.lastTrace(), "00 70 42 42 -> 00 F0 42 42  not acknowledged");
    EXPECT_EQ(run.monitorText("HostPwm1"), "PWM LED1: 1 (0x01)") << "a NACK sets nothing";
    EXPECT_EQ(run.monitorText("NackCount"), "NACK: 2");

    QTest::mouseClick(&control<QPushButton>(window, "Clear"), Qt::LeftButton);
    EXPECT_EQ(run.trace(), "");
    EXPECT_EQ(run.monitorText("AckCount"), "Acknowledged: 0");
    EXPECT_EQ(run.monitorText("NackCount"), "NACK: 0");
    EXPECT_EQ(run.monitorText("HostPwm1"), "PWM LED1: 1 (0x01)") << "the chip was told all the same";
    EXPECT_TRUE(run.program().traffic()->exchanges().empty());
}

// A report that comes while a command waits and does not echo it is shown as
// the stray it is, after the exchange it came during, and counted apart.
TEST(BusMonitor, AReportThatAnswersNoCommandIsShownAsAStray)
{
    Launch run({QStringLiteral("--monitor")});
    ASSERT_TRUE(run.started.program);
    run.board.sendDuringNextWait(VirtualBridge::evaluationBoard().path, {0x00, 0x01, 0xFF, 0xFF});
    run.press("LED1slider", Qt::Key_Right);
    EXPECT_EQ(run.trace(),
              "00 70 41 41 -> 00 01 41 41  acknowledged\n"
              "(nothing) -> 00 01 FF FF  stray report\n"
              "00 70 41 41 -> 00 01 41 41  acknowledged");
    EXPECT_EQ(testing_support::countsShown(*run.program().monitor()),
              "Shown: 3 of 3, Acknowledged: 2, NACK: 0, No answer: 0, Bridge lost: 0, Stray: 1");
}

// The counts under the trace are those of the exchanges its filter shows.
TEST(BusMonitor, TheCountsFollowTheFilter)
{
    Launch run({QStringLiteral("--monitor")});
    ASSERT_TRUE(run.started.program);
    run.press("LED1slider", Qt::Key_Right);  // two acknowledged
    run.board.setChipAddress(virtualboard::kAddressC);
    run.press("LED2slider", Qt::Key_Right);  // two not acknowledged
    monitor::MonitorWindow& window = *run.program().monitor();
    const std::pair<int, const char*> shown[] = {
        {0, "Shown: 4 of 4, Acknowledged: 2, NACK: 2, No answer: 0, Bridge lost: 0, Stray: 0"},
        {1, "Shown: 2 of 4, Acknowledged: 0, NACK: 2, No answer: 0, Bridge lost: 0, Stray: 0"},
        {2, "Shown: 0 of 4, Acknowledged: 0, NACK: 0, No answer: 0, Bridge lost: 0, Stray: 0"},  // ILED PEAK
        {3, "Shown: 2 of 4, Acknowledged: 2, NACK: 0, No answer: 0, Bridge lost: 0, Stray: 0"},  // PWM LED1
        {4, "Shown: 2 of 4, Acknowledged: 0, NACK: 2, No answer: 0, Bridge lost: 0, Stray: 0"},  // PWM LED2
    };
    for (const auto& [index, counts] : shown) {
        testing_support::chooseFilter(window, index);
        EXPECT_EQ(testing_support::countsShown(window), QString(counts)) << "filter " << index;
    }
    // New exchanges are counted under the filter chosen.
    run.press("LED2slider", Qt::Key_Right);
    EXPECT_EQ(testing_support::countsShown(window),
              "Shown: 4 of 6, Acknowledged: 0, NACK: 4, No answer: 0, Bridge lost: 0, Stray: 0");
}

// A click on an exchange in the live chart shows its line in the trace,
// marked, and the trace stops following; a click where there is none changes
// nothing.
TEST(BusMonitor, ClickingAnExchangeInTheChartShowsItsLineInTheTrace)
{
    Launch run({QStringLiteral("--monitor")});
    ASSERT_TRUE(run.started.program);
    record::TimePoint now = record::TimePoint{} + std::chrono::hours(1);
    run.program().traffic()->setClock([&now] { return now; });
    run.press("LED1slider", Qt::Key_Right);
    now += std::chrono::seconds(2);
    run.press("LED2slider", Qt::Key_Right);
    now += std::chrono::seconds(1);
    monitor::MonitorWindow& window = *run.program().monitor();
    auto& chart = control<monitor::StripChart>(window, "Chart");
    auto& trace = control<monitor::TraceView>(window, "Trace");
    const QRect plot = chart.plotArea();
    const double msPerPixel = 10000.0 / plot.width();
    const auto clickAt = [&](double msBefore) {
        const int x = plot.right() - static_cast<int>(std::ceil(msBefore / msPerPixel));
        QTest::mouseClick(&chart, Qt::LeftButton, {}, QPoint(x, plot.center().y()));
        QCoreApplication::processEvents();
        if (!trace.selected())
            return QString();
        const QString line = trace.lines().at(static_cast<qsizetype>(*trace.selected()));
        EXPECT_TRUE(trace.linesInView().contains(line));
        return testing_support::exchangeColumn(line);
    };
    EXPECT_EQ(clickAt(3000), "00 70 41 41 -> 00 01 41 41  acknowledged");
    EXPECT_FALSE(trace.following());
    EXPECT_EQ(clickAt(1000), "00 70 61 61 -> 00 01 61 61  acknowledged");
    EXPECT_EQ(clickAt(6000), "00 70 61 61 -> 00 01 61 61  acknowledged") << "nothing there";
}

TEST(BusMonitor, SaveWritesTheRecordAsJsonLines)
{
    QTemporaryDir dir;
    Launch run({QStringLiteral("--monitor")});
    ASSERT_TRUE(run.started.program);
    for (const char* bar : {"LED1slider", "LED2slider", "ILEDslider"})
        run.press(bar, Qt::Key_Right);

    QTest::mouseClick(&control<QPushButton>(*run.program().monitor(), "Save"), Qt::LeftButton);
    auto* dialog = run.program().monitor()->findChild<QFileDialog*>("SaveDialog");
    ASSERT_NE(dialog, nullptr);
    const QString path = dir.filePath(QStringLiteral("record.jsonl"));
    dialog->selectFile(path);
    static_cast<QDialog*>(dialog)->accept();  // Save, as the dialog's button does
    const std::vector<QJsonObject> saved = jsonLines(path);
    EXPECT_EQ(saved, jsonLines(*run.program().traffic()));
    ASSERT_EQ(saved.size(), 6u);
    EXPECT_EQ(saved[2].value("sent").toVariant(), QVariantList({0x70, 0x61, 0x61}));
    EXPECT_EQ(run.monitorText("SaveStatus"), "Saved 6 exchanges.");
}

// A record saved, then opened again with Open...: the review shows the very
// lines the live trace showed.
TEST(BusMonitor, OpenReviewsASavedRecordAsTheTraceShowedIt)
{
    QTemporaryDir dir;
    Launch run({QStringLiteral("--monitor")});
    ASSERT_TRUE(run.started.program);
    run.press("LED1slider", Qt::Key_Right);
    run.board.setReplyShape(virtualboard::ReplyShape::Silent);
    run.press("GD_START", Qt::Key_Right);
    monitor::MonitorWindow& window = *run.program().monitor();
    const QString path = dir.filePath(QStringLiteral("record.jsonl"));
    window.saveTo(path);

    QTest::mouseClick(&control<QPushButton>(window, "OpenReview"), Qt::LeftButton);
    auto* dialog = window.findChild<QFileDialog*>("ReviewDialog");
    ASSERT_NE(dialog, nullptr);
    dialog->selectFile(path);
    static_cast<QDialog*>(dialog)->accept();
    auto* review = window.findChild<monitor::ReviewWindow*>();
    ASSERT_NE(review, nullptr);
    EXPECT_TRUE(testing_support::runEventLoopUntil([review] { return !review->loading()->reading(); },
                                                   std::chrono::seconds(10)));
    QCoreApplication::processEvents();
    const QStringList live = control<monitor::TraceView>(window, "Trace").lines();
    ASSERT_EQ(live.size(), 4);
    EXPECT_EQ(control<monitor::TraceView>(*review, "Trace").lines(), live);
    EXPECT_EQ(testing_support::meaningColumn(live[2]), "GRADUAL DIMMING = $E1 (8ms)");
    EXPECT_TRUE(review->isVisible());
}

TEST(PanelLog, EveryExchangeIsALineAndAFullDiskStopsOnlyTheLog)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("traffic.jsonl"));
    {
        Launch run({QStringLiteral("--log"), path});
        ASSERT_TRUE(run.started.program);
        EXPECT_EQ(run.program().monitor(), nullptr);
        run.press("LED1slider", Qt::Key_Right);
        run.board.setReplyShape(virtualboard::ReplyShape::Silent);
        run.press("LED2slider", Qt::Key_Right);
        EXPECT_EQ(jsonLines(path), jsonLines(*run.program().traffic()));
        EXPECT_EQ(jsonLines(path).size(), 4u);
    }

    if (!QFile::exists(QStringLiteral("/dev/full")))
        GTEST_SKIP() << "no /dev/full here";
    for (const bool withMonitor : {true, false}) {
        SCOPED_TRACE(withMonitor ? "with the monitor" : "without");
        QStringList arguments{QStringLiteral("--log"), QStringLiteral("/dev/full")};
        if (withMonitor)
            arguments << QStringLiteral("--monitor");
        Launch run(arguments);
        ASSERT_TRUE(run.started.program);
        run.press("LED1slider", Qt::Key_Right);
        run.press("LED1slider", Qt::Key_Right);
        const QString stopped = QStringLiteral("The log /dev/full stopped: ");
        if (withMonitor) {
            EXPECT_TRUE(run.monitorText("LogStatus").startsWith(stopped))
                << run.monitorText("LogStatus").toStdString();
            EXPECT_EQ(run.errText, "");
        } else {
            // Said over the panel, where a Windows user (no console) sees it too.
            const QList<QMessageBox*> boxes = run.program().form().findChildren<QMessageBox*>("LogStopped");
            ASSERT_EQ(boxes.size(), 1) << "said once";
            EXPECT_TRUE(boxes.front()->isVisible());
            EXPECT_TRUE(boxes.front()->text().startsWith(stopped)) << boxes.front()->text().toStdString();
            EXPECT_FALSE(boxes.front()->isModal()) << "the panel goes on";
            boxes.front()->close();
        }
        // The panel goes on as before.
        EXPECT_EQ(run.board.written().size(), 4u);
        EXPECT_EQ(run.board.registers().pwm[0], 2);
        EXPECT_EQ(control<QTextEdit>(run.program().form(), "PORTW").toPlainText(), "");
    }
}
