// A log opened for review, as KRL7741AT --review FILE opens it: no panel and
// no bridge; the chart over the whole file, zoomed down to single exchanges
// at their times; the trace, its filters and counts; the lines skipped, by
// number; a log still being written, followed.

#include "Counts.h"
#include "EventLoop.h"
#include "Focus.h"
#include "Panel.h"
#include "Program.h"
#include "ReviewChart.h"
#include "ReviewWindow.h"
#include "TraceLines.h"
#include "TraceView.h"

#include <QComboBox>
#include <QFileInfo>
#include <QListWidget>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <thread>

using namespace std::chrono_literals;
using testing_support::control;

namespace {

// A log line as the program writes it.
QByteArray logLine(double tMs, int command, const char* verdict)
{
    const bool replied = QByteArray(verdict).contains("acknowledged");
    const int status = QByteArray(verdict) == "not acknowledged" ? 240 : 1;
    return QStringLiteral(
               R"({"received":%1,"sent":[112,%2,%2],"t_ms":%3,"time":"2026-12-09T10:00:00.000Z","verdict":"%4"})")
               .arg(replied ? QStringLiteral("[%1,%2,%2]").arg(status).arg(command) : QStringLiteral("[]"))
               .arg(command)
               .arg(tMs)
               .arg(QLatin1String(verdict))
               .toLatin1()
        + '\n';
}

// 2000 exchanges 0.5 ms apart, PWM LED1 ramping, every 50th not
// acknowledged, and two lines that are not the log's.
QByteArray longLog()
{
    QByteArray log;
    for (int i = 0; i < 2000; ++i) {
        log += logLine(1000 + i * 0.5, 0x40 + i % 32, i % 50 == 49 ? "not acknowledged" : "acknowledged");
        if (i == 9)
            log += "{\"received\":[1,65\n";
        if (i == 99)
            log += R"({"sent":[112,65,65],"t_ms":5,"verdict":"acknowledged"})"
                   "\n";
    }
    return log;
}

struct Review {
    explicit Review(const QByteArray& contents)
    {
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(contents);
        file.close();
        QString out, errText;
        QTextStream o(&out), e(&errText);
        started = app::Program::start({"KRL7741AT", "--review", path}, bridge, o, e);
        EXPECT_TRUE(started.program) << errText.toStdString();
        started.program->show();
        window().resize(900, 760);
        (void)QTest::qWaitForWindowExposed(&window());
        waitUntilRead();
    }
    monitor::ReviewWindow& window() { return *started.program->review(); }
    template <typename T>
    T& on(const char* name)
    {
        return control<T>(window(), name);
    }
    // Writes `bytes` on at the log's end, as the program logging to it would.
    void append(const QByteArray& bytes)
    {
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::Append));
        file.write(bytes);
    }
    void waitUntilRead()
    {
        EXPECT_TRUE(
            testing_support::runEventLoopUntil([this] { return !window().loading()->reading(); }, 10s));
        QCoreApplication::processEvents();
    }

    QTemporaryDir dir;
    QString path = dir.filePath("night.jsonl");
    virtualboard::VirtualBridge bridge;
    app::Program::Started started;
};

}  // namespace

