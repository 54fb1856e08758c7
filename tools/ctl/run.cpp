// vm3870ctl run: a check script against the module, one TAP line per step.

#include "ctl/commands.h"
#include "ctl/native.h"
#include "ctl/output.h"
#include "ctl/report.h"
#include "ctl/script.h"
#include "ctl/textinput.h"

#include "protocol/decoder.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <span>

namespace vm::ctl {

namespace {

using Clock = std::chrono::steady_clock;

long long msSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

} // namespace

Value valueOf(const Field& field, const Record& r) {
    if (field.kind == Field::Kind::Length)
        return {static_cast<std::int64_t>(r.bytes.size()), std::to_string(r.bytes.size())};
    if (!r.ok())
        return {std::nullopt, "no value (" + recordError(r) + ")"};
    const Fields& f = *r.fields;
    const auto digit = [](char c) -> Value {
        const std::string shown = vm::statusCharText(static_cast<std::uint8_t>(c));
        if (c == '0' || c == '1')
            return {c - '0', shown};
        return {std::nullopt, "\"" + shown + "\""};
    };
    const auto i = static_cast<std::size_t>(field.index);
    switch (field.kind) {
    case Field::Kind::Input:
        return digit(f.inputs[i]);
    case Field::Kind::Output:
        return digit(f.outputs[i]);
    case Field::Kind::Counter:
        return {f.counters[i], std::to_string(f.counters[i])};
    case Field::Kind::Gap:
        if (!f.gaps)
            return {std::nullopt, "absent (" + std::to_string(r.bytes.size()) + "-byte frames)"};
        return {(*f.gaps)[i], std::to_string((*f.gaps)[i])};
    case Field::Kind::Checksum:
        if (!f.checksum)
            return {std::nullopt, "absent (" + std::to_string(r.bytes.size()) + "-byte frames)"};
        return {*f.checksum, std::to_string(*f.checksum)};
    case Field::Kind::Length:
        break;
    }
    return {};
}

namespace {

// A report of the run, yet without steps.
RunReport reportOf(const Invocation& inv, const std::string& name) {
    RunReport report;
    report.suite = name;
    report.timestamp = junitTimestamp(std::chrono::system_clock::now());
    report.hostname = hostName();
    report.properties = {
        {"host", inv.host}, {"port", std::to_string(inv.port)}, {"version", kVersion}};
    report.properties.insert(report.properties.end(), inv.vars.begin(), inv.vars.end());
    return report;
}

class Runner {
public:
    // `subtest`: one unit of several, its TAP indented as a subtest's, without the version
    // line, and kept until the unit has ended (see subtest()). Its waits run on `io`.
    Runner(const Invocation& inv, ReportFile* junit, asio::io_context& io, bool subtest = false)
        : inv_(inv)
        , junit_(junit)
        , subtest_(subtest)
        , link_(io) {}

    // Runs every step, the `finally` section whatever happened before it, then writes the
    // report; the exit code.
    asio::awaitable<int> run(const Script& script, const std::string& name) {
        report_ = reportOf(inv_, name);
        const std::string header = tapHeader(static_cast<int>(script.steps.size()));
        tap(subtest_ ? header.substr(header.find('\n') + 1) : header);
        tap(tapProperties(inv_.vars));
        co_return finish(co_await carryOutAll(script));
    }
    // The same, the event loop run until it has ended.
    int runToEnd(const Script& script, const std::string& name) {
        return link_.drive(run(script, name));
    }

    RunReport& report() { return report_; }
    // A unit's TAP, indented.
    const std::string& subtest() const { return subtestText_; }

private:
    void tap(const std::string& text) {
        report_.output += text;
        if (subtest_) {
            // A unit that bails out ends its own subtest, not the whole stream: its
            // "Bail out!" is a comment there.
            subtestText_ += leadLines(text, [](std::string_view line) {
                return std::string(line.starts_with("Bail out!") ? "    # " : "    ");
            });
            return;
        }
        standardOutput().write(text);
        standardOutput().flush();
    }

    // A TAP comment line.
    void note(const std::string& text) { tap("# " + text + "\n"); }

