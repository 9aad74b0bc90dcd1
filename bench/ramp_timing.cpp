// How closely a "SEQ#1" ramp keeps to its interval: plays the ramp on the
// virtual bridge at 10 ms and 50 ms and prints the measured duration from the
// click to the 31st step divided by 31 × interval (1.000 is exact).
//   ramp_timing [runs]

#include "Application.h"
#include "TForm1.h"
#include "TrackBar.h"
#include "VirtualBridge.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    app::Application application(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;

    virtualboard::VirtualBridge board;
    board.plug(virtualboard::VirtualBridge::evaluationBoard());
    app::TForm1 form(board);
    form.show();
    (void)QTest::qWaitForWindowExposed(&form);
    auto* run = form.findChild<QCheckBox*>("RUN_SEQ");
    auto* tseqa = form.findChild<toolkit::TrackBar*>("TSEQA");

    // The event loop runs undisturbed until the last step arrives.
    QElapsedTimer clock;
    qint64 lastStepAt = -1;
    QEventLoop loop;
    QTimer giveUp;
    giveUp.setSingleShot(true);
    QObject::connect(&giveUp, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(&board, &virtualboard::VirtualBridge::exchanged,
                     [&](const virtualboard::Report& output, const virtualboard::Report&) {
                         if (output.size() > 2 && output[2] == 0x5F) {
                             lastStepAt = clock.nsecsElapsed();
                             loop.quit();
                         }
                     });

    for (const int interval : {10, 50}) {
        tseqa->setValue(interval);
        std::vector<double> ratios;
        for (int i = 0; i < runs; ++i) {
            lastStepAt = -1;
            clock.start();
            QTest::mouseClick(run, Qt::LeftButton);  // tick: the ramp starts
            giveUp.start(60000);
            loop.exec();
            if (lastStepAt < 0) {
                std::fprintf(stderr, "the ramp did not finish\n");
                return 1;
            }
            ratios.push_back(static_cast<double>(lastStepAt) / (31.0 * interval * 1e6));
            QTest::mouseClick(run, Qt::LeftButton);  // untick
            QTest::qWait(2 * interval);
        }
        std::sort(ratios.begin(), ratios.end());
        std::printf(
            "SEQ#1 at %3d ms: duration / (31 x interval) median %.3f  min %.3f  max %.3f  (%d runs)\n",
            interval, ratios[ratios.size() / 2], ratios.front(), ratios.back(), runs);
    }
    return 0;
}
