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

// The value of a field in a reply, or why it has none.
struct Value {
    std::optional<std::int64_t> number;
    std::string shown; // as the failure text shows it
};

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
    Runner(const Invocation& inv, ReportFile* junit)
        : inv_(inv)
        , junit_(junit) {}

    // Runs every step, the `finally` section whatever happened before it, then writes the
    // report; the exit code.
    int run(const Script& script, const std::string& name) {
        report_ = reportOf(inv_, name);
        tap(tapHeader(static_cast<int>(script.steps.size())));
        tap(tapProperties(inv_.vars));
        return finish(carryOutAll(script));
    }

private:
    void tap(const std::string& text) {
        report_.output += text;
        standardOutput().write(text);
        standardOutput().flush();
    }

    // A TAP comment line.
    void note(const std::string& text) { tap("# " + text + "\n"); }

    int carryOutAll(const Script& script) {
        const std::span<const Step> all(script.steps);
        std::string bailOut;
        bool connected = true;
        if (const auto problem = session_.reconnect(inv_.timeout)) {
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
            bailOut = steps(all.first(script.cleanupFrom), false);
        }
        const bool interrupted = link_.interrupted();
        if (script.cleanupFrom < all.size()) {
            link_.resume(); // the outputs are left safe after Ctrl+C too
            const std::string cleanupEnd = steps(all.subspan(script.cleanupFrom), true);
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
            return interrupted ? kExitLost : kExitConnect;
        if (noAnswer_ || interrupted || link_.interrupted() || done < all.size())
            return kExitLost;
        return failed_ ? kExitCheckFailed : kExitOk;
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
    std::string steps(std::span<const Step> steps, bool cleanup) {
        std::optional<std::string> unreachable; // why the `finally` steps have no connection
        for (const Step& step : steps) {
            if (link_.interrupted())
                return "interrupted";
            if (standardOutput().failed())
                return standardOutput().problem();
            const Clock::time_point start = Clock::now();
            StepResult result;
            if (!link_.isOpen() && needsLink(step) && !unreachable) {
                const std::string why = link_.lostReason();
                if (const auto problem = session_.reconnect(inv_.timeout)) {
                    noAnswer_ = true;
                    if (!cleanup)
                        return link_.interrupted()
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
                result = carryOut(step);
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
        return {};
    }

    // Sends a request and keeps its reply as the last one; nothing, or why it failed.
    std::optional<std::string> request(const std::vector<std::uint8_t>& frame) {
        lastSilent_ = false;
        fault_.clear();
        last_.reset();
        Session::Exchange ex = session_.exchange(frame);
        // A module may close a connection at any time; every request is harmless to repeat.
        if (ex.outcome == Link::Wait::Lost && !session_.reconnect(inv_.timeout)) {
            note("reconnected after the connection was lost (" + ex.problem +
                 "); the request sent again");
            ex = session_.exchange(frame);
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
                return recordError(*last_);
            }
            return std::nullopt;
        case Link::Wait::Deadline:
            noAnswer_ = lastSilent_ = true;
            fault_ = "timeout";
            return ex.record.error;
        case Link::Wait::Lost:
            noAnswer_ = lastSilent_ = true;
            fault_ = "lost";
            return "connection lost: " + ex.problem;
        case Link::Wait::Interrupted:
            break;
        }
        fault_ = "interrupted";
        return std::string("interrupted");
    }

    // A set step passes when its reply shows the output as set.
    std::optional<std::string> set(const Step& step) {
        std::optional<std::string> failure =
            request(requestFrame(Command::Set, step.channel, step.value));
        if (!failure && last_)
            if (std::string fault = setFault(*last_, step.channel, step.value); !fault.empty())
                failure = std::move(fault);
        return failure;
    }

    StepResult carryOut(const Step& step) {
        StepResult result;
        const auto outcome = [&result](std::optional<std::string> failure) {
            result.ok = !failure;
            result.detail = failure.value_or("");
            return result;
        };
        switch (step.kind) {
        case Step::Kind::Status:
            return outcome(request(requestFrame(Command::Status)));
        case Step::Kind::Set:
            return outcome(set(step));
        case Step::Kind::Reset:
            return outcome(request(requestFrame(Command::Reset, step.channel)));
        case Step::Kind::Wait:
            link_.sleepUntil(Clock::now() + step.duration);
            if (link_.interrupted())
                fault_ = "interrupted";
            return outcome(link_.interrupted() ? std::optional<std::string>("interrupted")
                                               : std::nullopt);
        case Step::Kind::Expect:
            break;
        }
        return expect(step);
    }

    StepResult expect(const Step& step) {
        StepResult result;
        const std::string name = step.field.name();
        const std::string rule =
            name + " " + std::string(compareText(step.op)) + " " + std::to_string(step.expected);
        if (!step.within) {
            if (!last_) {
                result.ok = false;
                result.detail = "no reply yet to check " + name + " in";
                return result;
            }
            const Value v = valueOf(step.field, *last_);
            result.ok = v.number && holds(*v.number, step.op, step.expected);
            if (!result.ok)
                result.detail = name + " was " + v.shown;
            return result;
        }
        const Clock::time_point start = Clock::now();
        const Clock::time_point end = start + step.duration;
        for (Clock::time_point poll = start;; poll += inv_.poll) {
            const std::optional<std::string> failure = request(requestFrame(Command::Status));
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
                        return result;
                    }
                    result.ok = false;
                    result.detail = rule + " first seen after " + seenMs + " ms, later than " +
                                    step.text.substr(step.text.rfind(' ') + 1);
                    return result;
                }
                seen = name + " was " + v.shown;
            }
            // A reply that is not a status frame is polled past; silence ends the step.
            if (lastSilent_ || link_.interrupted() || Clock::now() >= end) {
                result.ok = false;
                result.detail = seen + " after " + std::to_string(msSince(start)) + " ms";
                return result;
            }
            link_.sleepUntil(std::min(poll + inv_.poll, end));
        }
    }

    const Invocation& inv_;
    ReportFile* junit_;
    Link link_;
    Session session_{link_, inv_};
    std::optional<Record> last_;
    RunReport report_;
    bool failed_ = false;
    bool noAnswer_ = false;   // some request had no answer: the run ends with exit 4
    bool lastSilent_ = false; // the latest request had none
    std::string fault_;       // why the latest request failed: StepResult::type, or empty
};

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
    Runner runner(inv, junit ? &*junit : nullptr);
    return runner.run(std::get<Script>(parsed), name);
}

} // namespace vm::ctl
