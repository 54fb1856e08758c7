#include "log/timestamp.h"

#include "protocol/timestamp.h"

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

} // namespace vm

namespace basPing {

QString GetTimeStamp() {
    const QTime utc = vm::currentDateTime().toUTC().time();
    return QString::fromStdString(
        vm::formatTimeStamp({utc.hour(), utc.minute(), utc.second(), utc.msec()}));
}

} // namespace basPing
