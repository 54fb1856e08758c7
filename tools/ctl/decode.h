#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vm::ctl {

// Hexadecimal text as bytes, blanks and tabs between digits allowed; nothing when the text
// holds anything else or an odd number of digits.
std::optional<std::vector<std::uint8_t>> parseHex(std::string_view text);

// One line of decode's input: a RECV line of the log list or a daily log file (its stamp
// kept as the record's time of day), or a line of hexadecimal. Lines the log writes for
// other things (SEND, wrong length, socket, ping lines) and blank lines hold no frame.
struct InputLine {
    enum class Kind { Frame, NoFrame, Unreadable };
    Kind kind = Kind::NoFrame;
    std::vector<std::uint8_t> bytes;
    std::string time; // "09:15:02.047Z" from a RECV line's stamp, else empty
};
InputLine readInputLine(std::string_view line);

} // namespace vm::ctl
