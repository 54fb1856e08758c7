#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace vm::ctl {

using Micros = std::chrono::microseconds;

// A value of a status reply that a check script can test.
struct Field {
    enum class Kind { Input, Output, Counter, Gap, Checksum, Length };
    Kind kind = Kind::Length;
    int index = 0; // channel for inputs, outputs, counters and gap times
    std::string name() const;
};

enum class Compare { Equal, NotEqual, Less, LessOrEqual, Greater, GreaterOrEqual };
std::string_view compareText(Compare op);
bool holds(std::int64_t left, Compare op, std::int64_t right);

// One line of a check script.
struct Step {
    enum class Kind { Status, Set, Reset, Wait, Expect };
    Kind kind = Kind::Status;
    char channel = 0;    // set: '1', '2', 'A'; reset: '1'..'6', 'A'
    char value = 0;      // set: '0' or '1'
    Micros duration{0};  // wait: how long; expect: the `within` time
    bool within = false; // expect polls until it holds or `duration` is up
    Field field;
    Compare op = Compare::Equal;
    std::int64_t expected = 0;
    std::string text; // the step as written, without comment and outer blanks
    int line = 0;
};

// The steps in order; those from `cleanupFrom` on form the `finally` section, which runs
// whatever happened in the steps before it.
struct Script {
    std::vector<Step> steps;
    std::size_t cleanupFrom = 0;
};

// How many faults of a script are reported, at most.
inline constexpr std::size_t kMaxScriptErrors = 20;

// What is wrong with a script: "file:line: what is wrong" for each faulty line (the first
// kMaxScriptErrors, then how many more), or that it has no step at all.
struct ScriptError {
    std::vector<std::string> messages;
};

// One line: a step, or nothing for a blank or comment line, or what is wrong with it.
struct Blank {};
std::variant<Step, Blank, std::string> parseStepLine(std::string_view line);

// The whole script; every line is checked before anything is sent. Lines end with LF, CR LF
// or a lone CR. A line `finally` starts the section of steps that always run.
std::variant<Script, ScriptError> parseScript(std::string_view text, std::string_view fileName);

// "50ms", "1.5s": a non-negative number with the unit ms or s.
bool parseDuration(std::string_view text, Micros& out);

} // namespace vm::ctl
