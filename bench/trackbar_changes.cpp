// What one track-bar change costs on the virtual bridge: the handler, its
// transaction and everything the window does about it. Sweeps "PWM LED2"
// across its range N times and prints changes per second; once with the
// panel alone, once with the demo's board window tracing every exchange.
// Under callgrind only the sweeps are counted, so instructions per change is
// the collected total over the changes printed:
//   valgrind --tool=callgrind --collect-atstart=no build/bench/trackbar_changes 20000
//   trackbar_changes [changes] [panel|demo]

#include "Application.h"
#include "BoardWindow.h"
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
// every `batch` changes, as a drag's mouse moves leave room for it.
double sweep(toolkit::TrackBar& bar, int changes, int batch)
{
    int value = bar.value();
    int direction = 1;
    QElapsedTimer clock;
    clock.start();
    CALLGRIND_TOGGLE_COLLECT;
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
    CALLGRIND_TOGGLE_COLLECT;
    return changes / (static_cast<double>(clock.nsecsElapsed()) / 1e9);
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    app::Application application(argc, argv);
    const int changes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200000;
    const bool demo = argc > 2 && std::strcmp(argv[2], "demo") == 0;
    const int batch = demo ? 10 : 0;

    virtualboard::VirtualBridge board;
    board.setRealTime(false);
    board.plug(virtualboard::VirtualBridge::evaluationBoard());
    app::TForm1 form(board);
    std::unique_ptr<virtualboard::BoardWindow> window;
    if (demo) {
        window = std::make_unique<virtualboard::BoardWindow>(board);
        window->show();
        (void)QTest::qWaitForWindowExposed(window.get());
    }
    form.show();
    (void)QTest::qWaitForWindowExposed(&form);
    auto* bar = form.findChild<toolkit::TrackBar*>("LED2slider");

    sweep(*bar, 1000, batch);  // warm up: fonts, caches
    QTest::qWait(50);
    const double rate = sweep(*bar, changes, batch);
    std::printf("%s: %d changes of PWM LED2, %.0f changes per second\n",
                demo ? "panel and board window (demo)" : "panel alone", changes, rate);
    return 0;
}