    asio::awaitable<int> carryOutAll(const Script& script) {
        const std::span<const Step> all(script.steps);
        std::string bailOut;
        bool connected = true;
        if (const auto problem = co_await session_.asyncReconnect(inv_.timeout)) {
            connected = false;
            if (link_.interrupted()) {
                bailOut = "interrupted";
            } else {
                const std::string why = "cannot connect to " + inv_.host + ":" +
                                        std::to_string(inv_.port) + ": " + *problem;
                say(why);
                bailOut = why;
            }
        } else {
            bailOut = co_await steps(all.first(script.cleanupFrom), false);
        }
        const bool interrupted = link_.interrupted();
        if (script.cleanupFrom < all.size()) {
            link_.resume(); // the outputs are left safe after Ctrl+C too
            const std::string cleanupEnd = co_await steps(all.subspan(script.cleanupFrom), true);
            if (bailOut.empty())
                bailOut = cleanupEnd;
        }
        if (session_.late() > 0)
            note(lateText(session_.late()) + " in all, each dropped, none taken as an answer");
        const std::size_t done = report_.results.size();
        if (bailOut == "interrupted" && done < all.size())
            bailOut += done + 1 == all.size() ? "; step " + std::to_string(done + 1) + " not run"
                                              : "; steps " + std::to_string(done + 1) + " to " +
                                                    std::to_string(all.size()) + " not run";
        if (!bailOut.empty()) {
            report_.bailOut = bailOut;
            tap("Bail out! " + bailOut + "\n");
        }
        tap(verdictLine(report_.results, all.size(), inv_.vars, bailOut));
        if (!connected)
            co_return interrupted ? kExitLost : kExitConnect;
        if (noAnswer_ || interrupted || link_.interrupted() || done < all.size())
            co_return kExitLost;
        co_return failed_ ? kExitCheckFailed : kExitOk;
    }

    // The report on every ending; a report that could not be written outweighs the rest.
    int finish(int code) {
        if (junit_ && !junit_->commit(junitXml(report_))) {
            say(junit_->problem());
            return exitAfterOutput(kExitWrite);
        }
        return exitAfterOutput(code);
    }

    static bool needsLink(const Step& step) { return step.kind != Step::Kind::Wait; }

    // Carries out steps in order, one TAP line each. The main steps stop at Ctrl+C, at an
    // output that cannot be written, or at a connection that cannot be regained (the reason,
    // for "Bail out!"); the `finally` steps all run, each reported not ok when there is no
    // connection for it.
    asio::awaitable<std::string> steps(std::span<const Step> steps, bool cleanup) {
        std::optional<std::string> unreachable; // why the `finally` steps have no connection
        for (const Step& step : steps) {
            if (link_.interrupted())
                co_return "interrupted";
            if (standardOutput().failed())
                co_return standardOutput().problem();
            const Clock::time_point start = Clock::now();
            StepResult result;
            if (!link_.isOpen() && needsLink(step) && !unreachable) {
                const std::string why = link_.lostReason();
                if (const auto problem = co_await session_.asyncReconnect(inv_.timeout)) {
                    noAnswer_ = true;
                    if (!cleanup)
                        co_return link_.interrupted()
                            ? "interrupted"
                            : "connection lost and not regained: " + *problem;
                    unreachable = "not connected: " + *problem;
                } else {
                    note("reconnected after the connection was lost (" + why + ")");
                }
            }
            fault_.clear();
            if (unreachable && needsLink(step)) {
                result.ok = false;
                result.detail = *unreachable;
                result.type = "lost";
                result.error = true;
            } else {
                result = co_await carryOut(step);
                if (!result.ok && !fault_.empty()) {
                    result.type = fault_;
                    result.error = fault_ != "reply"; // no answer to judge
                }
            }
            result.number = static_cast<int>(report_.results.size()) + 1;
            result.text = step.text;
            result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
            failed_ = failed_ || !result.ok;
            tap(tapLine(result));
            report_.results.push_back(std::move(result));
        }
        co_return std::string();
    }

    // Sends a request and keeps its reply as the last one; nothing, or why it failed.
    asio::awaitable<std::optional<std::string>> request(std::vector<std::uint8_t> frame) {
        lastSilent_ = false;
        fault_.clear();
        last_.reset();
        Session::Exchange ex = co_await session_.asyncExchange(frame);
        // A module may close a connection at any time; every request is harmless to repeat.
        std::optional<std::string> notRegained;
        if (ex.outcome == Link::Wait::Lost)
            notRegained = co_await session_.asyncReconnect(inv_.timeout);
        if (ex.outcome == Link::Wait::Lost && !notRegained) {
            note("reconnected after the connection was lost (" + ex.problem +
                 "); the request sent again");
            ex = co_await session_.asyncExchange(frame);
        }
        if (ex.reopened)
            note("reconnected: the request before had no whole reply, and a late one must not "
                 "answer this one");
        if (ex.record.late > 0)
            note(lateText(ex.record.late) + " dropped, answering no waiting request");
        switch (ex.outcome) {
        case Link::Wait::Arrival:
            last_ = ex.record;
            if (!last_->ok()) {
                fault_ = "reply";
                co_return recordError(*last_);
            }
            co_return std::nullopt;
        case Link::Wait::Deadline:
            noAnswer_ = lastSilent_ = true;
            fault_ = "timeout";
            co_return ex.record.error;
        case Link::Wait::Lost:
            noAnswer_ = lastSilent_ = true;
            fault_ = "lost";
            co_return "connection lost: " + ex.problem;
        case Link::Wait::Interrupted:
            break;
        }
        fault_ = "interrupted";
        co_return std::string("interrupted");
    }

