#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace vm {

// Bytes as the protocol core takes them (a view of any contiguous bytes) and returns them.
using ByteView = std::span<const std::uint8_t>;
using Bytes = std::vector<std::uint8_t>;

} // namespace vm
