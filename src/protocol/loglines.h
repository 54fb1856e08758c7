#pragma once

// The texts of the log list's lines, and the limits of the list and of one arrival, shared by
// the window and vm3870ctl (whose decode command recognises the lines by these prefixes).
// A stamped line is the time stamp (timestamp.h) followed by one of the texts that begin with
// a blank.

#include <array>
#include <cstddef>
#include <string_view>

namespace vm::loglines {

inline constexpr char kSend[] = " SEND : ";
inline constexpr char kRecv[] = " RECV : ";
inline constexpr char kSocketConnected[] = " Socket Connected!!";
inline constexpr char kSocketClosed[] = " Socket Closed!!";
inline constexpr char kConnectError[] = " Connect Error!! ";
inline constexpr char kConnectFailed[] = " Connect Failed!! ";
inline constexpr char kSendFailed[] = " Send Failed!! : ";
inline constexpr char kSendError[] = " Send Error!! No command or parameter chosen";
inline constexpr char kRepeatError[] =
    " Repeat Error!! Interval out of range (0.001 to 2147483.647 Second) : ";
inline constexpr char kLogFileError[] = " Log File Error!! ";
inline constexpr char kWrongLength[] = "Different responce data length : ";
inline constexpr char kPingTestEnd[] = "Ping Test End~!!";

// What tells every other line of the list from a RECV line: each holds one of these (the
// ping test's lines begin "Reply From ", "No answer from ", "Ping" or "ping:").
inline constexpr std::array<std::string_view, 11> kOtherLineMarks{kSend,
                                                                  "Different responce data length",
                                                                  "Socket ",
                                                                  "Connect ",
                                                                  "Send ",
                                                                  "Repeat ",
                                                                  "Log File Error!!",
                                                                  "Ping",
                                                                  "ping:",
                                                                  "Reply From ",
                                                                  "No answer from "};

// Lines kept in the log list before the oldest are dropped: an addition first trims the list
// down to this many, then appends, so the list never holds more than kLogListLimit + 1.
inline constexpr std::size_t kLogListLimit = 1000;

// The most bytes one read from the module's connection takes. Each arrival is decoded whole
// before the next is read, and merged status frames cost a line each; a module that streams
// frames faster than they are shown would otherwise hand over megabytes at once. The rest
// waits in the system's buffer, where TCP slows the sender.
inline constexpr std::size_t kMaxArrivalBytes = 64 * 1024;

} // namespace vm::loglines
