#pragma once

#include "protocol/bytes.h"

#include <array>
#include <cstddef>
#include <vector>

namespace vm {

// The status frames in one arrival of bytes. An arrival of exactly k x L bytes, k >= 2 and
// L one of 33, 34 or 57, in which every L-byte piece begins with 'N', is k frames that came
// together (a reader that was late takes two replies at once); every other arrival is
// itself, one piece, whatever its length. The pieces view the arrival's bytes.
inline std::vector<ByteView> splitArrival(ByteView arrival) {
    static constexpr std::array<std::size_t, 3> lengths{33, 34, 57};
    const std::size_t n = arrival.size();
    for (const std::size_t length : lengths) {
        if (n < 2 * length || n % length != 0)
            continue;
        bool framed = true;
        for (std::size_t at = 0; at < n && framed; at += length)
            framed = arrival[at] == 'N';
        if (!framed)
            continue;
        std::vector<ByteView> pieces;
        pieces.reserve(n / length);
        for (std::size_t at = 0; at < n; at += length)
            pieces.push_back(arrival.subspan(at, length));
        return pieces;
    }
    return {arrival};
}

} // namespace vm