TEST(ReviewWindow, ShowsTheWholeFileAndListsTheLinesSkippedByNumber)
{
    Review review(longLog());
    EXPECT_TRUE(review.bridge.written().empty());
    EXPECT_EQ(review.bridge.openHandles(), 0) << "no bridge is opened";
    EXPECT_EQ(review.on<QLabel>("LoadStatus").text(), "2000 exchanges; 2 lines skipped.");
    auto& skipped = review.on<QListWidget>("Skipped");
    ASSERT_EQ(skipped.count(), 2);
    EXPECT_TRUE(skipped.item(0)->text().startsWith("line 11: not JSON"))
        << skipped.item(0)->text().toStdString();
    EXPECT_EQ(skipped.item(1)->text(), "line 102: no received (a list of bytes)");
    EXPECT_EQ(review.on<QLabel>("AckCount").text(), "Acknowledged: 1960");
    EXPECT_EQ(review.on<QLabel>("NackCount").text(), "NACK: 40");

    auto& trace = review.on<monitor::TraceView>("Trace");
    const QStringList lines = trace.lines();
    ASSERT_EQ(lines.size(), 2000);
    EXPECT_EQ(lines[1],
              QStringLiteral("%1  %2  %3")
                  .arg("1000.500", 12)
                  .arg("PWM LED1 = $41 (3.125%)", -29)
                  .arg("00 70 41 41 -> 00 01 41 41  acknowledged"));
    EXPECT_EQ(trace.linesInView().front(), lines.front()) << "a review starts at the top";

    // The failures only, chosen as a person would.
    auto& filter = review.on<QComboBox>("Filter");
    testing_support::focusOn(filter);
    QTest::keyClick(&filter, Qt::Key_Down);
    EXPECT_EQ(trace.shown(), 40u);
    EXPECT_EQ(review.on<QLabel>("ShownCount").text(), "Shown: 40 of 2000");
    for (const QString& line : trace.lines())
        EXPECT_TRUE(line.endsWith("  not acknowledged")) << line.toStdString();
    EXPECT_EQ(testing_support::timeColumn(trace.lines().front()), "1024.500");
}

// The counts under the trace are those of the exchanges its filter shows.
TEST(ReviewWindow, TheCountsFollowTheFilter)
{
    Review review(logLine(1, 0x41, "acknowledged") + logLine(2, 0x42, "not acknowledged")
                  + logLine(3, 0x61, "acknowledged") + logLine(4, 0x62, "no answer")
                  + logLine(5, 0xE1, "acknowledged") + logLine(6, 0x43, "acknowledged")
                  + logLine(7, 0x44, "bridge lost"));
    const std::pair<int, const char*> shown[] = {
        {0, "Shown: 7 of 7, Acknowledged: 4, NACK: 1, No answer: 1, Bridge lost: 1, Stray: 0"},
        {1, "Shown: 3 of 7, Acknowledged: 0, NACK: 1, No answer: 1, Bridge lost: 1, Stray: 0"},
        {2, "Shown: 0 of 7, Acknowledged: 0, NACK: 0, No answer: 0, Bridge lost: 0, Stray: 0"},  // ILED PEAK
        {3, "Shown: 4 of 7, Acknowledged: 2, NACK: 1, No answer: 0, Bridge lost: 1, Stray: 0"},  // PWM LED1
        {4, "Shown: 2 of 7, Acknowledged: 1, NACK: 0, No answer: 1, Bridge lost: 0, Stray: 0"},  // PWM LED2
        {8, "Shown: 1 of 7, Acknowledged: 1, NACK: 0, No answer: 0, Bridge lost: 0, Stray: 0"},  // GRADUAL
                                                                                                 // DIMMING
    };
    for (const auto& [index, counts] : shown) {
        testing_support::chooseFilter(review.window(), index);
        EXPECT_EQ(testing_support::countsShown(review.window()), QString(counts)) << "filter " << index;
    }
}

