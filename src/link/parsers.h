#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

namespace vm {

inline constexpr int kMaxPort = 32767;

enum class PortProblem { None, Empty, NotANumber, OutOfRange };

struct PortText {
    int port = 0;
    PortProblem problem = PortProblem::None;
    bool ok() const { return problem == PortProblem::None; }
};

// The port text as a decimal number (surrounding blanks ignored, optional sign, optional
// fraction with '.'), rounded to the nearest integer with halves to the even neighbour:
// "40.5" gives 40, "41.5" gives 42. Refused when empty, not a number, or outside 0..32767
// after rounding.
PortText parsePort(const QString& text);

// What is wrong with a port text, for the log line; empty for PortProblem::None.
QString portProblemText(PortProblem problem);

// What is wrong with a host text before any connect is tried: empty, or holding blanks or
// control characters. Names are resolved later by the socket.
std::optional<QString> hostProblem(const QString& text);

// The repeat interval in milliseconds: the longest leading decimal number of the text
// (leading blanks skipped, optional sign, '.' as separator whatever the locale) times 1000,
// rounded to the nearest integer with halves to the even neighbour. "1.5" gives 1500,
// "1.2.3" 1200, "" and "abc" 0. Computed exactly on the digits; huge values saturate far
// above INT_MAX, so the caller can refuse them.
qint64 parseIntervalMs(const QString& text);

} // namespace vm
