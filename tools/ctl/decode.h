#pragma once

#include <chrono>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vm::ctl {

// Hexadecimal text as bytes, blanks and tabs between digits allowed; nothing when the text
// holds anything else or an odd number of digits.
std::optional<std::vector<std::uint8_t>> parseHex(std::string_view text);

// One line of decode's input: a RECV line of the log list or a daily log file (its stamp
// kept as the record's time of day), or a line of hexadecimal. Lines the log writes for
// other things (SEND, wrong length, socket, ping lines) and blank lines hold no frame.
// A stamp that is no time of day ("[99:99:99.999]") makes the line unreadable.
struct InputLine {
    enum class Kind { Frame, NoFrame, Unreadable };
    Kind kind = Kind::NoFrame;
    std::vector<std::uint8_t> bytes;
    std::string time;                    // "09:15:02.047Z" from a RECV line's stamp, else empty
    std::optional<std::int64_t> msOfDay; // the same stamp in milliseconds since midnight
    std::string problem;                 // why an unreadable line is
};
InputLine readInputLine(std::string_view line);

// The local date a daily log file is named after ("Log/20261207.txt"), if its name is one.
std::optional<std::chrono::year_month_day> dailyFileDate(std::string_view path);

// The entries of a daily file, which holds one local day (`date`, this machine's time zone):
// their stamps are UTC times of day, so near midnight the UTC date is the day before or after.
class DailyFile {
public:
    explicit DailyFile(std::chrono::year_month_day date);
    std::chrono::system_clock::time_point stamp(std::int64_t msOfDay) const;

private:
    std::chrono::sys_days date_;
    std::optional<std::pair<std::time_t, std::time_t>> day_; // the local day in UTC seconds
};

} // namespace vm::ctl
