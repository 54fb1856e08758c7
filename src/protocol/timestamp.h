#pragma once

#include <chrono>
#include <string>

namespace vm {

// A time of day as the time stamp shows it.
struct TimeOfDay {
    int hour = 0;        // 0-23
    int minute = 0;      // 0-59
    int second = 0;      // 0-59
    int millisecond = 0; // 0-999
};

// The UTC time of day of a reading of the system clock (whose epoch is UTC midnight).
TimeOfDay utcTimeOfDay(std::chrono::system_clock::time_point time);

// "[HH:MM:SS.mmm]" for a UTC time of day: 14 characters, zero-padded fields.
std::string formatTimeStamp(const TimeOfDay& utc);

} // namespace vm
