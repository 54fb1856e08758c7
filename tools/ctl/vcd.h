#pragma once

#include "ctl/output.h"
#include "ctl/record.h"

#include <array>
#include <chrono>
#include <string>
#include <vector>

namespace vm::ctl {

// Writes status records as a Value Change Dump (IEEE 1364) with a 1 us time scale: DI0..DI5
// and DO0..DO1 as 1-bit signals (x for a character that is neither 0 nor 1), counter0..5 and
// gap0..5 as 32-bit values (x while the frames carry no gap times). Time 0 is the first
// record; a value is written only when it changes. Records that fail their checks change nothing.
// The header goes out at once, so that a watch killed early still leaves a dump that opens.
// With several units, each unit's signals are a scope of their own, named after the unit.
class VcdWriter {
public:
    VcdWriter(Sink& out, std::string date, const std::vector<std::string>& units = {});
    void write(const Record& record, std::size_t unit = 0);
    // Every signal x from `at` on, while the module is away; the next record sets them again.
    void unknown(std::chrono::steady_clock::duration at, std::size_t unit = 0);
    // A last time stamp at `at` (on the records' clock), so that a viewer shows the last
    // values lasting until the watch ended.
    void finish(std::chrono::steady_clock::duration at);

private:
    static constexpr std::size_t kSignals = kInputs + kOutputs + 2 * kCounters;
    using Values = std::array<std::string, kSignals>;
    void change(const Values& now, std::chrono::steady_clock::duration at, std::size_t unit);
    static Values unknownValues();
    Sink& out_;
    std::vector<Values> last_; // one set a unit
    bool started_ = false;
    std::chrono::steady_clock::duration origin_{};
    long long lastTime_ = -1;
};

} // namespace vm::ctl
