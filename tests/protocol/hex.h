#pragma once

#include "protocol/bytes.h"

#include <string_view>

namespace vm::test {

// The bytes written as hexadecimal digits, two a byte: "4E52" gives 0x4E 0x52.
inline Bytes bytesFromHex(std::string_view hex) {
    const auto nibble = [](char c) {
        return std::uint8_t(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
    };
    Bytes bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(std::uint8_t(nibble(hex[i]) << 4 | nibble(hex[i + 1])));
    return bytes;
}

} // namespace vm::test
