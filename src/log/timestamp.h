#pragma once

#include <QDateTime>
#include <QString>

#include <functional>

namespace vm {

// The one clock the program reads. Tests pin it to any instant; an empty function
// restores the system clock.
using Clock = std::function<QDateTime()>;
void setClock(Clock clock);
QDateTime currentDateTime();

} // namespace vm

namespace basPing {

// The stamp that begins SEND, RECV and connection lines: one reading of the clock, in UTC.
QString GetTimeStamp();

} // namespace basPing
