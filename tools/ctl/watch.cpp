#include "ctl/watch.h"

#include "ctl/commands.h"
#include "ctl/output.h"
#include "ctl/vcd.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace vm::ctl {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::microseconds;

constexpr auto kFirstReconnectWait = std::chrono::milliseconds(500);
constexpr auto kLongestReconnectWait = std::chrono::milliseconds(8000);
// A trace on disk is at most this far behind the watch.
constexpr auto kVcdFlushEvery = std::chrono::seconds(1);

// Requests a second between the first request and the last.
double achievedRate(const WatchStats& s) {
    if (s.requests < 2 || s.sendingSeconds <= 0)
        return 0.0;
    return static_cast<double>(s.requests - 1) / s.sendingSeconds;
}

double rounded(double value) {
    return std::round(value * 1000.0) / 1000.0;
}

std::string fixed(double value, int decimals) {
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
    return buffer;
}

} // namespace

std::optional<RttFigures> rttFigures(std::vector<double> rtt) {
    if (rtt.empty())
        return std::nullopt;
    std::sort(rtt.begin(), rtt.end());
    const auto rank = [&rtt](double p) {
        const auto index = static_cast<std::size_t>(std::ceil(p * static_cast<double>(rtt.size())));
        return rtt[std::clamp<std::size_t>(index, 1, rtt.size()) - 1];
    };
    return RttFigures{rtt.front(), rank(0.5), rank(0.95), rtt.back()};
}

std::uint64_t missedSlots(std::int64_t late, std::int64_t interval) {
    if (interval <= 0 || 2 * late <= interval)
        return 0;
    return static_cast<std::uint64_t>((late - interval / 2 - 1) / interval + 1);
}

std::string summaryText(const WatchStats& s) {
    std::string text =
        counted(s.requests, "request") + ", " + counted(s.replies, "reply", "replies") + " (" +
        std::to_string(s.wrongLength) + " wrong length), " + counted(s.timeouts, "timeout") + ", " +
        counted(s.skipped, "skipped slot") + ", " + counted(s.reconnects, "reconnect") + " in " +
        fixed(s.seconds, 3) + " s\n";
    if (const auto rtt = rttFigures(s.rttMs))
        text += "round trip ms: min " + fixed(rtt->min, 3) + ", median " + fixed(rtt->median, 3) +
                ", p95 " + fixed(rtt->p95, 3) + ", max " + fixed(rtt->max, 3) + "\n";
    text += "rate: " + fixed(achievedRate(s), 1) + " requests/s";
    if (s.askedRate)
        text += " of " + fixed(*s.askedRate, 1) + " asked (" +
                fixed(100.0 * achievedRate(s) / *s.askedRate, 1) + " %)";
    else
        text += ", back to back";
    return text + "\n";
}

std::string summaryJson(const WatchStats& s) {
    nlohmann::ordered_json summary;
    summary["requests"] = s.requests;
    summary["replies"] = s.replies;
    summary["wrong_length"] = s.wrongLength;
    summary["timeouts"] = s.timeouts;
    summary["skipped"] = s.skipped;
    summary["reconnects"] = s.reconnects;
    summary["seconds"] = rounded(s.seconds);
    if (const auto rtt = rttFigures(s.rttMs))
        summary["rtt_ms"] = {{"min", rounded(rtt->min)},
                             {"median", rounded(rtt->median)},
                             {"p95", rounded(rtt->p95)},
                             {"max", rounded(rtt->max)}};
    else
        summary["rtt_ms"] = nullptr;
    summary["rate"] = rounded(achievedRate(s));
    summary["asked_rate"] = s.askedRate ? nlohmann::json(*s.askedRate) : nlohmann::json(nullptr);
    return jsonSummaryRecord(isoTime(std::chrono::system_clock::now()), summary.dump());
}