    // A set step passes when its reply shows the output as set.
    asio::awaitable<std::optional<std::string>> set(const Step& step) {
        std::optional<std::string> failure =
            co_await request(requestFrame(Command::Set, step.channel, step.value));
        if (!failure && last_)
            if (std::string fault = setFault(*last_, step.channel, step.value); !fault.empty())
                failure = std::move(fault);
        co_return failure;
    }

    asio::awaitable<StepResult> carryOut(const Step& step) {
        StepResult result;
        const auto outcome = [&result](std::optional<std::string> failure) {
            result.ok = !failure;
            result.detail = failure.value_or("");
            return result;
        };
        switch (step.kind) {
        case Step::Kind::Status:
            co_return outcome(co_await request(requestFrame(Command::Status)));
        case Step::Kind::Set:
            co_return outcome(co_await set(step));
        case Step::Kind::Reset:
            co_return outcome(co_await request(requestFrame(Command::Reset, step.channel)));
        case Step::Kind::Wait:
            co_await link_.asyncSleepUntil(Clock::now() + step.duration);
            if (link_.interrupted())
                fault_ = "interrupted";
            co_return outcome(link_.interrupted() ? std::optional<std::string>("interrupted")
                                                  : std::nullopt);
        case Step::Kind::Expect:
            break;
        }
        co_return co_await expect(step);
    }

    asio::awaitable<StepResult> expect(const Step& step) {
        StepResult result;
        const std::string name = step.field.name();
        const std::string rule =
            name + " " + std::string(compareText(step.op)) + " " + std::to_string(step.expected);
        if (!step.within) {
            if (!last_) {
                result.ok = false;
                result.detail = "no reply yet to check " + name + " in";
                co_return result;
            }
            const Value v = valueOf(step.field, *last_);
            result.ok = v.number && holds(*v.number, step.op, step.expected);
            if (!result.ok)
                result.detail = name + " was " + v.shown;
            co_return result;
        }
        const Clock::time_point start = Clock::now();
        const Clock::time_point end = start + step.duration;
        for (Clock::time_point poll = start;; poll += inv_.poll) {
            const std::optional<std::string> failure =
                co_await request(requestFrame(Command::Status));
            std::string seen = failure.value_or("");
            if (!failure) {
                const Value v = valueOf(step.field, *last_);
                // A reply counts when it was read, not when it was looked at.
                const auto seenAt = Clock::time_point(last_->at);
                const auto seenMs = std::to_string(
                    std::chrono::duration_cast<std::chrono::milliseconds>(seenAt - start).count());
                if (v.number && holds(*v.number, step.op, step.expected)) {
                    if (seenAt <= end) {
                        result.detail = seenMs + " ms";
                        co_return result;
                    }
                    result.ok = false;
                    result.detail = rule + " first seen after " + seenMs + " ms, later than " +
                                    step.text.substr(step.text.rfind(' ') + 1);
                    co_return result;
                }
                seen = name + " was " + v.shown;
            }
            // A reply that is not a status frame is polled past; silence ends the step.
            if (lastSilent_ || link_.interrupted() || Clock::now() >= end) {
                result.ok = false;
                result.detail = seen + " after " + std::to_string(msSince(start)) + " ms";
                co_return result;
            }
            co_await link_.asyncSleepUntil(std::min(poll + inv_.poll, end));
        }
    }

