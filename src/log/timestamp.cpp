#include "log/timestamp.h"

#include <utility>

namespace vm {

namespace {
Clock& clockSlot() {
    static Clock clock;
    return clock;
}
} // namespace

void setClock(Clock clock) {
    clockSlot() = std::move(clock);
}

QDateTime currentDateTime() {
    const Clock& clock = clockSlot();
    return clock ? clock() : QDateTime::currentDateTimeUtc();
}

QString formatTimeStamp(const QTime& utc) {
    const QLatin1Char zero('0');
    return QStringLiteral("[%1:%2:%3.%4]")
        .arg(utc.hour(), 2, 10, zero)
        .arg(utc.minute(), 2, 10, zero)
        .arg(utc.second(), 2, 10, zero)
        .arg(utc.msec(), 3, 10, zero);
}

} // namespace vm

namespace basPing {

QString GetTimeStamp() {
    return vm::formatTimeStamp(vm::currentDateTime().toUTC().time());
}

} // namespace basPing
