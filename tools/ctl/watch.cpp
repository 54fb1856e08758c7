#include "ctl/watch.h"

#include "ctl/commands.h"
#include "ctl/native.h"
#include "ctl/output.h"
#include "ctl/vcd.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <utility>

namespace vm::ctl {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::microseconds;

// While the module is away, a connect is tried this often, each given at most half a second,
// so that the watch is back within half a second of the module.
constexpr auto kRetryEvery = std::chrono::milliseconds(250);
constexpr auto kLongestRetryConnect = std::chrono::milliseconds(500);
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
        std::to_string(s.invalid) + " invalid), " + counted(s.timeouts, "timeout") + ", " +
        std::to_string(s.late) + " late, " + counted(s.skipped, "skipped slot") + ", " +
        counted(s.reconnects, "reconnect") + ", " + counted(s.outages, "outage") + " (" +
        std::to_string(s.disconnected) + " slots disconnected) in " + fixed(s.seconds, 3) + " s\n";
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
    summary["invalid"] = s.invalid;
    summary["timeouts"] = s.timeouts;
    summary["late"] = s.late;
    summary["skipped"] = s.skipped;
    summary["reconnects"] = s.reconnects;
    summary["outages"] = s.outages;
    summary["disconnected"] = s.disconnected;
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
    Session session(link, inv);
    if (!session.connect()) {
        out.flush();
        if (vcdFile)
            vcdFile->close();
        return exitAfterOutput(kExitConnect, {vcdSink});
    }

    WatchStats stats;
    const microseconds interval = inv.interval;
    if (interval.count() > 0)
        stats.askedRate = 1e6 / static_cast<double>(interval.count());
    // One record per slot, whatever came back.
    const auto emit = [&](const Record& r, bool disconnected) {
        ++stats.slots;
        out.record(r);
        if (vcd && disconnected)
            vcd->unknown(r.at);
        else if (vcd)
            vcd->write(r);
    };

    const Clock::time_point start = Clock::now();
    const Clock::time_point end = inv.duration ? start + *inv.duration : Clock::time_point::max();
    Clock::time_point slot = start;
    Clock::time_point firstSent = start;
    Clock::time_point lostAt = start;
    Clock::time_point lastTry = start;
    const std::vector<std::uint8_t> request = requestFrame(Command::Status);
    bool lostForGood = false;
    bool away = false; // the connection is lost and not yet regained

    std::string lostWhy; // for the first record of an outage: ": closed by the module"
    const auto disconnectedSlot = [&](Clock::time_point at) {
        Record r;
        r.time = isoTime(
            std::chrono::system_clock::now() -
            std::chrono::duration_cast<std::chrono::system_clock::duration>(Clock::now() - at));
        r.at = at.time_since_epoch();
        r.error = "disconnected" + std::exchange(lostWhy, std::string());
        ++stats.disconnected;
        emit(r, true);
    };
    const auto lose = [&](const std::string& why) {
        away = true;
        lostWhy = ": " + why;
        lostAt = Clock::now();
        lastTry = lostAt - kRetryEvery; // the first try at once
        ++stats.outages;
        if (!inv.reconnect) {
            say("connection lost: " + why);
            lostForGood = true;
        } else if (!inv.quiet) {
            say("connection lost: " + why + "; reconnecting");
        }
    };
    const auto tryConnect = [&] {
        lastTry = Clock::now();
        if (session.reconnect(
                std::min<std::chrono::milliseconds>(inv.timeout, kLongestRetryConnect)))
            return;
        away = false;
        ++stats.reconnects;
        if (!inv.quiet)
            say("reconnected after " +
                fixed(std::chrono::duration<double>(Clock::now() - lostAt).count(), 3) + " s");
    };

    while (!link.interrupted() && !lostForGood && !outputFailed() &&
           !(inv.count && stats.slots >= *inv.count)) {
        Clock::time_point now = Clock::now();
        if (now >= end)
            break;
        if (interval.count() > 0) {
            const std::uint64_t missed = missedSlots(
                std::chrono::duration_cast<microseconds>(now - slot).count(), interval.count());
            // Slots passed while a connect was tried are records of the outage too.
            for (std::uint64_t k = 0;
                 k < missed && away && !(inv.count && stats.slots >= *inv.count); ++k)
                disconnectedSlot(slot + static_cast<std::int64_t>(k) * interval);
            if (!away)
                stats.skipped += missed;
            slot += static_cast<std::int64_t>(missed) * interval;
        } else {
            // Back to back, but while the module is away one slot per connect tried.
            slot = away ? std::max(now, lastTry + kRetryEvery) : now;
        }
        if (slot > now) {
            if (slot - now > std::chrono::milliseconds(20))
                flushAll();
            if (slot >= end || link.sleepUntil(slot) == Link::Wait::Interrupted)
                break;
        }
        if (!away && !link.isOpen())
            lose(link.lostReason());
        if (lostForGood)
            break;
        if (away && Clock::now() >= lastTry + kRetryEvery)
            tryConnect();
        if (away) {
            disconnectedSlot(slot);
        } else {
            const bool learning = !session.frameLength();
            Session::Exchange ex = session.exchange(request);
            if (ex.outcome == Link::Wait::Interrupted)
                break;
            // Learning the frame length waits for quiet after the first reply; the rhythm
            // begins after it.
            if (learning && session.frameLength())
                slot = Clock::now() - interval;
            if (ex.reopened)
                ++stats.reconnects;
            const Clock::time_point sentAt = Clock::time_point(ex.record.at);
            if (ex.outcome != Link::Wait::Lost && stats.requests++ == 0)
                firstSent = sentAt;
            stats.sendingSeconds = std::chrono::duration<double>(sentAt - firstSent).count();
            switch (ex.outcome) {
            case Link::Wait::Arrival:
                ++stats.replies;
                if (ex.record.rttMs)
                    stats.rttMs.push_back(*ex.record.rttMs);
                if (!ex.record.ok())
                    ++stats.invalid;
                break;
            case Link::Wait::Deadline:
                ++stats.timeouts;
                if (!inv.quiet)
                    say(ex.record.error);
                break;
            case Link::Wait::Lost:
            case Link::Wait::Interrupted:
                ++stats.disconnected;
                lose(ex.problem);
                lostWhy.clear(); // this record says why
                break;
            }
            emit(ex.record, ex.outcome == Link::Wait::Lost);
        }
        slot += interval;
        out.flushIfDue(Clock::now());
        if (vcdFile)
            vcdFile->flushIfDue(kVcdFlushEvery);
        // Between slots, the module is looked for every quarter of a second.
        while (away && inv.reconnect && interval.count() > 0 && !link.interrupted()) {
            const Clock::time_point next = lastTry + kRetryEvery;
            if (next >= slot || next >= end || link.sleepUntil(next) == Link::Wait::Interrupted)
                break;
            tryConnect();
        }
    }
    stats.late = session.late();
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
    if (stats.outages > 0 || stats.timeouts > 0)
        code = kExitLost;
    else if (stats.invalid > 0)
        code = kExitCheckFailed;
    return exitAfterOutput(code, {vcdSink});
}

} // namespace vm::ctl