TEST(ReviewWindow, ZoomingInShowsSingleExchangesAtTheirTimes)
{
    Review review(longLog());
    auto& chart = review.on<monitor::ReviewChart>("Chart");
    const record::Capture& capture = review.window().loading()->capture();
    EXPECT_EQ(chart.fromMs(), 1000.0);
    EXPECT_GE(chart.toMs(), 1999.5);
    // The whole file: every exchange in some column, fewer columns than exchanges.
    auto whole = chart.columns();
    std::size_t all = 0;
    for (const auto& column : whole)
        all += column.count;
    EXPECT_EQ(all, 2000u);
    EXPECT_LT(whole.size(), 2000u) << "a column sums up the exchanges in it";

    testing_support::focusOn(chart);
    for (int i = 0; i < 4; ++i)
        QTest::keyClick(&chart, Qt::Key_Plus);
    const double span = chart.toMs() - chart.fromMs();
    EXPECT_LT(span, 100.0);
    const double perPixel = span / chart.plotArea().width();
    const auto columns = chart.columns();
    ASSERT_GT(columns.size(), 10u);
    for (const auto& column : columns) {
        EXPECT_EQ(column.count, 1u) << "at x " << column.x;
        const double at = capture.tMs(column.first);
        EXPECT_GE(at, chart.fromMs() + column.x * perPixel);
        EXPECT_LT(at, chart.fromMs() + (column.x + 1) * perPixel);
    }
    // Scrolling keeps the span; Home shows the whole file again.
    const double from = chart.fromMs();
    QTest::keyClick(&chart, Qt::Key_Right);
    EXPECT_DOUBLE_EQ(chart.toMs() - chart.fromMs(), span);
    EXPECT_GT(chart.fromMs(), from);
    QTest::keyClick(&chart, Qt::Key_Home);
    EXPECT_EQ(chart.fromMs(), 1000.0);
}

// A click on an exchange in the zoomed chart shows its line in the trace,
// marked; a click where there is none changes nothing.
TEST(ReviewWindow, ClickingAnExchangeInTheChartShowsItsLineInTheTrace)
{
    Review review(longLog());
    auto& chart = review.on<monitor::ReviewChart>("Chart");
    auto& trace = review.on<monitor::TraceView>("Trace");
    testing_support::focusOn(chart);
    for (int i = 0; i < 4; ++i)
        QTest::keyClick(&chart, Qt::Key_Plus);
    const auto columns = chart.columns();
    ASSERT_GT(columns.size(), 10u);
    const QRect plot = chart.plotArea();
    for (const std::size_t c : {std::size_t{2}, columns.size() / 2, columns.size() - 3}) {
        QTest::mouseClick(&chart, Qt::LeftButton, {}, QPoint(plot.left() + columns[c].x, plot.center().y()));
        ASSERT_EQ(trace.selected(), std::optional<std::uint64_t>(columns[c].first)) << "column " << c;
        EXPECT_TRUE(trace.linesInView().contains(trace.lines()[static_cast<qsizetype>(columns[c].first)]));
        EXPECT_FALSE(trace.following());
    }
    // The last exchange is at 1999.5 ms; the plot's right end a millisecond after it.
    chart.setSpan(1990, 2000.5);
    QTest::mouseClick(&chart, Qt::LeftButton, {}, QPoint(plot.right(), plot.center().y()));
    EXPECT_EQ(trace.selected(), std::optional<std::uint64_t>(columns[columns.size() - 3].first));
}

TEST(ReviewWindow, ALogStillBeingWrittenIsFollowed)
{
    Review review(logLine(1, 0x41, "acknowledged") + logLine(2, 0x42, "no answer").left(30));
    EXPECT_EQ(review.on<QLabel>("LoadStatus").text(),
              "1 exchanges; 0 lines skipped; the last line is not whole yet (Follow the file reads it once "
              "it is).");
    QTest::mouseClick(&review.on<QCheckBox>("FollowFile"), Qt::LeftButton);
    review.append(logLine(2, 0x42, "no answer").mid(30) + logLine(3, 0x43, "acknowledged"));
    auto& trace = review.on<monitor::TraceView>("Trace");
    EXPECT_TRUE(testing_support::runEventLoopUntil([&] { return trace.shown() == 3; }, 10s)) << trace.shown();
    EXPECT_EQ(review.on<QLabel>("NoAnswerCount").text(), "No answer: 1");
    EXPECT_EQ(review.on<QListWidget>("Skipped").count(), 0);
}

