#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vm {

inline constexpr int kMaxPort = 32767;

enum class PortProblem { None, Empty, NotANumber, OutOfRange };

struct PortText {
    int port = 0;
    PortProblem problem = PortProblem::None;
    bool ok() const { return problem == PortProblem::None; }
};

// The UTF-8 port text as a decimal number (surrounding white space ignored, optional sign,
// optional fraction with '.'), rounded to the nearest integer with halves to the even
// neighbour: "40.5" gives 40, "41.5" gives 42. Refused when empty, not a number, or outside
// 0..32767 after rounding.
PortText parsePort(std::string_view text);

// What is wrong with a port text, for the log line; empty for PortProblem::None.
std::string portProblemText(PortProblem problem);

// What is wrong with a UTF-8 host text before any connect is tried: empty, or holding white
// space or control characters. Names are resolved later by the socket.
std::optional<std::string> hostProblem(std::string_view text);

// Where parseIntervalMs stops growing: far above INT_MAX, so the caller can refuse it.
inline constexpr std::int64_t kIntervalSaturation = 1'000'000'000'000'000'000LL;

// The repeat interval in milliseconds: the longest leading decimal number of the text
// (leading blanks skipped, optional sign, '.' as separator whatever the locale) times 1000,
// rounded to the nearest integer with halves to the even neighbour. "1.5" gives 1500,
// "1.2.3" 1200, "" and "abc" 0. Computed exactly on the digits; huge values saturate at
// plus or minus kIntervalSaturation.
std::int64_t parseIntervalMs(std::string_view text);

} // namespace vm
