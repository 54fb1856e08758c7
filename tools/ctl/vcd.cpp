#include "ctl/vcd.h"

#include <algorithm>
#include <bitset>

namespace vm::ctl {

namespace {

// Identifier codes: printable characters from '!' to '~', one for each of the first 94
// signals (a single unit's), more for the signals of many units.
std::string code(std::size_t signal) {
    std::string id(1, static_cast<char>('!' + signal % 94));
    for (signal /= 94; signal > 0; signal /= 94)
        id += static_cast<char>('!' + signal % 94);
    return id;
}

std::string bit(char c) {
    return c == '0' || c == '1' ? std::string(1, c) : "x";
}

std::string vector32(std::uint32_t value) {
    std::string bits = std::bitset<32>(value).to_string();
    const std::size_t first = bits.find('1');
    return "b" + (first == std::string::npos ? "0" : bits.substr(first)) + " ";
}

} // namespace

VcdWriter::VcdWriter(Sink& out, std::string date, const std::vector<std::string>& units)
    : out_(out)
    , last_(std::max<std::size_t>(units.size(), 1)) {
    std::string header = "$date " + date + " $end\n" + "$version vm3870ctl watch $end\n" +
                         "$timescale 1us $end\n" + "$scope module vm3870 $end\n";
    std::size_t signal = 0;
    const auto declare = [&](std::string_view kind, std::string_view name, int index) {
        header += "$var " + std::string(kind) + " " + code(signal++) + " " + std::string(name) +
                  std::to_string(index) + " $end\n";
    };
    for (std::size_t u = 0; u < last_.size(); ++u) {
        if (!units.empty()) {
            // A viewer takes dots as hierarchy and blanks end a name.
            std::string scope = units[u];
            for (char& c : scope)
                if (c == '.' || c == ':' || c == ' ' || c == '\t')
                    c = '_';
            header += "$scope module " + scope + " $end\n";
        }
        for (int i = 0; i < kInputs; ++i)
            declare("wire 1", "DI", i);
        for (int i = 0; i < kOutputs; ++i)
            declare("wire 1", "DO", i);
        for (int i = 0; i < kCounters; ++i)
            declare("integer 32", "counter", i);
        for (int i = 0; i < kCounters; ++i)
            declare("integer 32", "gap", i);
        if (!units.empty())
            header += "$upscope $end\n";
    }
    out_.write(header + "$upscope $end\n$enddefinitions $end\n");
    out_.flush();
}

void VcdWriter::finish(std::chrono::steady_clock::duration at) {
    if (!started_)
        return;
    const long long time =
        std::chrono::duration_cast<std::chrono::microseconds>(at - origin_).count();
    if (time > lastTime_) {
        out_.write("#" + std::to_string(time) + "\n");
        lastTime_ = time;
    }
}

void VcdWriter::write(const Record& record, std::size_t unit) {
    if (!record.ok()) // a reply that failed its checks tells nothing sure
        return;
    const Fields& f = *record.fields;
    std::array<std::string, kSignals> now;
    std::size_t signal = 0;
    for (const char c : f.inputs)
        now[signal++] = bit(c);
    for (const char c : f.outputs)
        now[signal++] = bit(c);
    for (const std::uint32_t counter : f.counters)
        now[signal++] = vector32(counter);
    for (std::size_t i = 0; i < kCounters; ++i)
        now[signal++] = f.gaps ? vector32((*f.gaps)[i]) : "bx ";

    change(now, record.at, unit);
}

VcdWriter::Values VcdWriter::unknownValues() {
    Values now;
    for (std::size_t i = 0; i < kSignals; ++i)
        now[i] = i < static_cast<std::size_t>(kInputs + kOutputs) ? "x" : "bx ";
    return now;
}

void VcdWriter::unknown(std::chrono::steady_clock::duration at, std::size_t unit) {
    change(unknownValues(), at, unit);
}

void VcdWriter::change(const Values& now, std::chrono::steady_clock::duration at,
                       std::size_t unit) {
    if (!started_)
        origin_ = at;
    const long long time =
        std::chrono::duration_cast<std::chrono::microseconds>(at - origin_).count();
    std::string changes;
    const auto put = [&](const Values& values, std::size_t u) {
        for (std::size_t i = 0; i < kSignals; ++i) {
            if (started_ && values[i] == last_[u][i])
                continue;
            changes += values[i];
            changes += code(u * kSignals + i);
            changes += '\n';
            last_[u][i] = values[i];
        }
    };
    if (!started_) // every signal has a first value; other units' are unknown until they report
        for (std::size_t u = 0; u < last_.size(); ++u)
            put(u == unit ? now : unknownValues(), u);
    else
        put(now, unit);
    if (!started_) {
        out_.write("#0\n$dumpvars\n" + changes + "$end\n");
        started_ = true;
        lastTime_ = 0;
        return;
    }
    if (changes.empty())
        return;
    // Time never goes backwards in a dump; records read at the same microsecond share it.
    if (time > lastTime_) {
        out_.write("#" + std::to_string(time) + "\n");
        lastTime_ = time;
    }
    out_.write(changes);
}

} // namespace vm::ctl
