// What opening a long log for review costs: generates a log of N lines (a
// million by default, about 120 MB: a night at 100 exchanges a second, with a
// failure now and then) and opens it in the review window, as
// KRL7741AT --review does, on the offscreen platform. Prints the time to the
// first paint with exchanges in it, the time until the whole file is read, the
// resident memory then (and its peak), and what a redraw of the chart costs
// after a zoom (whole file, then each step in).
//   review_load [lines] [file]   (the file is kept when named)

#include "LongLog.h"
#include "ReviewChart.h"
#include "ReviewWindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

// VmRSS and VmHWM from /proc/self/status, in MB.
std::pair<double, double> residentMb()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    double rss = 0, peak = 0;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            rss = std::atof(line.c_str() + 6) / 1024;
        if (line.rfind("VmHWM:", 0) == 0)
            peak = std::atof(line.c_str() + 6) / 1024;
    }
    return {rss, peak};
}

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const long lines = argc > 1 ? std::atol(argv[1]) : 1000000;
    QTemporaryDir dir;
    const QString path
        = argc > 2 ? QString::fromLocal8Bit(argv[2]) : dir.filePath(QStringLiteral("night.jsonl"));
    if (!QFile::exists(path) || argc <= 2) {
        QElapsedTimer made;
        made.start();
        if (!tools::writeLongLog(path, lines))
            return 1;
        std::printf("generated %ld lines, %.1f MB, in %.2f s\n", lines, QFile(path).size() / 1e6,
                    made.elapsed() / 1000.0);
    }

    QElapsedTimer clock;
    clock.start();
    monitor::ReviewWindow window;
    window.resize(1000, 800);
    window.show();
    window.open(path);
    auto* chart = window.findChild<monitor::ReviewChart*>(QStringLiteral("Chart"));
    // The first paint with exchanges in it.
    QEventLoop firstPaint;
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, &firstPaint, [&] {
        chart = window.findChild<monitor::ReviewChart*>(QStringLiteral("Chart"));
        if (chart && !window.loading()->capture().empty()) {
            chart->repaint();
            firstPaint.quit();
        }
    });
    look.start(1);
    firstPaint.exec();
    const double firstMs = clock.nsecsElapsed() / 1e6;
    const std::size_t firstCount = window.loading()->capture().size();

    QEventLoop loaded;
    QObject::connect(&window, &monitor::ReviewWindow::loaded, &loaded, &QEventLoop::quit);
    if (window.loading()->reading())
        loaded.exec();
    const double loadedMs = clock.nsecsElapsed() / 1e6;
    const auto [rss, peak] = residentMb();
    std::printf("first paint: %.0f ms (%zu exchanges in view)\n", firstMs, firstCount);
    std::printf("loaded: %.0f ms (%zu exchanges, %lld lines skipped)\n", loadedMs,
                window.loading()->capture().size(), window.loading()->skippedCount());
    std::printf("RSS: %.0f MB (peak %.0f MB)\n", rss, peak);

    chart->showAll();
    for (int step = 0; step <= 12; ++step) {
        QElapsedTimer redraw;
        redraw.start();
        chart->repaint();
        std::printf("redraw, span %.0f ms: %.1f ms\n", chart->toMs() - chart->fromMs(),
                    redraw.nsecsElapsed() / 1e6);
        chart->zoom(0.25, (chart->fromMs() + chart->toMs()) / 2);
    }
    return 0;
}
