// The time stamp of SEND, RECV and connection lines.
#include "protocol/timestamp.h"

#include <doctest/doctest.h>

using namespace vm;

TEST_CASE("time stamps are 14 characters with zero-padded fields") {
    const std::pair<TimeOfDay, const char*> rows[] = {
        {{0, 0, 0, 0}, "[00:00:00.000]"},     {{23, 59, 59, 999}, "[23:59:59.999]"},
        {{9, 5, 3, 42}, "[09:05:03.042]"},    {{0, 0, 7, 7}, "[00:00:07.007]"},
        {{12, 34, 56, 78}, "[12:34:56.078]"},
    };
    for (const auto& [utc, stamp] : rows) {
        CAPTURE(stamp);
        CHECK(formatTimeStamp(utc) == stamp);
    }
}

TEST_CASE("the UTC time of day of a clock reading") {
    using namespace std::chrono;
    const auto stampOf = [](system_clock::time_point time) {
        return formatTimeStamp(utcTimeOfDay(time));
    };
    const sys_days day = 2024y / March / 1;
    CHECK(stampOf(day) == "[00:00:00.000]");
    CHECK(stampOf(day + 18h + 4min + 5s + 6ms) == "[18:04:05.006]");
    CHECK(stampOf(day - 1ms) == "[23:59:59.999]"); // across midnight, no date shown
    CHECK(stampOf(sys_days(1969y / December / 31) + 23h + 59min + 59s + 999ms) ==
          "[23:59:59.999]"); // before the epoch
}
