#pragma once

#include "form/ports.h"

#include <QObject>
#include <QTimer>

#include <functional>

namespace vm {

// A window timer of the form on a QTimer: precise, so that a short period is kept to the
// millisecond rather than rounded to the coarse timers' 5 %; ticks that fall due while the
// window's thread is busy merge into one, as Qt's timers do. The port sets the timer up
// (named after the form's timer, with its starting period) and drives it.
class QtTimerPort final : public QObject, public form::TimerPort {
public:
    QtTimerPort(QTimer* timer, const QString& name, std::chrono::milliseconds interval);

    QTimer* timer() const { return timer_; }
    // The handler each tick runs (the form's SendTimer_Timer or PingTimer_Timer).
    void onTick(std::function<void()> tick) { tick_ = std::move(tick); }

    void Start(std::chrono::milliseconds interval) override;
    void Stop() override;

private:
    QTimer* timer_;
    std::function<void()> tick_;
};

} // namespace vm
