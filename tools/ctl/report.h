#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vm::ctl {

// The outcome of one script step, as TAP and JUnit report it.
struct StepResult {
    int number = 0;
    std::string text; // the step as written
    bool ok = true;
    std::string detail; // ok: what was measured ("12 ms"), or empty; not ok: why
    double seconds = 0; // how long the step took
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

// JUnit XML: one testsuite named after the script, with the properties, one testcase per
// step with its time, a failure element for each step that did not pass.
std::string junitXml(std::string_view suite, const std::vector<StepResult>& results,
                     std::string_view timestamp, const Properties& properties = {});

// The text with &, <, >, " and ' as XML character references, and control characters that
// XML 1.0 cannot hold replaced by U+FFFD.
std::string xmlEscaped(std::string_view text);

} // namespace vm::ctl
