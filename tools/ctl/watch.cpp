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

// GCC 12 takes the frame of a long Asio coroutine, which the frame's own operator new made,
// for one of the global operator new, and warns of a mismatched delete.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

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

double rounded(double value) {
    return std::round(value * 1000.0) / 1000.0;
}

std::string fixed(double value, int decimals) {
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
    return buffer;
}

} // namespace

double achievedRate(const WatchStats& s) {
    if (s.rate)
        return *s.rate;
    if (s.requests < 2 || s.sendingSeconds <= 0)
        return 0.0;
    return static_cast<double>(s.requests - 1) / s.sendingSeconds;
}

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

void countExchange(WatchStats& stats, const Session::Exchange& ex,
                   std::chrono::steady_clock::time_point& firstSent) {
    if (ex.reopened)
        ++stats.reconnects;
    const auto sentAt = std::chrono::steady_clock::time_point(ex.record.at);
    if (ex.outcome != Link::Wait::Lost && stats.requests++ == 0)
        firstSent = sentAt;
    stats.sendingSeconds = std::chrono::duration<double>(sentAt - firstSent).count();
    if (ex.outcome == Link::Wait::Arrival) {
        ++stats.replies;
        if (ex.record.rttMs)
            stats.rttMs.push_back(*ex.record.rttMs);
        if (!ex.record.ok())
            ++stats.invalid;
    } else if (ex.outcome == Link::Wait::Deadline) {
        ++stats.timeouts;
    }
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

bool openTrace(const std::string& path, std::optional<Sink>& file, std::optional<VcdWriter>& writer,
               const std::vector<std::string>& units) {
    file.emplace(path);
    if (file->failed()) {
        say(file->problem());
        return false;
    }
    writer.emplace(*file, isoTime(std::chrono::system_clock::now()), units);
    return true;
}

ModuleWatch::ModuleWatch(const Invocation& inv, asio::io_context& io, const WatchOutputs& outputs,
                         std::string name, std::size_t index)
    : inv_(inv)
    , outputs_(outputs)
    , name_(std::move(name))
    , index_(index)
    , link_(io) {
    if (inv.interval.count() > 0)
        stats_.askedRate = 1e6 / static_cast<double>(inv.interval.count());
}

void ModuleWatch::tell(const std::string& message) const {
    say(name_.empty() ? message : name_ + ": " + message);
}

bool ModuleWatch::outputFailed() const {
    return outputs_.out.failed() || (outputs_.vcdFile && outputs_.vcdFile->failed());
}

void ModuleWatch::emit(const Record& r, bool disconnected) {
    ++stats_.slots;
    outputs_.out.record(r, name_);
    if (outputs_.vcd && disconnected)
        outputs_.vcd->unknown(r.at, index_);
    else if (outputs_.vcd)
        outputs_.vcd->write(r, index_);
}

asio::awaitable<int> ModuleWatch::run() {
    const Invocation& inv = inv_;
    if (const auto problem = co_await session_.asyncReconnect(inv.timeout)) {
        tell("cannot connect to " + inv.host + ":" + std::to_string(inv.port) + ": " + *problem);
        if (!name_.empty())
            outputs_.out.record(unreachedRecord(*problem), name_);
        co_return kExitConnect;
    }
    // Before a wait: what was written so far is on its way to the disk, so that a hard kill
    // loses at most the last second of the trace. Several units share the outputs, and
    // flush them at most every 100 ms.
    const auto flushAll = [this] {
        if (!name_.empty()) {
            outputs_.out.flushIfDue(Clock::now());
            return;
        }
        outputs_.out.flush();
        if (outputs_.vcdFile)
            outputs_.vcdFile->flush();
    };
    const microseconds interval = inv.interval;
    start_ = Clock::now();
    const Clock::time_point end = inv.duration ? start_ + *inv.duration : Clock::time_point::max();
    Clock::time_point slot = start_;
    Clock::time_point firstSent = start_;
    lostAt_ = lastTry_ = start_;
    const std::vector<std::uint8_t> request = requestFrame(Command::Status);
    bool lostForGood = false;

    std::string lostWhy; // for the first record of an outage: ": closed by the module"
    const auto disconnectedSlot = [&](Clock::time_point at) {
        Record r;
        r.time = isoTime(
            std::chrono::system_clock::now() -
            std::chrono::duration_cast<std::chrono::system_clock::duration>(Clock::now() - at));
        r.at = at.time_since_epoch();
        r.error = "disconnected" + std::exchange(lostWhy, std::string());
        ++stats_.disconnected;
        emit(r, true);
    };
    const auto lose = [&](const std::string& why) {
        away_ = true;
        lostWhy = ": " + why;
        lostAt_ = Clock::now();
        lastTry_ = lostAt_ - kRetryEvery; // the first try at once
        ++stats_.outages;
        if (!inv.reconnect) {
            tell("connection lost: " + why);
            lostForGood = true;
        } else if (!inv.quiet) {
            tell("connection lost: " + why + "; reconnecting");
        }
    };
    while (!link_.interrupted() && !lostForGood && !outputFailed() &&
           !(inv.count && stats_.slots >= *inv.count)) {
        Clock::time_point now = Clock::now();
        if (now >= end)
            break;
        if (interval.count() > 0) {
            const std::uint64_t missed = missedSlots(
                std::chrono::duration_cast<microseconds>(now - slot).count(), interval.count());
            // Slots passed while a connect was tried are records of the outage too.
            for (std::uint64_t k = 0;
                 k < missed && away_ && !(inv.count && stats_.slots >= *inv.count); ++k)
                disconnectedSlot(slot + static_cast<std::int64_t>(k) * interval);
            if (!away_)
                stats_.skipped += missed;
            slot += static_cast<std::int64_t>(missed) * interval;
        } else {
            // Back to back, but while the module is away one slot per connect tried.
            slot = away_ ? std::max(now, lastTry_ + kRetryEvery) : now;
        }
        if (slot > now) {
            if (slot - now > std::chrono::milliseconds(20))
                flushAll();
            if (slot >= end)
                break;
            const Link::Wait slept = co_await link_.asyncSleepUntil(slot);
            if (slept == Link::Wait::Interrupted)
                break;
        }
        if (!away_ && !link_.isOpen())
            lose(link_.lostReason());
        if (lostForGood)
            break;
        if (away_ && Clock::now() >= lastTry_ + kRetryEvery)
            co_await reconnect();
        if (away_) {
            disconnectedSlot(slot);
        } else {
            const bool learning = !session_.frameLength();
            Session::Exchange ex = co_await session_.asyncExchange(request);
            if (ex.outcome == Link::Wait::Interrupted)
                break;
            // Learning the frame length waits for quiet after the first reply; the rhythm
            // begins after it.
            if (learning && session_.frameLength())
                slot = Clock::now() - interval;
            countExchange(stats_, ex, firstSent);
            switch (ex.outcome) {
            case Link::Wait::Arrival:
                break;
            case Link::Wait::Deadline:
                if (!inv.quiet && name_.empty())
                    say(ex.record.error);
                break;
            case Link::Wait::Lost:
            case Link::Wait::Interrupted:
                ++stats_.disconnected;
                lose(ex.problem);
                lostWhy.clear(); // this record says why
                break;
            }
            emit(ex.record, ex.outcome == Link::Wait::Lost);
        }
        slot += interval;
        outputs_.out.flushIfDue(Clock::now());
        if (outputs_.vcdFile)
            outputs_.vcdFile->flushIfDue(kVcdFlushEvery);
        // Between slots, the module is looked for every quarter of a second.
        while (away_ && inv.reconnect && interval.count() > 0 && !link_.interrupted()) {
            const Clock::time_point next = lastTry_ + kRetryEvery;
            if (next >= slot || next >= end)
                break;
            const Link::Wait slept = co_await link_.asyncSleepUntil(next);
            if (slept == Link::Wait::Interrupted)
                break;
            co_await reconnect();
        }
    }
    stats_.late = session_.late();
    stats_.seconds = std::chrono::duration<double>(Clock::now() - start_).count();
    if (stats_.outages > 0 || stats_.timeouts > 0)
        co_return kExitLost;
    co_return stats_.invalid > 0 ? kExitCheckFailed : kExitOk;
}

asio::awaitable<void> ModuleWatch::reconnect() {
    lastTry_ = Clock::now();
    const std::optional<std::string> problem = co_await session_.asyncReconnect(
        std::min<std::chrono::milliseconds>(inv_.timeout, kLongestRetryConnect));
    if (problem)
        co_return;
    away_ = false;
    ++stats_.reconnects;
    if (!inv_.quiet)
        tell("reconnected after " +
             fixed(std::chrono::duration<double>(Clock::now() - lostAt_).count(), 3) + " s");
}

int runWatch(const Invocation& inv) {
    // The outputs first, so that a watch that cannot connect still leaves a csv header and
    // a dump that opens.
    std::optional<Sink> vcdFile;
    std::optional<VcdWriter> vcd;
    if (!inv.vcdFile.empty() && !openTrace(inv.vcdFile, vcdFile, vcd))
        return kExitUsage;
    Emitter out(inv.format, inv.header);
    const Sink* vcdSink = vcdFile ? &*vcdFile : nullptr;
    asio::io_context io;
    ModuleWatch watch(inv, io, {out, vcd ? &*vcd : nullptr, vcdFile ? &*vcdFile : nullptr});
    const int code = watch.link().drive(watch.run());
    if (code != kExitConnect && inv.format == Format::Json)
        out.text(summaryJson(watch.stats()));
    out.flush();
    if (vcd && code != kExitConnect)
        vcd->finish(Clock::now().time_since_epoch());
    if (vcdFile)
        vcdFile->close();
    if (code != kExitConnect && !inv.quiet && inv.format != Format::Json)
        std::fputs(summaryText(watch.stats()).c_str(), stderr);
    return exitAfterOutput(code, {vcdSink});
}

} // namespace vm::ctl
