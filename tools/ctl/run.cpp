// vm3870ctl run: a check script against the module, one TAP line per step.

#include "ctl/commands.h"
#include "ctl/output.h"
#include "ctl/report.h"
#include "ctl/script.h"

#include "protocol/decoder.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

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
    if (!r.fields)
        return {std::nullopt, "no value (the reply was " + std::to_string(r.bytes.size()) +
                                  " bytes, not a status frame)"};
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
RunReport reportOf(const Invocation& inv) {
    RunReport report;
    report.suite = inv.script;
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

    // Runs every step, then writes the report; the exit code.
    int run(const Script& script) {
        report_ = reportOf(inv_);
        tap(tapHeader(static_cast<int>(script.steps.size())));
        return finish(carryOutAll(script));
    }

private:
    void tap(const std::string& text) {
        report_.output += text;
        standardOutput().write(text);
        standardOutput().flush();
    }

    void bailOut(const std::string& reason) {
        report_.bailOut = reason;
        tap("Bail out! " + reason + "\n");
    }

    int carryOutAll(const Script& script) {
        if (const auto problem = link_.connect(inv_.host, inv_.port, inv_.timeout)) {
            if (link_.interrupted()) {
                bailOut("interrupted");
                return kExitLost;
            }
            say("cannot connect to " + inv_.host + ":" + std::to_string(inv_.port) + ": " +
                *problem);
            bailOut("cannot connect to " + inv_.host + ":" + std::to_string(inv_.port) + ": " +
                    *problem);
            return kExitConnect;
        }
        for (const Step& step : script.steps) {
            if (link_.interrupted() || standardOutput().failed())
                break;
            if (!link_.isOpen() && needsLink(step)) {
                if (const auto problem = link_.connect(inv_.host, inv_.port, inv_.timeout)) {
                    noAnswer_ = true;
                    if (!link_.interrupted())
                        bailOut("connection lost and not regained: " + *problem);
                    break;
                }
            }
            const Clock::time_point start = Clock::now();
            fault_.clear();
            StepResult result = carryOut(step);
            if (!result.ok && !fault_.empty()) {
                result.type = fault_;
                result.error = fault_ != "reply"; // no answer to judge
            }
            result.number = static_cast<int>(report_.results.size()) + 1;
            result.text = step.text;
            result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
            failed_ = failed_ || !result.ok;
            tap(tapLine(result));
            report_.results.push_back(std::move(result));
        }
        const std::size_t done = report_.results.size();
        if (standardOutput().failed()) {
            report_.bailOut = standardOutput().problem(); // why the TAP stops short
        } else if (link_.interrupted()) {
            std::string reason = "interrupted";
            if (done < script.steps.size())
                reason += done + 1 == script.steps.size()
                              ? "; step " + std::to_string(done + 1) + " not run"
                              : "; steps " + std::to_string(done + 1) + " to " +
                                    std::to_string(script.steps.size()) + " not run";
            bailOut(reason);
        }
        if (noAnswer_ || link_.interrupted() || done < script.steps.size())
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

private:
    static bool needsLink(const Step& step) { return step.kind != Step::Kind::Wait; }

    // Sends a request and keeps its reply as the last one; nothing, or why it failed.
    std::optional<std::string> request(const std::vector<std::uint8_t>& frame) {
        lastSilent_ = false;
        fault_.clear();
        const Exchange ex = exchange(link_, frame, inv_.timeout);
        switch (ex.outcome) {
        case Link::Wait::Arrival:
            last_ = ex.records.back();
            if (!last_->fields) {
                fault_ = "reply";
                return "reply of " + counted(last_->bytes.size(), "byte") +
                       " is not a status frame";
            }
            return std::nullopt;
        case Link::Wait::Deadline:
            noAnswer_ = lastSilent_ = true;
            fault_ = "timeout";
            return "no reply within " + std::to_string(inv_.timeout.count()) + " ms";
        case Link::Wait::Lost:
            noAnswer_ = lastSilent_ = true;
            fault_ = "lost";
            return "connection lost: " + link_.lostReason();
        case Link::Wait::Interrupted:
            break;
        }
        fault_ = "interrupted";
        return std::string("interrupted");
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
            return outcome(request(requestFrame(Command::Set, step.channel, step.value)));
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
                if (v.number && holds(*v.number, step.op, step.expected)) {
                    result.detail = std::to_string(msSince(start)) + " ms";
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
    std::optional<Record> last_;
    RunReport report_;
    bool failed_ = false;
    bool noAnswer_ = false;   // some request had no answer: the run ends with exit 4
    bool lastSilent_ = false; // the latest request had none
    std::string fault_;       // why the latest request failed: StepResult::type, or empty
};

} // namespace

int runScript(const Invocation& inv) {
    // A report that cannot be written, or one that would overwrite the script, is said
    // before anything is sent.
    std::optional<ReportFile> junit;
    if (!inv.junitFile.empty()) {
        std::error_code ignored;
        if (std::filesystem::equivalent(inv.script, inv.junitFile, ignored)) {
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
            RunReport report = reportOf(inv);
            report.bailOut = reason;
            if (!junit->commit(junitXml(report)))
                say(junit->problem());
        }
        return kExitUsage;
    };
    std::ifstream file(inv.script, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    if (!file) {
        say("cannot read " + inv.script);
        return refused("cannot read " + inv.script);
    }
    const auto parsed = parseScript(text.str(), inv.script);
    if (const auto* error = std::get_if<ScriptError>(&parsed)) {
        std::fprintf(stderr, "%s\n", error->message.c_str());
        return refused(error->message);
    }
    Runner runner(inv, junit ? &*junit : nullptr);
    return runner.run(std::get<Script>(parsed));
}

} // namespace vm::ctl
