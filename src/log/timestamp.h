#pragma once

#include <QDateTime>
#include <QString>
#include <QTime>

#include <functional>

namespace vm {

// The one clock the program reads. Tests pin it to any instant; an empty function
// restores the system clock.
using Clock = std::function<QDateTime()>;
void setClock(Clock clock);
QDateTime currentDateTime();

// "[HH:MM:SS.mmm]" for a UTC time of day: 14 characters, zero-padded fields.
QString formatTimeStamp(const QTime& utc);

} // namespace vm

namespace basPing {

// The stamp that begins SEND, RECV and connection lines: one reading of the clock, in UTC.
QString GetTimeStamp();

} // namespace basPing
