#pragma once
// Runs real timers as they run in the program: inside an event loop that
// sleeps only until the next timer is due. (QTest::qWaitFor sleeps up to
// 10 ms between its rounds, so a 10 ms timer ticks late and two timers that
// share an interval may swap places.)

#include <QEventLoop>
#include <QTimer>

#include <chrono>
#include <functional>

namespace testing_support {

// Runs the event loop until `done` holds (looked at every few milliseconds)
// or `limit` has passed; returns whether `done` held.
inline bool runEventLoopUntil(const std::function<bool()>& done, std::chrono::milliseconds limit)
{
    QEventLoop loop;
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    look.start(std::chrono::milliseconds(5));
    QTimer::singleShot(limit, &loop, &QEventLoop::quit);
    if (!done())
        loop.exec();
    return done();
}

}  // namespace testing_support
