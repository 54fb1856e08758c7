#pragma once

// The one hexadecimal writer and reader of the program: uppercase digits, two a byte, as the
// SEND and RECV lines, the checksum box, vm3870ctl's records and the emulator's log show them.

#include "protocol/bytes.h"

#include <cstdint>
#include <string>

namespace vm::hex {

inline constexpr char kDigits[] = "0123456789ABCDEF";

// Appends the byte as two uppercase digits ("0A").
inline void appendByte(std::string& text, std::uint8_t byte) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0x0F];
}

// The bytes as uppercase digits, two a byte, no separators: "4E524551".
inline std::string upper(ByteView bytes) {
    std::string text;
    text.reserve(bytes.size() * 2);
    for (const std::uint8_t byte : bytes)
        appendByte(text, byte);
    return text;
}

// The value of one hexadecimal digit (either case), or -1.
inline int digitValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

} // namespace vm::hex
