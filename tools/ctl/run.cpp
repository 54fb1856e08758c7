// vm3870ctl run: a check script against the module, one TAP line per step.

#include "ctl/commands.h"
#include "ctl/output.h"
#include "ctl/report.h"
#include "ctl/script.h"

#include "protocol/decoder.h"

#include <cstdio>
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

class Runner {
public:
    explicit Runner(const Invocation& inv)
        : inv_(inv) {}

    // Runs every step; the exit code.
    int run(const Script& script, const std::string& name) {
        std::fputs(tapHeader(static_cast<int>(script.steps.size())).c_str(), stdout);
        if (!session_.connect()) {
            std::printf("Bail out! cannot connect to %s:%u\n", inv_.host.c_str(), inv_.port);
            return kExitConnect;
        }
        for (const Step& step : script.steps) {
            if (link_.interrupted())
                break;
            if (!link_.isOpen() && needsLink(step)) {
                const std::string why = link_.lostReason();
                if (const auto problem = session_.reconnect(inv_.timeout)) {
                    std::printf("Bail out! connection lost and not regained: %s\n",
                                problem->c_str());
                    noAnswer_ = true;
                    break;
                }
                note("reconnected after the connection was lost (" + why + ")");
            }
            const Clock::time_point start = Clock::now();
            StepResult result = carryOut(step);
            result.number = static_cast<int>(results_.size()) + 1;
            result.text = step.text;
            result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
            failed_ = failed_ || !result.ok;
            std::fputs(tapLine(result).c_str(), stdout);
            std::fflush(stdout);
            results_.push_back(std::move(result));
        }
        if (session_.late() > 0)
            note(lateText(session_.late()) + " in all, each dropped, none taken as an answer");
        if (!inv_.junitFile.empty()) {
            std::ofstream junit(inv_.junitFile, std::ios::binary | std::ios::trunc);
            junit << junitXml(name, results_, isoTime(std::chrono::system_clock::now()));
            if (!junit) {
                say("cannot write " + inv_.junitFile);
                return kExitUsage;
            }
        }
        if (noAnswer_ || link_.interrupted() || results_.size() < script.steps.size())
            return kExitLost;
        return failed_ ? kExitCheckFailed : kExitOk;
    }

private:
    static bool needsLink(const Step& step) { return step.kind != Step::Kind::Wait; }

    // A TAP comment line.
    static void note(const std::string& text) {
        std::printf("# %s\n", text.c_str());
        std::fflush(stdout);
    }

    // Sends a request and keeps its reply as the last one; nothing, or why it failed.
    std::optional<std::string> request(const std::vector<std::uint8_t>& frame) {
        lastSilent_ = false;
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
            if (!last_->ok())
                return recordError(*last_);
            return std::nullopt;
        case Link::Wait::Deadline:
            noAnswer_ = lastSilent_ = true;
            return ex.record.error;
        case Link::Wait::Lost:
            noAnswer_ = lastSilent_ = true;
            return "connection lost: " + ex.problem;
        case Link::Wait::Interrupted:
            break;
        }
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
    Link link_;
    Session session_{link_, inv_};
    std::optional<Record> last_;
    std::vector<StepResult> results_;
    bool failed_ = false;
    bool noAnswer_ = false;   // some request had no answer: the run ends with exit 4
    bool lastSilent_ = false; // the latest request had none
};

} // namespace

int runScript(const Invocation& inv) {
    std::ifstream file(inv.script, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    if (!file) {
        say("cannot read " + inv.script);
        return kExitUsage;
    }
    const auto parsed = parseScript(text.str(), inv.script);
    if (const auto* error = std::get_if<ScriptError>(&parsed)) {
        std::fprintf(stderr, "%s\n", error->message.c_str());
        return kExitUsage;
    }
    // A report that cannot be written is said before anything is sent.
    if (!inv.junitFile.empty() && !std::ofstream(inv.junitFile, std::ios::app)) {
        say("cannot write " + inv.junitFile);
        return kExitUsage;
    }
    Runner runner(inv);
    return runner.run(std::get<Script>(parsed), inv.script);
}

} // namespace vm::ctl