TEST(ReviewWindow, AFileThatCannotBeReadSaysWhy)
{
    QTemporaryDir dir;
    monitor::ReviewWindow window;
    window.open(dir.filePath("gone.jsonl"));
    EXPECT_TRUE(testing_support::runEventLoopUntil([&window] { return !window.loading()->reading(); }, 10s));
    QCoreApplication::processEvents();
    EXPECT_TRUE(control<QLabel>(window, "LoadStatus")
                    .text()
                    .startsWith("Cannot read " + dir.filePath("gone.jsonl") + ": "))
        << control<QLabel>(window, "LoadStatus").text().toStdString();
    EXPECT_FALSE(control<QPushButton>(window, "Cancel").isEnabled());
    EXPECT_EQ(control<monitor::TraceView>(window, "Trace").shown(), 0u);
}

// Cancel stops the read where it is: what was read stays, and says so.
TEST(ReviewWindow, CancelStopsReadingAndKeepsWhatWasRead)
{
    QByteArray log;
    for (int i = 0; i < 400000; ++i)
        log += logLine(i, 0x41 + i % 30, "acknowledged");
    QTemporaryDir dir;
    const QString path = dir.filePath("long.jsonl");
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(log);
    }
    monitor::ReviewWindow window;
    window.show();
    auto& cancel = control<QPushButton>(window, "Cancel");
    // Cancel pressed as the first part of the file shows, by a window that is
    // then busy for a while (a loaded machine): the reader may well get to the
    // file's end meanwhile, and what it read after the press must not show.
    bool pressed = false;
    std::size_t shown = 0;
    QObject::connect(&control<QProgressBar>(window, "Progress"), &QProgressBar::valueChanged, &window, [&] {
        if (!pressed && cancel.isEnabled() && window.loading()->reading()) {
            pressed = true;
            shown = window.loading()->capture().size();
            QTest::mouseClick(&cancel, Qt::LeftButton);
            std::this_thread::sleep_for(500ms);
        }
    });
    window.open(path);
    EXPECT_TRUE(testing_support::runEventLoopUntil([&window] { return !window.loading()->reading(); }, 60s));
    QCoreApplication::processEvents();
    ASSERT_TRUE(pressed) << "the first part of the file showed only with the whole of it";
    const std::size_t read = window.loading()->capture().size();
    EXPECT_EQ(read, shown);
    EXPECT_LT(read, 400000u);
    EXPECT_EQ(control<QLabel>(window, "LoadStatus").text(),
              QStringLiteral("Cancelled after %1 exchanges; 0 lines skipped.").arg(read));
    EXPECT_EQ(control<monitor::TraceView>(window, "Trace").shown(), read);
    EXPECT_FALSE(cancel.isEnabled());
}

// A line past 64 KiB is listed as skipped, whole or still being written, and
// the lines after it are read once they come.
TEST(ReviewWindow, ALineTooLongIsListedAsSkipped)
{
    const auto windowsLine = [](qsizetype size) { return QByteArray(size, 'x') + "\r\n"; };
    Review review(logLine(1, 0x41, "acknowledged") + QByteArray(70000, 'x') + '\n'
                  + windowsLine(record::kLongestLine) + windowsLine(record::kLongestLine + 1)
                  + logLine(2, 0x42, "acknowledged") + QByteArray(100000, 'y'));
    auto& skipped = review.on<QListWidget>("Skipped");
    ASSERT_EQ(skipped.count(), 3);
    EXPECT_EQ(skipped.item(0)->text(), "line 2: longer than 65536 bytes");
    EXPECT_TRUE(skipped.item(1)->text().startsWith("line 3: not JSON"))
        << skipped.item(1)->text().toStdString();
    EXPECT_EQ(skipped.item(2)->text(), "line 4: longer than 65536 bytes");
    EXPECT_EQ(review.on<QLabel>("LoadStatus").text(),
              "2 exchanges; 3 lines skipped; the last line is not whole yet (Follow the file reads it once "
              "it is).");
    QTest::mouseClick(&review.on<QCheckBox>("FollowFile"), Qt::LeftButton);
    review.append(QByteArray(1000, 'y') + '\n' + logLine(3, 0x43, "no answer"));
    EXPECT_TRUE(testing_support::runEventLoopUntil([&] { return skipped.count() == 4; }, 10s));
    EXPECT_EQ(skipped.item(3)->text(), "line 6: longer than 65536 bytes");
    EXPECT_TRUE(testing_support::runEventLoopUntil(
        [&] { return review.on<monitor::TraceView>("Trace").shown() == 3; }, 10s));
    EXPECT_EQ(review.on<QLabel>("NoAnswerCount").text(), "No answer: 1");
}

