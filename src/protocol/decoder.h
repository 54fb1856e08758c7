#pragma once

#include "protocol/bytes.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace basPing {

// "0" + text for a one-character text, the text itself for two characters, "" otherwise.
std::string ZeroPad2(std::string_view text);

// b3·16777216 + b2·65536 + b1·256 + b0, exact in a double.
double DWordFromBytes(std::uint8_t b3, std::uint8_t b2, std::uint8_t b1, std::uint8_t b0);

} // namespace basPing

namespace vm {

// Status frames come as 33 (inputs, outputs, counters), 34 (plus a checksum byte) or 57
// bytes (plus six gap times).
bool isStatusFrameLength(std::size_t length);

// What byte 0 of every status frame holds: 'N', as in the requests.
inline constexpr std::uint8_t kStatusFrameMark = 0x4E;

// The checksum a 34-byte frame should carry: the sum of bytes 0 to 32 modulo 256. The
// window shows the byte as it came; the command line compares the two.
std::uint8_t statusCheckSum(ByteView frame);

// The fields of one status frame as numbers. Byte 0 is not interpreted.
struct StatusFrame {
    std::array<std::uint8_t, 6> inputs{};                 // DI CH00-CH05, bytes 1-6
    std::array<std::uint8_t, 2> outputs{};                // DO CH00-CH01, bytes 7-8
    std::array<std::uint32_t, 6> counters{};              // little-endian from byte 9
    std::optional<std::uint8_t> checkSum;                 // byte 33 of a 34-byte frame
    std::optional<std::array<std::uint32_t, 6>> gapTimes; // ms, from byte 33 of a 57-byte frame
};

// The fields of a status frame, or nothing for a frame of another length. The checksum is
// shown as it came, never computed or compared.
std::optional<StatusFrame> decodeStatusFrame(ByteView frame);

// The UTF-8 one-character text of a DI or DO byte, always visible and never a line break:
// printable ASCII as itself; 0x00-0x1F as the control pictures U+2400-U+241F; 0x7F as U+2421;
// the blank as U+2420; 0x80-0xFF as their Windows-1252 character, except the no-break space
// (U+237D), the soft hyphen (U+2010) and the five undefined codes (U+FFFD).
std::string statusCharText(std::uint8_t byte);

// A counter or gap time in decimal, "0" to "4294967295".
std::string dwordText(std::uint32_t value);

// The checksum byte in uppercase hexadecimal without padding: "0" to "FF".
std::string checkSumText(std::uint8_t byte);

// The texts of the value boxes for one status frame.
struct StatusTexts {
    std::array<std::string, 6> inputs;
    std::array<std::string, 2> outputs;
    std::array<std::string, 6> counters;
    std::optional<std::string> checkSum;                // 34-byte frames
    std::optional<std::array<std::string, 6>> gapTimes; // 57-byte frames
};
StatusTexts statusTexts(const StatusFrame& frame);

// The texts for the bytes of one arrival, or nothing for a frame of another length.
std::optional<StatusTexts> statusTexts(ByteView frame);

// The RECV line of a status frame: stamp + " RECV : " + two uppercase hexadecimal digits per
// byte, no separators.
std::string recvLine(std::string_view stamp, ByteView frame);

// What the daily log file receives for a RECV line: CR LF, the line, CR LF.
std::string recvFileText(std::string_view line);

// The line for an arrival of any other length: "Different responce data length : N Bytes".
std::string wrongLengthLine(std::size_t length);

} // namespace vm