    const Invocation& inv_;
    ReportFile* junit_;
    const bool subtest_;
    std::string subtestText_;
    Link link_;
    Session session_{link_, inv_};
    std::optional<Record> last_;
    RunReport report_;
    bool failed_ = false;
    bool noAnswer_ = false;   // some request had no answer: the run ends with exit 4
    bool lastSilent_ = false; // the latest request had none
    std::string fault_;       // why the latest request failed: StepResult::type, or empty
};

// The script on every unit at once, on one event loop, each a TAP subtest and a JUnit
// testsuite of its own; a last line names the units that failed. A unit's subtest is written
// whole once it has ended and every unit before it in the list has been written, so that the
// report reads in the units' order, the same on every run. The exit code is the worst of the
// units'.
int runUnits(const Invocation& inv, const Script& script, const std::string& name,
             ReportFile* junit) {
    Sink& out = standardOutput();
    out.write("TAP version 13\n1.." + std::to_string(inv.units.size()) + "\n");
    out.flush();
    asio::io_context io;
    std::vector<Invocation> invocations;
    for (const Unit& unit : inv.units)
        invocations.push_back(forUnit(inv, unit));
    // Every runner lives until the loop is done with all of them.
    std::vector<std::unique_ptr<Runner>> runners;
    for (const Invocation& one : invocations)
        runners.push_back(std::make_unique<Runner>(one, nullptr, io, true));
    std::vector<std::optional<int>> ended(runners.size());
    std::vector<std::pair<std::string, int>> codes;
    const auto writeEnded = [&] {
        for (std::size_t i = codes.size(); i < runners.size() && ended[i]; i = codes.size()) {
            const std::string& unit = inv.units[i].name;
            codes.emplace_back(unit, *ended[i]);
            out.write("# Subtest: " + unit + "\n" + runners[i]->subtest() +
                      (*ended[i] == kExitOk ? "ok " : "not ok ") + std::to_string(i + 1) + " - " +
                      unit + "\n");
            out.flush();
        }
    };
    for (std::size_t i = 0; i < runners.size(); ++i)
        asio::co_spawn(io, runners[i]->run(script, name),
                       [&, i](std::exception_ptr failure, int code) {
                           if (failure)
                               std::rethrow_exception(failure);
                           ended[i] = code;
                           writeEnded();
                       });
    while (codes.size() < runners.size())
        io.run_one();
    std::vector<RunReport> reports;
    for (std::size_t i = 0; i < runners.size(); ++i) {
        reports.push_back(std::move(runners[i]->report()));
        reports.back().suite = inv.units[i].name;
    }
    const UnitsVerdict v = unitsVerdict(codes);
    const std::string all = std::to_string(codes.size());
    out.write(v.failed == 0 ? "# PASS " + all + " of " + all + " units\n"
                            : "# FAIL " + std::to_string(v.failed) + " of " + all +
                                  " units: " + v.names + "\n");
    if (junit && !junit->commit(junitXml(reports))) {
        say(junit->problem());
        return exitAfterOutput(kExitWrite);
    }
    return exitAfterOutput(v.worst);
}

} // namespace

int runScript(const Invocation& inv) {
    const bool fromStdin = inv.script == "-";
    const std::string name = fromStdin ? "stdin" : inv.script;
    // A report that cannot be written, or one that would overwrite the script, is said
    // before anything is sent.
    std::optional<ReportFile> junit;
    if (!inv.junitFile.empty()) {
        std::error_code ignored;
        if (!fromStdin &&
            std::filesystem::equivalent(pathOf(inv.script), pathOf(inv.junitFile), ignored)) {
            say("--junit " + inv.junitFile + " is the script itself; give another file");
            return kExitUsage;
        }
        junit.emplace(inv.junitFile);
        if (!junit->ready()) {
            say(junit->problem());
            return kExitUsage;
        }
    }
    // A script that cannot run is said, and is the report's verdict too: a CI server must not
    // find an earlier unit's report, nor none.
    const auto refused = [&](const std::string& reason) {
        if (junit) {
            RunReport report = reportOf(inv, name);
            report.bailOut = reason;
            if (!junit->commit(junitXml(report)))
                say(junit->problem());
        }
        return kExitUsage;
    };
    const std::optional<std::string> bytes = readWhole(inv.script);
    if (!bytes) {
        say("cannot read " + name);
        return refused("cannot read " + name);
    }
    const auto parsed = parseScript(textAsUtf8(*bytes), name);
    if (const auto* error = std::get_if<ScriptError>(&parsed)) {
        std::string all;
        for (const std::string& message : error->messages) {
            std::fprintf(stderr, "%s\n", message.c_str());
            all += (all.empty() ? "" : "\n") + message;
        }
        return refused(all);
    }
    const Script& script = std::get<Script>(parsed);
    if (inv.units.empty()) {
        asio::io_context io;
        Runner runner(inv, junit ? &*junit : nullptr, io);
        return runner.runToEnd(script, name);
    }
    return runUnits(inv, script, name, junit ? &*junit : nullptr);
}

} // namespace vm::ctl
