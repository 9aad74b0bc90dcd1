#pragma once
// A message-driven interval timer with the semantics the panel relies on:
// enabling a running timer, or setting the interval it already has, changes
// nothing; a new interval, or a start from stopped, begins a full new period.
// Ticks come at the interval measured from the start, without drift.

#include <QObject>
#include <QTimer>

#include <chrono>

namespace toolkit {

class Timer final : public QObject {
    Q_OBJECT
public:
    Timer(std::chrono::milliseconds interval, bool enabled, QObject* parent = nullptr) : QObject(parent)
    {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(interval);
        connect(&timer_, &QTimer::timeout, this, &Timer::ticked);
        if (enabled)
            timer_.start();
    }

    bool enabled() const { return timer_.isActive(); }
    void setEnabled(bool enabled)
    {
        if (enabled && !timer_.isActive())
            timer_.start();
        else if (!enabled)
            timer_.stop();
    }

    std::chrono::milliseconds interval() const { return timer_.intervalAsDuration(); }
    void setInterval(std::chrono::milliseconds interval)
    {
        if (interval == timer_.intervalAsDuration())
            return;
        timer_.setInterval(interval);  // restarts a running timer: a full new period
    }

signals:
    void ticked();

private:
    QTimer timer_;
};

}  // namespace toolkit
