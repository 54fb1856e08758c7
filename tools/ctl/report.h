#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vm::ctl {

class Sink;

// The outcome of one script step, as TAP and JUnit report it.
struct StepResult {
    int number = 0;
    std::string text; // the step as written
    bool ok = true;
    std::string detail; // ok: what was measured ("12 ms"), or empty; not ok: why
    double seconds = 0; // how long the step took
    // Not ok: the kind of fault, the `type` of its JUnit element ("check", "reply", "timeout",
    // "lost", "interrupted").
    std::string type = "check";
    // Not ok because the step could not be judged (no reply, a lost connection, an interrupt)
    // rather than because the module answered wrongly: a JUnit error, not a failure.
    bool error = false;
};

// "TAP version 13" and the plan line.
std::string tapHeader(int steps);
// "ok 3 - expect DI0 == 1 within 50ms (12 ms)" or "not ok 3 - ... # DI0 was 0 after 50 ms".
std::string tapLine(const StepResult& result);

// Names and values that label a run (`--var serial=A123`), in the order given.
using Properties = std::vector<std::pair<std::string, std::string>>;

// One TAP comment per property, "# serial=A123", to follow the plan line.
std::string tapProperties(const Properties& properties);

// The last line of a run, a TAP comment: "# PASS serial=A123: 9 of 9 steps ok", "# FAIL
// serial=A123: 2 of 9 steps not ok (3, 7)", or with `bailOut` the reason the run stopped.
std::string verdictLine(const std::vector<StepResult>& results, std::size_t planned,
                        const Properties& properties, std::string_view bailOut);

// What a JUnit report of a run holds.
struct RunReport {
    std::string suite;     // the script's name
    std::string timestamp; // when the run started (see junitTimestamp)
    std::string hostname;
    // host, port, version, then the run's NAME=VALUE pairs
    std::vector<std::pair<std::string, std::string>> properties;
    std::vector<StepResult> results;
    // Why the run ended before its last step, when it did.
    std::optional<std::string> bailOut;
    std::string output; // the TAP printed, as the report's system-out
};

// JUnit XML as CI servers read it (the Ant-style schema): one testsuite named after the
// script with its start, host name and properties, one testcase per step with its time, a
// failure (a wrong answer) or an error (no answer) for each step that did not pass, and a
// last testcase in error when the run bailed out.
std::string junitXml(const RunReport& report);
// Several units' runs: one testsuite each (named after its unit) inside one testsuites element.
std::string junitXml(const std::vector<RunReport>& reports);

// The local time without zone, to the second, as the schema wants it: 2026-12-07T10:00:04.
std::string junitTimestamp(std::chrono::system_clock::time_point time);
// This machine's name, or "localhost" when it has none.
std::string hostName();

// The text with &, <, >, " and ' as XML character references, and control characters that
// XML 1.0 cannot hold replaced by U+FFFD.
std::string xmlEscaped(std::string_view text);

// A report file that is written whole or not at all: the text goes to a temporary file in
// the target's folder, which replaces the target once it is complete. Opening removes a
// report left by an earlier run, so that its verdict is never taken for this run's, even
// when this one is killed.
class ReportFile {
public:
    explicit ReportFile(std::string target);
    ~ReportFile();
    ReportFile(const ReportFile&) = delete;
    ReportFile& operator=(const ReportFile&) = delete;

    // Whether the temporary file could be made; problem() says why not.
    bool ready() const;
    // Writes, closes and renames; false when any of it failed (problem() says why), and the
    // temporary file is gone either way.
    bool commit(std::string_view text);
    const std::string& problem() const { return problem_; }

private:
    std::string target_;
    std::string temporary_;
    std::unique_ptr<Sink> sink_;
    std::string problem_;
};

} // namespace vm::ctl
