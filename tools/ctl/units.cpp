// Several modules at once: status, set, reset and expect against every unit, on one event
// loop shared by their connections.

#include "ctl/commands.h"
#include "ctl/output.h"
#include "ctl/vcd.h"
#include "ctl/watch.h"

#include <algorithm>
#include <memory>
#include <nlohmann/json.hpp>

namespace vm::ctl {

namespace {

// One unit's connection and what became of it.
struct UnitRun {
    UnitRun(asio::io_context& io, const Invocation& all, const Unit& u)
        : unit(u)
        , inv(forUnit(all, u))
        , link(io) {}
    const Unit& unit;
    const Invocation inv;
    Link link;
    Session session{link, inv};
    int code = kExitOk;
    bool connected = false;
    Session::Exchange ex;
    bool sent = false;
};

using Units = std::vector<std::unique_ptr<UnitRun>>;

// Connects every unit at once; one that cannot be reached keeps exit 3 and a record of why.
void connectAll(Units& units, std::vector<std::pair<Record, const UnitRun*>>& records) {
    const SteadyTime start = std::chrono::steady_clock::now();
    for (auto& u : units)
        u->link.beginConnect(u->inv.host, u->inv.port);
    for (auto& u : units) {
        const auto problem = u->link.endConnect(start + u->inv.timeout, u->inv.timeout);
        u->connected = !problem;
        if (!problem)
            continue;
        u->code = kExitConnect;
        say(u->unit.name + ": cannot connect to " + u->inv.host + ":" +
            std::to_string(u->inv.port) + ": " + *problem);
        records.emplace_back(unreachedRecord(*problem), u.get());
    }
}

// One request to every connected unit at once, then each reply collected; replies that came
// while another unit was being waited for were stamped as they came.
void exchangeAll(Units& units, const std::vector<std::uint8_t>& frame) {
    for (auto& u : units)
        if (u->connected)
            u->sent = u->session.send(frame, u->ex);
    for (auto& u : units)
        if (u->connected && u->sent)
            u->session.collect(u->ex);
}

// The exit code of a unit's exchange, as one module's command gives it.
int exchangeCode(const Session::Exchange& ex) {
    switch (ex.outcome) {
    case Link::Wait::Arrival:
        return ex.record.ok() ? kExitOk : kExitCheckFailed;
    case Link::Wait::Deadline:
    case Link::Wait::Lost:
    case Link::Wait::Interrupted:
        break;
    }
    return kExitLost;
}

int verdict(const Units& units) {
    std::vector<std::pair<std::string, int>> codes;
    for (const auto& u : units)
        codes.emplace_back(u->unit.name, u->code);
    return unitsVerdict(codes).worst;
}

Units unitsOf(asio::io_context& io, const Invocation& inv) {
    Units units;
    for (const Unit& unit : inv.units)
        units.push_back(std::make_unique<UnitRun>(io, inv, unit));
    return units;
}

// Records in the order they came (a missing reply when its wait ended), each with its
// unit's name.
void emitInOrder(Emitter& out, std::vector<std::pair<Record, const UnitRun*>>& records) {
    const auto known = [](const std::pair<Record, const UnitRun*>& r) {
        return r.first.bytes.empty() && r.first.error.starts_with("no reply")
                   ? r.first.at + r.second->inv.timeout
                   : r.first.at;
    };
    std::stable_sort(records.begin(), records.end(),
                     [&known](const auto& a, const auto& b) { return known(a) < known(b); });
    for (const auto& [record, unit] : records)
        out.record(record, unit->unit.name);
}

} // namespace

UnitsVerdict unitsVerdict(const std::vector<std::pair<std::string, int>>& codes) {
    UnitsVerdict v;
    for (const auto& [name, code] : codes) {
        v.worst = std::max(v.worst, code);
        if (code != kExitOk)
            v.names +=
                (v.failed++ == 0 ? "" : ", ") + name + " (exit " + std::to_string(code) + ")";
    }
    if (v.failed > 0)
        say(std::to_string(v.failed) + " of " + std::to_string(codes.size()) +
            " units failed: " + v.names);
    return v;
}

int runUnitsExchange(const Invocation& inv) {
    Emitter out(inv.format, inv.header, standardOutput(), true);
    asio::io_context io;
    Units units = unitsOf(io, inv);
    std::vector<std::pair<Record, const UnitRun*>> records;
    connectAll(units, records);
    exchangeAll(units, requestFrame(inv.command, inv.channel, inv.value));
    for (auto& u : units) {
        if (!u->connected)
            continue;
        Session::Exchange& ex = u->ex;
        if (inv.command == Command::Set && ex.record.ok())
            ex.record.error = setFault(ex.record, inv.channel, inv.value);
        u->code = exchangeCode(ex);
        if (ex.outcome == Link::Wait::Lost && ex.record.error.empty())
            ex.record.error = "connection lost: " + ex.problem;
        records.emplace_back(ex.record, u.get());
    }
    emitInOrder(out, records);
    out.flush();
    return exitAfterOutput(verdict(units));
}

namespace {

// Each line of a summary text led by the unit's name.
std::string named(const std::string& name, const std::string& text) {
    return leadLines(text, [&name](std::string_view) { return name + ": "; });
}

} // namespace

int runUnitsWatch(const Invocation& inv) {
    using Clock = std::chrono::steady_clock;
    // One trace for the line, one scope a unit.
    std::optional<Sink> vcdFile;
    std::optional<VcdWriter> vcd;
    std::vector<std::string> names;
    for (const Unit& unit : inv.units)
        names.push_back(unit.name);
    if (!inv.vcdFile.empty() && !openTrace(inv.vcdFile, vcdFile, vcd, names))
        return kExitUsage;
    Emitter out(inv.format, inv.header, standardOutput(), true);
    const WatchOutputs outputs{out, vcd ? &*vcd : nullptr, vcdFile ? &*vcdFile : nullptr};
    asio::io_context io;
    // Each unit keeps its own rhythm; all live until the loop is done with every one.
    std::vector<Invocation> invocations;
    for (const Unit& unit : inv.units)
        invocations.push_back(forUnit(inv, unit));
    std::vector<std::unique_ptr<ModuleWatch>> watches;
    for (std::size_t i = 0; i < invocations.size(); ++i)
        watches.push_back(
            std::make_unique<ModuleWatch>(invocations[i], io, outputs, inv.units[i].name, i));
    // Each unit's exit code in the line's order, as the verdict names them.
    std::vector<std::pair<std::string, int>> codes;
    for (const Unit& unit : inv.units)
        codes.emplace_back(unit.name, kExitOk);
    std::size_t ended = 0;
    for (std::size_t i = 0; i < watches.size(); ++i)
        asio::co_spawn(io, watches[i]->run(),
                       [&codes, &ended, i](std::exception_ptr failure, int code) {
                           if (failure)
                               std::rethrow_exception(failure);
                           codes[i].second = code;
                           ++ended;
                       });
    while (ended < watches.size())
        io.run_one();
    WatchStats whole;
    for (std::size_t i = 0; i < watches.size(); ++i) {
        const WatchStats& s = watches[i]->stats();
        const std::string& name = inv.units[i].name;
        if (codes[i].second == kExitConnect)
            continue; // said, and a record of why
        if (inv.format == Format::Json)
            out.text("{\"unit\":" +
                     nlohmann::json(name).dump(-1, ' ', false,
                                               nlohmann::json::error_handler_t::replace) +
                     "," + summaryJson(s).substr(1));
        else if (!inv.quiet)
            std::fputs(named(name, summaryText(s)).c_str(), stderr);
        for (auto [total, part] : {std::pair{&whole.slots, s.slots},
                                   {&whole.requests, s.requests},
                                   {&whole.replies, s.replies},
                                   {&whole.invalid, s.invalid},
                                   {&whole.timeouts, s.timeouts},
                                   {&whole.late, s.late},
                                   {&whole.skipped, s.skipped},
                                   {&whole.reconnects, s.reconnects},
                                   {&whole.outages, s.outages},
                                   {&whole.disconnected, s.disconnected}})
            *total += part;
        whole.rttMs.insert(whole.rttMs.end(), s.rttMs.begin(), s.rttMs.end());
        whole.sendingSeconds = std::max(whole.sendingSeconds, s.sendingSeconds);
        whole.rate = whole.rate.value_or(0.0) + achievedRate(s);
        whole.seconds = std::max(whole.seconds, s.seconds);
    }
    // The whole line's rate: every unit's requests a second, as asked of them all.
    if (inv.interval.count() > 0)
        whole.askedRate =
            1e6 / static_cast<double>(inv.interval.count()) * static_cast<double>(watches.size());
    if (inv.format == Format::Json)
        out.text("{\"unit\":null," + summaryJson(whole).substr(1));
    else if (!inv.quiet)
        std::fputs(
            named("all " + std::to_string(watches.size()) + " units", summaryText(whole)).c_str(),
            stderr);
    out.flush();
    const Sink* vcdSink = vcdFile ? &*vcdFile : nullptr;
    if (vcd) {
        vcd->finish(Clock::now().time_since_epoch());
        vcdFile->close();
    }
    return exitAfterOutput(unitsVerdict(codes).worst, {vcdSink});
}

int runExpect(const Invocation& inv) {
    const Step step = std::get<Step>(parseStepLine(inv.condition)); // checked by the parser
    Invocation all = inv;
    if (all.units.empty())
        all.units.push_back(Unit{{}, inv.host, inv.port, inv.vars});
    const bool named = inv.units.size() > 1;
    asio::io_context io;
    Units units = unitsOf(io, all);
    std::vector<std::pair<Record, const UnitRun*>> unreached;
    connectAll(units, unreached);
    std::vector<std::string> lines(units.size());
    for (std::size_t i = 0; i < units.size(); ++i)
        for (const auto& [record, unit] : unreached)
            if (unit == units[i].get())
                lines[i] = "fails: " + record.error;
    const std::string rule = step.field.name() + " " + std::string(compareText(step.op)) + " " +
                             std::to_string(step.expected);
    const SteadyTime start = std::chrono::steady_clock::now();
    const SteadyTime end = start + step.duration;
    std::vector<bool> done(units.size());
    for (std::size_t i = 0; i < units.size(); ++i)
        done[i] = !units[i]->connected;
    for (SteadyTime poll = start;; poll += inv.poll) {
        exchangeAll(units, requestFrame(Command::Status));
        bool more = false;
        for (std::size_t i = 0; i < units.size(); ++i) {
            if (done[i])
                continue;
            UnitRun& u = *units[i];
            const auto ms = std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(
                                               SteadyTime(u.ex.record.at) - start)
                                               .count());
            std::string seen = u.ex.record.error;
            if (u.ex.outcome == Link::Wait::Arrival) {
                const Value v = valueOf(step.field, u.ex.record);
                if (v.number && holds(*v.number, step.op, step.expected) &&
                    (!step.within || SteadyTime(u.ex.record.at) <= end)) {
                    done[i] = true;
                    u.code = kExitOk;
                    lines[i] = "holds: " + rule + (step.within ? " (" + ms + " ms)" : "");
                    continue;
                }
                seen = v.number && holds(*v.number, step.op, step.expected)
                           ? rule + " first seen after " + ms + " ms"
                           : step.field.name() + " was " + v.shown;
                u.code = kExitCheckFailed;
            } else {
                u.code = kExitLost;
            }
            if (u.ex.outcome != Link::Wait::Arrival || u.link.interrupted() ||
                std::chrono::steady_clock::now() >= end) {
                done[i] = true;
                lines[i] = "fails: " + seen + (step.within ? " after " + ms + " ms" : "");
                continue;
            }
            more = true;
        }
        if (!more || units.front()->link.interrupted())
            break;
        units.front()->link.sleepUntil(std::min(poll + inv.poll, end));
    }
    Sink& out = standardOutput();
    for (std::size_t i = 0; i < units.size(); ++i)
        if (!lines[i].empty())
            out.write((named ? units[i]->unit.name + "  " : "") + lines[i] + "\n");
    out.flush();
    if (!named)
        return exitAfterOutput(units.front()->code);
    return exitAfterOutput(verdict(units));
}

} // namespace vm::ctl
