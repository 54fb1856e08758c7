#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vm::ctl {

// What a watch counted, and its summary in text and as a JSON record.
struct WatchStats {
    std::uint64_t slots = 0; // records: replies, timeouts and slots while disconnected
    std::uint64_t requests = 0;
    std::uint64_t replies = 0; // invalid ones included
    std::uint64_t invalid = 0; // replies that failed their checks
    std::uint64_t timeouts = 0;
    std::uint64_t late = 0;    // replies that came after their request's time, dropped
    std::uint64_t skipped = 0; // slots missed because a reply was late
    std::uint64_t reconnects = 0;
    std::uint64_t outages = 0;      // times the connection was lost
    std::uint64_t disconnected = 0; // slots while it was
    std::vector<double> rttMs;
    double seconds = 0;              // the whole watch
    double sendingSeconds = 0;       // from the first request to the last
    std::optional<double> askedRate; // requests a second asked for; none for back to back
};

// min / median / p95 / max of the round trips (nearest-rank percentiles).
struct RttFigures {
    double min = 0, median = 0, p95 = 0, max = 0;
};
std::optional<RttFigures> rttFigures(std::vector<double> rttMs);

std::string summaryText(const WatchStats& stats);
std::string summaryJson(const WatchStats& stats);

// The slots a watch skips when it is at `late` past a slot of length `interval` (both in the
// same unit): a slot counts as missed when it is more than half an interval gone.
std::uint64_t missedSlots(std::int64_t late, std::int64_t interval);

} // namespace vm::ctl
