#pragma once

#include "ctl/commands.h"
#include "ctl/output.h"
#include "ctl/vcd.h"

#include <chrono>
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
    // Several units together: the sum of their rates, each over its own sending time.
    std::optional<double> rate;
};

// Requests a second between the first request and the last (or the units' sum).
double achievedRate(const WatchStats& stats);

// Counts one request of a watch and what became of it (a reply, its round trip, a timeout);
// `firstSent` is when the first request went, kept for the rate. A lost connection is the
// caller's to count.
void countExchange(WatchStats& stats, const Session::Exchange& ex,
                   std::chrono::steady_clock::time_point& firstSent);

// Opens watch's --vcd file with the dump's header (one scope a unit with several units);
// false, said on stderr, when the file cannot be made.
bool openTrace(const std::string& path, std::optional<Sink>& file, std::optional<VcdWriter>& writer,
               const std::vector<std::string>& units = {});

// Where a watch's records go: shared by the watches of several units.
struct WatchOutputs {
    Emitter& out;
    VcdWriter* vcd = nullptr;
    Sink* vcdFile = nullptr;
};

// One module's watch: its own slots, connection, reconnects and counts, on an event loop it
// may share with other modules' watches, so that one module's silence or outage never costs
// another a slot. With a name (one unit of several), its records and messages are led by it.
class ModuleWatch {
public:
    ModuleWatch(const Invocation& inv, asio::io_context& io, const WatchOutputs& outputs,
                std::string name = {}, std::size_t index = 0);
    // Connects, then watches until the count, the duration, Ctrl+C or a loss for good; the
    // exit code (kExitConnect when it could not connect).
    asio::awaitable<int> run();
    const WatchStats& stats() const { return stats_; }
    Link& link() { return link_; }

private:
    void tell(const std::string& message) const;
    bool outputFailed() const;
    void emit(const Record& r, bool disconnected);
    // One try to connect again while the module is away.
    asio::awaitable<void> reconnect();

    const Invocation& inv_;
    WatchOutputs outputs_;
    std::string name_;
    std::size_t index_;
    Link link_;
    Session session_{link_, inv_};
    WatchStats stats_;
    std::chrono::steady_clock::time_point start_;
    bool away_ = false; // the connection is lost and not yet regained
    std::chrono::steady_clock::time_point lostAt_;
    std::chrono::steady_clock::time_point lastTry_; // the last connect tried
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