// A file far larger than what it holds (lines, then a hole to 1 TB): the
// window makes room for what it reads, not for the file's size at the
// density of its start, and Cancel stops the read within the hole.
TEST(ReviewWindow, ASparseFileTakesRoomOnlyForWhatIsRead)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("sparse.jsonl");
    constexpr int kLines = 24000;  // some 3 MB
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        for (int i = 0; i < kLines; ++i)
            file.write(logLine(i, 0x41 + i % 30, "acknowledged"));
        ASSERT_TRUE(file.resize(qint64(1) << 40));
    }
    monitor::ReviewWindow window;
    window.show();
    window.open(path);
    EXPECT_TRUE(testing_support::runEventLoopUntil(
        [&window] { return window.loading()->capture().size() == std::size_t(kLines); }, 60s));
    QTest::mouseClick(&control<QPushButton>(window, "Cancel"), Qt::LeftButton);
    EXPECT_TRUE(testing_support::runEventLoopUntil([&window] { return !window.loading()->reading(); }, 60s));
    QCoreApplication::processEvents();
    EXPECT_EQ(control<QLabel>(window, "LoadStatus").text(),
              QStringLiteral("Cancelled after %1 exchanges; 0 lines skipped.").arg(kLines));
}

// A file of little but lines that are not the log's: the first few hundred
// are listed with their reasons, the rest counted.
TEST(ReviewWindow, ManyLinesSkippedAreCountedPastTheFirstListed)
{
    QByteArray log = QByteArray("not a log line\n").repeated(100000);
    log += logLine(1, 0x41, "acknowledged");
    Review review(log);
    auto& skipped = review.on<QListWidget>("Skipped");
    const int listed = static_cast<int>(record::Loading::kSkippedListed);
    ASSERT_EQ(skipped.count(), listed + 1);
    EXPECT_TRUE(skipped.item(listed - 1)->text().startsWith(QStringLiteral("line %1: not JSON").arg(listed)));
    EXPECT_EQ(skipped.item(listed)->text(), QStringLiteral("and %1 more").arg(100000 - listed));
    EXPECT_EQ(review.on<QLabel>("LoadStatus").text(), "1 exchanges; 100000 lines skipped.");
}

// A log is a regular file: a pipe or a device is refused at once, with the
// reason, and nothing waits on it (a pipe with no writer would wait forever).
TEST(ReviewWindow, WhatIsNotARegularFileIsRefusedAtOnce)
{
    QTemporaryDir dir;
    const QString fifo = dir.filePath("pipe.jsonl");
    if (QProcess::execute(QStringLiteral("mkfifo"), {fifo}) != 0 || !QFileInfo::exists("/dev/zero"))
        GTEST_SKIP() << "no mkfifo or /dev/zero here";
    for (const QString& path : {fifo, QStringLiteral("/dev/zero")}) {
        monitor::ReviewWindow window;
        window.open(path);
        const bool refused
            = testing_support::runEventLoopUntil([&window] { return !window.loading()->reading(); }, 10s);
        QCoreApplication::processEvents();
        EXPECT_TRUE(refused) << path.toStdString();
        EXPECT_EQ(control<QLabel>(window, "LoadStatus").text(),
                  QStringLiteral("Cannot read %1: not a regular file").arg(path));
        EXPECT_FALSE(control<QPushButton>(window, "Cancel").isEnabled());
        if (!refused && path == fifo) {
            QFile writer(path);  // lets a reader stuck on the pipe go
            (void)writer.open(QIODevice::WriteOnly);
        }
    }
}
