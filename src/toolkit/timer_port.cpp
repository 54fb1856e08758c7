#include "toolkit/timer_port.h"

#include <algorithm>
#include <climits>

namespace vm {

QtTimerPort::QtTimerPort(QTimer* timer, const QString& name, std::chrono::milliseconds interval)
    : QObject(timer)
    , timer_(timer) {
    timer_->setObjectName(name);
    timer_->setTimerType(Qt::PreciseTimer);
    timer_->setInterval(int(interval.count()));
    connect(timer_, &QTimer::timeout, this, [this] {
        if (tick_)
            tick_();
    });
}

void QtTimerPort::Start(std::chrono::milliseconds interval) {
    timer_->start(int(std::min<long long>(interval.count(), INT_MAX)));
}

void QtTimerPort::Stop() {
    timer_->stop();
}

} // namespace vm
