// What one track-bar change costs on the virtual bridge: the handler, its
// transaction and everything the window does about it. Sweeps "PWM LED2"
// across its range N times and prints changes per second; once with the
// panel alone, once with the demo's board window tracing every exchange and
// charting the levels (demo), or tracing only, its chart hidden
// (demo-nochart), or with the bus monitor beside the panel, as
// KRL7741AT --monitor opens it (monitor). With a chart it also prints what one
// frame of the chart costs with the sweep's exchanges in view.
// Under callgrind only the measured sweep is counted, not the warm-up, so
// instructions per change is the collected total over the changes printed:
//   valgrind --tool=callgrind --collect-atstart=no build/bench/trackbar_changes 1000 demo
//   trackbar_changes [changes] [panel|demo|demo-nochart|monitor]

#include "Application.h"
#include "Beside.h"
#include "BoardWindow.h"
#include "Program.h"
#include "TForm1.h"
#include "TrackBar.h"
#include "VirtualBridge.h"

#include <QElapsedTimer>
#include <QTest>

#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>  // Debian's valgrind package
#else
#define CALLGRIND_TOGGLE_COLLECT
#endif

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

// Moves the bar one position at a time back and forth across its range, as a
// program-set position notifies on every real move. With `batch` above 0,
// work queued for the event loop (the board window's trace) is done after
// every `batch` changes, as a drag's mouse moves leave room for it. Only a
// `measured` sweep is collected under callgrind.
double sweep(toolkit::TrackBar& bar, int changes, int batch, bool measured)
{
    int value = bar.value();
    int direction = 1;
    QElapsedTimer clock;
    clock.start();
    if (measured) {
        CALLGRIND_TOGGLE_COLLECT;
    }
    for (int i = 0; i < changes; ++i) {
        if (value + direction < bar.minimum() || value + direction > bar.maximum())
            direction = -direction;
        value += direction;
        bar.setValue(value);
        if (batch > 0 && (i + 1) % batch == 0)
            QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
    }
    if (batch > 0)
        QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
    if (measured) {
        CALLGRIND_TOGGLE_COLLECT;
    }
    return changes / (static_cast<double>(clock.nsecsElapsed()) / 1e9);
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    app::Application application(argc, argv);
    const int changes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200000;
    const char* mode = argc > 2 ? argv[2] : "panel";
    const bool monitor = std::strcmp(mode, "monitor") == 0;
    const bool chart = monitor || std::strcmp(mode, "demo") == 0;
    const bool demo = std::strcmp(mode, "demo") == 0 || std::strcmp(mode, "demo-nochart") == 0;
    const int batch = demo || monitor ? 10 : 0;

    virtualboard::VirtualBridge board;
    board.setRealTime(false);
    board.plug(virtualboard::VirtualBridge::evaluationBoard());
    // The demo records the panel's traffic for its board window as the
    // program does for its monitor.
    app::Recording traffic(board);
    std::unique_ptr<virtualboard::BoardWindow> window;
    std::unique_ptr<app::TForm1> demoForm;
    std::unique_ptr<app::Program> program;
    if (demo) {
        window = std::make_unique<virtualboard::BoardWindow>(board, traffic.record);
        demoForm = std::make_unique<app::TForm1>(traffic.recorded);
        if (!chart)
            window->findChild<QWidget*>("ChartBox")->hide();
    } else {
        app::Options options;
        options.monitor = monitor;
        program = std::make_unique<app::Program>(options, board);
    }
    app::TForm1& form = demo ? *demoForm : program->form();
    QWidget* beside = demo ? static_cast<QWidget*>(window.get()) : program->monitor();
    const record::Record* record = demo ? &traffic.record : program->traffic();
    if (beside) {
        beside->show();
        (void)QTest::qWaitForWindowExposed(beside);
    }
    form.show();
    (void)QTest::qWaitForWindowExposed(&form);
    auto* bar = form.findChild<toolkit::TrackBar*>("LED2slider");

    sweep(*bar, 1000, batch, false);  // warm up: fonts, caches
    QTest::qWait(50);
    const double rate = sweep(*bar, changes, batch, true);
    std::printf("%s: %d changes of PWM LED2, %.0f changes per second\n",
                monitor     ? "panel and bus monitor (monitor)"
                    : !demo ? "panel alone"
                    : chart ? "panel and board window (demo)"
                            : "panel and board window, chart hidden (demo-nochart)",
                changes, rate);
    if (chart) {
        // The chart's frames while the sweep's exchanges are in view.
        auto* strip = beside->findChild<QWidget*>("Chart");
        constexpr int kFrames = 50;
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < kFrames; ++i)
            strip->repaint();
        std::printf("chart: %zu exchanges recorded, %.2f ms per frame (%dx%d)\n", record->exchanges().size(),
                    clock.nsecsElapsed() / 1e6 / kFrames, strip->width(), strip->height());
    }
    return 0;
}
