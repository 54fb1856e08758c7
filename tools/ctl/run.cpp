// vm3870ctl run: a check script against the module, one TAP line per step.

#include "ctl/commands.h"
#include "ctl/output.h"
#include "ctl/report.h"
#include "ctl/script.h"
#include "ctl/textinput.h"

#include "protocol/decoder.h"

#include <cstdio>
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

class Runner {
public:
    explicit Runner(const Invocation& inv)
        : inv_(inv) {}

    // Runs every step, the `finally` section whatever happened before it; the exit code.
    int run(const Script& script, const std::string& name) {
        std::fputs(tapHeader(static_cast<int>(script.steps.size())).c_str(), stdout);
        std::fputs(tapProperties(inv_.vars).c_str(), stdout);
        const std::span<const Step> all(script.steps);
        std::string bailOut;
        const bool connected = connectOrSay(link_, inv_);
        if (!connected)
            bailOut = "cannot connect to " + inv_.host + ":" + std::to_string(inv_.port);
        else
            bailOut = steps(all.first(script.cleanupFrom), false);
        const bool interrupted = link_.interrupted();
        if (script.cleanupFrom < all.size()) {
            link_.resume(); // the outputs are left safe after Ctrl+C too
            const std::string cleanupEnd = steps(all.subspan(script.cleanupFrom), true);
            if (bailOut.empty())
                bailOut = cleanupEnd;
        }
        if (!bailOut.empty())
            std::printf("Bail out! %s\n", bailOut.c_str());
        std::fputs(verdictLine(results_, all.size(), inv_.vars, bailOut).c_str(), stdout);
        std::fflush(stdout);
        if (!inv_.junitFile.empty()) {
            std::ofstream junit(inv_.junitFile, std::ios::binary | std::ios::trunc);
            junit << junitXml(name, results_, isoTime(std::chrono::system_clock::now()), inv_.vars);
            if (!junit) {
                say("cannot write " + inv_.junitFile);
                return kExitUsage;
            }
        }
        if (!connected)
            return kExitConnect;
        if (noAnswer_ || interrupted || link_.interrupted() || results_.size() < all.size())
            return kExitLost;
        return failed_ ? kExitCheckFailed : kExitOk;
    }

private:
    static bool needsLink(const Step& step) { return step.kind != Step::Kind::Wait; }

    // Carries out steps in order, one TAP line each. The main steps stop at Ctrl+C or at a
    // connection that cannot be regained (the reason, for "Bail out!"); the `finally` steps
    // all run, each reported not ok when there is no connection for it.
    std::string steps(std::span<const Step> steps, bool cleanup) {
        std::optional<std::string> unreachable; // why the `finally` steps have no connection
        for (const Step& step : steps) {
            if (link_.interrupted())
                return "interrupted";
            const Clock::time_point start = Clock::now();
            StepResult result;
            if (!link_.isOpen() && needsLink(step) && !unreachable) {
                if (const auto problem = link_.connect(inv_.host, inv_.port, inv_.timeout)) {
                    noAnswer_ = true;
                    if (!cleanup)
                        return "connection lost and not regained: " + *problem;
                    unreachable = "not connected: " + *problem;
                }
            }
            if (unreachable && needsLink(step)) {
                result.ok = false;
                result.detail = *unreachable;
            } else {
                result = carryOut(step);
            }
            result.number = static_cast<int>(results_.size()) + 1;
            result.text = step.text;
            result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
            failed_ = failed_ || !result.ok;
            std::fputs(tapLine(result).c_str(), stdout);
            std::fflush(stdout);
            results_.push_back(std::move(result));
        }
        return {};
    }

    // Sends a request and keeps its reply as the last one; nothing, or why it failed.
    std::optional<std::string> request(const std::vector<std::uint8_t>& frame) {
        lastSilent_ = false;
        const Exchange ex = exchange(link_, frame, inv_.timeout);
        switch (ex.outcome) {
        case Link::Wait::Arrival:
            last_ = ex.records.back();
            if (!last_->fields)
                return "reply of " + std::to_string(last_->bytes.size()) +
                       " bytes is not a status frame";
            return std::nullopt;
        case Link::Wait::Deadline:
            noAnswer_ = lastSilent_ = true;
            return "no reply within " + std::to_string(inv_.timeout.count()) + " ms";
        case Link::Wait::Lost:
            noAnswer_ = lastSilent_ = true;
            return "connection lost: " + link_.lostReason();
        case Link::Wait::Interrupted:
            break;
        }
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
    Link link_;
    std::optional<Record> last_;
    std::vector<StepResult> results_;
    bool failed_ = false;
    bool noAnswer_ = false;   // some request had no answer: the run ends with exit 4
    bool lastSilent_ = false; // the latest request had none
};

} // namespace

int runScript(const Invocation& inv) {
    const bool fromStdin = inv.script == "-";
    const std::string name = fromStdin ? "stdin" : inv.script;
    const std::optional<std::string> bytes = readWhole(inv.script);
    if (!bytes) {
        say("cannot read " + name);
        return kExitUsage;
    }
    const auto parsed = parseScript(textAsUtf8(*bytes), name);
    if (const auto* error = std::get_if<ScriptError>(&parsed)) {
        for (const std::string& message : error->messages)
            std::fprintf(stderr, "%s\n", message.c_str());
        return kExitUsage;
    }
    // A report that cannot be written is said before anything is sent.
    if (!inv.junitFile.empty() && !std::ofstream(inv.junitFile, std::ios::app)) {
        say("cannot write " + inv.junitFile);
        return kExitUsage;
    }
    Runner runner(inv);
    return runner.run(std::get<Script>(parsed), name);
}

} // namespace vm::ctl
