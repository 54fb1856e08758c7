// vm3870ctl ping: the window's ping test from the command line, with the same probe and the
// same line per probe, one probe a second.
#include "ctl/commands.h"
#include "ctl/output.h"

#include "probe/probe.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <thread>

namespace vm::ctl {

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kProbeInterval = std::chrono::seconds(1);
// How soon a wait between probes notices Ctrl+C.
constexpr auto kWaitSlice = std::chrono::milliseconds(50);

std::atomic<bool> stopAsked{false};

// Ctrl+C (or SIGTERM) ends the run after the probe under way has printed its line, as Ping
// Stop does in the window; a second one ends the program at once.
void askStop(int signal) {
    stopAsked = true;
    std::signal(signal, SIG_DFL);
}

// Waits until `deadline` unless a stop is asked; false when it was.
bool waitUntil(Clock::time_point deadline) {
    for (auto now = Clock::now(); !stopAsked && now < deadline; now = Clock::now())
        std::this_thread::sleep_for(std::min<Clock::duration>(deadline - now, kWaitSlice));
    return !stopAsked;
}

const char* resultName(const ProbeResult& probe) {
    if (!probe.target)
        return "unknown_host";
    switch (probe.outcome.kind) {
    case PingOutcome::Kind::Reply:
        return "reply";
    case PingOutcome::Kind::NotPermitted:
        return "not_permitted";
    case PingOutcome::Kind::SocketFailed:
        return "socket_failed";
    case PingOutcome::Kind::NoAnswer:
        break;
    }
    return "no_answer";
}

// One probe as a line of the chosen format: the window's result line as text; as JSON or
// CSV its time, result, address and the reply's fields (empty or null without a reply).
std::string pingRecord(const ProbeResult& probe, const std::string& time, Format format) {
    const bool reply = probe.outcome.kind == PingOutcome::Kind::Reply && probe.target;
    const std::string address = !probe.target ? ""
                                : reply       ? dottedAddress(probe.outcome.reply.from)
                                              : dottedAddress(*probe.target);
    if (format == Format::Text)
        return probe.line + "\n";
    if (format == Format::Csv) {
        std::string row = time + "," + resultName(probe) + "," + address + ",";
        if (reply)
            row += std::to_string(probe.outcome.reply.dataSize) + "," +
                   std::to_string(probe.outcome.roundTripMs) + "," +
                   std::to_string(probe.outcome.reply.ttl);
        else
            row += ",,";
        return row + "\n";
    }
    nlohmann::ordered_json record;
    record["type"] = reply ? "reply" : "error";
    record["time"] = time;
    record["result"] = resultName(probe);
    record["address"] = address.empty() ? nlohmann::json(nullptr) : nlohmann::json(address);
    record["bytes"] = reply ? nlohmann::json(probe.outcome.reply.dataSize) : nullptr;
    record["time_ms"] = reply ? nlohmann::json(probe.outcome.roundTripMs) : nullptr;
    record["ttl"] = reply ? nlohmann::json(probe.outcome.reply.ttl) : nullptr;
    record["line"] = probe.line;
    record["summary"] = nullptr;
    // A host given in bytes that are not UTF-8 shows with replacement characters.
    return record.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

} // namespace

int runPing(const Invocation& inv) {
    stopAsked = false;
    for (const int signal : kEndingSignals)
        std::signal(signal, askStop);
    Sink& out = standardOutput();
    if (inv.format == Format::Csv && inv.header)
        out.write("time,result,address,bytes,time_ms,ttl\n");

    std::uint64_t probes = 0, replies = 0, unanswered = 0, notSent = 0;
    for (;;) {
        const Clock::time_point started = Clock::now();
        const std::string time = isoTime(std::chrono::system_clock::now());
        const ProbeResult probe = runProbe(inv.host);
        ++probes;
        if (probe.outcome.kind == PingOutcome::Kind::Reply)
            ++replies;
        else if (probe.target && probe.outcome.kind == PingOutcome::Kind::NoAnswer)
            ++unanswered;
        else
            ++notSent;
        out.write(pingRecord(probe, time, inv.format));
        if (!out.flush())
            break;
        if (inv.count && probes >= *inv.count)
            break;
        // The next probe one interval after this one started, or at once after a long one.
        if (!waitUntil(std::max(started + kProbeInterval, Clock::now())))
            break;
    }

    if (inv.format == Format::Json) {
        const nlohmann::ordered_json summary{{"probes", probes},
                                             {"replies", replies},
                                             {"no_answer", unanswered},
                                             {"not_sent", notSent}};
        // The keys of a probe's record, as every record has them.
        nlohmann::ordered_json record{{"type", "summary"},
                                      {"time", isoTime(std::chrono::system_clock::now())}};
        for (const char* key : {"result", "address", "bytes", "time_ms", "ttl", "line"})
            record[key] = nullptr;
        record["summary"] = summary;
        out.write(record.dump() + "\n");
    } else if (!inv.quiet) {
        const auto n = [](std::uint64_t value) { return std::to_string(value); };
        std::fputs((counted(probes, "probe") + ", " + counted(replies, "reply", "replies") + ", " +
                    n(unanswered) + " without an answer, " + n(notSent) + " not sent\n")
                       .c_str(),
                   stderr);
    }
    if (notSent > 0)
        return exitAfterOutput(kExitConnect);
    return exitAfterOutput(unanswered > 0 ? kExitLost : kExitOk);
}

} // namespace vm::ctl
