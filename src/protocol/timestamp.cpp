#include "protocol/timestamp.h"

namespace vm {

namespace {

void appendPadded(std::string& text, int value, int width) {
    std::string digits = std::to_string(value);
    if (int(digits.size()) < width)
        text.append(std::size_t(width) - digits.size(), '0');
    text += digits;
}

} // namespace

TimeOfDay utcTimeOfDay(std::chrono::system_clock::time_point time) {
    using namespace std::chrono;
    const auto sinceEpoch = floor<milliseconds>(time).time_since_epoch();
    const auto intoDay = sinceEpoch - floor<days>(sinceEpoch);
    const hh_mm_ss<milliseconds> parts(intoDay);
    return {int(parts.hours().count()), int(parts.minutes().count()), int(parts.seconds().count()),
            int(parts.subseconds().count())};
}

std::string formatTimeStamp(const TimeOfDay& utc) {
    std::string stamp;
    stamp.reserve(14);
    stamp += '[';
    appendPadded(stamp, utc.hour, 2);
    stamp += ':';
    appendPadded(stamp, utc.minute, 2);
    stamp += ':';
    appendPadded(stamp, utc.second, 2);
    stamp += '.';
    appendPadded(stamp, utc.millisecond, 3);
    stamp += ']';
    return stamp;
}

} // namespace vm