int runWatch(const Invocation& inv) {
    // The outputs first, so that a watch that cannot connect still leaves a csv header and
    // a dump that opens.
    std::optional<Sink> vcdFile;
    std::optional<VcdWriter> vcd;
    if (!inv.vcdFile.empty()) {
        vcdFile.emplace(inv.vcdFile);
        if (vcdFile->failed()) {
            say(vcdFile->problem());
            return kExitUsage;
        }
        vcd.emplace(*vcdFile, isoTime(std::chrono::system_clock::now()));
    }
    Emitter out(inv.format, inv.header);
    const Sink* vcdSink = vcdFile ? &*vcdFile : nullptr;
    const auto outputFailed = [&] { return out.failed() || (vcdSink && vcdSink->failed()); };
    // Before a wait: what was written so far is on its way to the disk, so that a hard kill
    // loses at most the last second of the trace.
    const auto flushAll = [&] {
        out.flush();
        if (vcdFile)
            vcdFile->flush();
    };
    Link link;
    if (!connectOrSay(link, inv)) {
        out.flush();
        if (vcdFile)
            vcdFile->close();
        return exitAfterOutput(kExitConnect, {vcdSink});
    }

    WatchStats stats;
    const microseconds interval = inv.interval;
    if (interval.count() > 0)
        stats.askedRate = 1e6 / static_cast<double>(interval.count());
    const auto take = [&](const Arrival& arrival, std::optional<double> rtt) {
        for (const Record& r : recordsOf(arrival, rtt)) {
            ++stats.replies;
            if (!r.fields)
                ++stats.wrongLength;
            out.record(r);
            if (vcd)
                vcd->write(r);
        }
    };
    // Replies that came in while no request was waiting (late ones) are records too.
    const auto takeLate = [&] {
        for (const Arrival& a : link.arrivals())
            take(a, std::nullopt);
        link.arrivals().clear();
    };

    const Clock::time_point start = Clock::now();
    const Clock::time_point end = inv.duration ? start + *inv.duration : Clock::time_point::max();
    Clock::time_point slot = start;
    Clock::time_point firstSent = start;
    const std::vector<std::uint8_t> request = requestFrame(Command::Status);
    bool lostForGood = false;
    auto reconnectWait = std::chrono::duration_cast<Clock::duration>(kFirstReconnectWait);

    while (!link.interrupted() && !outputFailed() && !(inv.count && stats.replies >= *inv.count)) {
        Clock::time_point now = Clock::now();
        if (now >= end)
            break;
        if (!link.isOpen()) {
            if (!inv.reconnect) {
                say("connection lost: " + link.lostReason());
                lostForGood = true;
                break;
            }
            flushAll();
            if (link.sleepUntil(std::min(now + reconnectWait, end)) == Link::Wait::Interrupted ||
                Clock::now() >= end)
                break;
            ++stats.reconnects;
            if (const auto problem = link.connect(inv.host, inv.port, inv.timeout)) {
                if (!inv.quiet)
                    say("reconnect " + std::to_string(stats.reconnects) + " failed: " + *problem);
                reconnectWait = std::min<Clock::duration>(2 * reconnectWait, kLongestReconnectWait);
                continue;
            }
            if (!inv.quiet)
                say("reconnected");
            reconnectWait = kFirstReconnectWait;
            slot = Clock::now();
            continue;
        }
        if (interval.count() > 0) {
            const std::uint64_t missed = missedSlots(
                std::chrono::duration_cast<microseconds>(now - slot).count(), interval.count());
            stats.skipped += missed;
            slot += static_cast<std::int64_t>(missed) * interval;
            if (slot > now) {
                if (slot - now > std::chrono::milliseconds(20))
                    flushAll();
                if (slot >= end || link.sleepUntil(slot) == Link::Wait::Interrupted)
                    break;
            }
            takeLate();
        }
        link.arrivals().clear();
        const Clock::time_point sentAt = Clock::now(); // before the write, as in exchange()
        if (!link.send(request))
            continue; // lost: handled at the top of the loop
        if (stats.requests++ == 0)
            firstSent = sentAt;
        stats.sendingSeconds = std::chrono::duration<double>(sentAt - firstSent).count();
        if (vcdFile && inv.timeout > kVcdFlushEvery)
            vcdFile->flush();
        switch (link.waitForArrival(sentAt + inv.timeout)) {
        case Link::Wait::Arrival: {
            const Arrival first = std::move(link.arrivals().front());
            link.arrivals().pop_front();
            const double rtt = std::chrono::duration<double, std::milli>(first.at - sentAt).count();
            stats.rttMs.push_back(rtt);
            take(first, rtt);
            break;
        }
        case Link::Wait::Deadline:
            ++stats.timeouts;
            if (!inv.quiet)
                say("no reply within " + std::to_string(inv.timeout.count()) + " ms");
            break;
        case Link::Wait::Lost:
        case Link::Wait::Interrupted:
            break;
        }
        slot += interval;
        out.flushIfDue(Clock::now());
        if (vcdFile)
            vcdFile->flushIfDue(kVcdFlushEvery);
    }
    takeLate();
    stats.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (inv.format == Format::Json)
        out.text(summaryJson(stats));
    out.flush();
    if (vcd) {
        vcd->finish(Clock::now().time_since_epoch());
        vcdFile->close();
    }
    if (!inv.quiet && inv.format != Format::Json)
        std::fputs(summaryText(stats).c_str(), stderr);
    int code = kExitOk;
    if (lostForGood || stats.timeouts > 0)
        code = kExitLost;
    else if (stats.wrongLength > 0)
        code = kExitCheckFailed;
    return exitAfterOutput(code, {vcdSink});
}

} // namespace vm::ctl
