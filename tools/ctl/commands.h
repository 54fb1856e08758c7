#pragma once

#include "ctl/cli.h"
#include "ctl/link.h"
#include "ctl/record.h"
#include "ctl/script.h"

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace vm::ctl {

// Each command carries out an invocation and returns the exit code. Data goes to stdout,
// messages to stderr.
int runExchange(const Invocation& inv); // status, set, reset
// status, set, reset and expect against every unit of inv.units at once.
int runUnitsExchange(const Invocation& inv);
// The outcome of several units: the worst exit code, and the units that failed, "B (exit 1),
// C (exit 3)", said on stderr in a last line ("2 of 3 units failed: ...").
struct UnitsVerdict {
    int worst = 0;
    std::size_t failed = 0;
    std::string names;
};
UnitsVerdict unitsVerdict(const std::vector<std::pair<std::string, int>>& codes);

// watch against every unit at once, each unit with slots and reconnects of its own: records
// and a summary per unit, and one summary for the whole line.
int runUnitsWatch(const Invocation& inv);

// expect CONDITION [--within D]: 0 when it holds (within D) on every unit, else the worst.
int runExpect(const Invocation& inv);
int runWatch(const Invocation& inv);
int runDecode(const Invocation& inv);
int runScript(const Invocation& inv);
int runPing(const Invocation& inv);

// The request frame of a command: NREQ, NT<ch><v>, NC<ch>0.
std::vector<std::uint8_t> requestFrame(Command command, char channel = 0, char value = 0);

// The requests of one command to one module. Each reply is collected until its frame is
// whole or the timeout ends, checked, and credited only to the request it answers: after a
// request that had no whole reply, the connection is opened anew before the next one, so
// that a reply that comes late cannot answer it; what came meanwhile is counted as late.
class Session {
public:
    Session(Link& link, const Invocation& inv);

    // Connects, or says on stderr why not ("vm3870ctl: cannot connect to HOST:PORT: why").
    bool connect();
    // Connects again within `timeout`; nothing on success, else why not.
    std::optional<std::string> reconnect(std::chrono::milliseconds timeout);
    asio::awaitable<std::optional<std::string>> asyncReconnect(std::chrono::milliseconds timeout);

    struct Exchange {
        // Arrival: `record` holds the reply, which may fail its checks; Deadline: no byte in
        // time; Lost: the connection is gone (see `problem`); Interrupted: Ctrl+C.
        Link::Wait outcome = Link::Wait::Deadline;
        Record record;         // the reply, or a record of its lack (with the error)
        bool reopened = false; // the connection was opened anew before the request
        std::string problem;   // why the connection was lost
    };
    Exchange exchange(const std::vector<std::uint8_t>& frame);
    // The same in two halves, so that several sessions on one event loop wait at once: the
    // first sends the request (false when it could not be sent: `ex` holds why), the second
    // collects its reply, arrivals meanwhile being stamped as they came.
    bool send(const std::vector<std::uint8_t>& frame, Exchange& ex);
    void collect(Exchange& ex);
    // The same as coroutines, for work that waits side by side with other units' work.
    asio::awaitable<Exchange> asyncExchange(std::vector<std::uint8_t> frame);
    asio::awaitable<bool> asyncSend(const std::vector<std::uint8_t>& frame, Exchange& ex);
    asio::awaitable<void> asyncCollect(Exchange& ex);

    // The status frame length: given with --frame, learned, or not yet known.
    std::optional<std::size_t> frameLength() const { return frameLength_; }
    std::uint64_t late() const { return late_; }

private:
    std::uint64_t dropWaiting();
    std::uint64_t repliesIn(std::size_t bytes) const;

    Link& link_;
    const Invocation& inv_;
    std::optional<std::size_t> frameLength_;
    bool reopen_ = false; // the last request had no whole reply
    Arrival sent_;        // when the request under way was written
    std::uint64_t pendingLate_ = 0;
    std::uint64_t late_ = 0;
};

// The value of a script's field in a reply, or why it has none.
struct Value {
    std::optional<std::int64_t> number;
    std::string shown; // as the failure text shows it
};
Value valueOf(const Field& field, const Record& r);

// "NN late replies" / "1 late reply".
std::string lateText(std::uint64_t late);

// Why a reply to `set CH V` does not show the output as set, or empty.
std::string setFault(const Record& reply, char channel, char value);

// A message on stderr, prefixed with the program name.
void say(const std::string& message);

} // namespace vm::ctl
