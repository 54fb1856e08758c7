// bench_decoder: status frames per second through the decoder alone, from the bytes to the
// texts of the value boxes and the RECV line, for each frame length.

#include "protocol/decoder.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

int main(int argc, char* argv[]) {
    // --seconds N: the time spent on each length (default 2).
    double seconds = 2;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc)
            seconds = std::atof(argv[++i]);
        else
            seconds = 0;
    }
    if (seconds <= 0) {
        std::fprintf(stderr, "usage: bench_decoder [--seconds N]\n");
        return 2;
    }
    using Clock = std::chrono::steady_clock;
    const auto perLength =
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    const std::string stamp = "[09:15:02.047]";
    std::mt19937 random(std::random_device{}());

    for (const std::size_t length : {33, 34, 57}) {
        // A small ring of different frames, so that no result can be carried over.
        std::vector<vm::Bytes> frames(64, vm::Bytes(length));
        for (vm::Bytes& frame : frames)
            for (std::uint8_t& byte : frame)
                byte = std::uint8_t(random());
        long long count = 0;
        std::size_t characters = 0;
        const Clock::time_point start = Clock::now();
        while (Clock::now() - start < perLength) {
            for (int i = 0; i < 1000; ++i, ++count) {
                const vm::Bytes& frame = frames[std::size_t(count) % frames.size()];
                const auto texts = vm::statusTexts(frame);
                characters += texts->counters[5].size() + vm::recvLine(stamp, frame).size();
            }
        }
        const double spent = std::chrono::duration<double>(Clock::now() - start).count();
        std::printf("%zu-byte frames    %.0f frames per s (%lld in %.1f s, %zu characters)\n",
                    length, double(count) / spent, count, spent, characters);
    }
    return 0;
}
