#include "ctl/vcd.h"

#include <bitset>

namespace vm::ctl {

namespace {

// Identifier codes: one printable character each, from '!' on.
char code(std::size_t signal) {
    return static_cast<char>('!' + signal);
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

VcdWriter::VcdWriter(Sink& out, std::string date)
    : out_(out) {
    std::string header = "$date " + date + " $end\n" + "$version vm3870ctl watch $end\n" +
                         "$timescale 1us $end\n" + "$scope module vm3870 $end\n";
    std::size_t signal = 0;
    const auto declare = [&](std::string_view kind, std::string_view name, int index) {
        header += "$var " + std::string(kind) + " " + code(signal++) + " " + std::string(name) +
                  std::to_string(index) + " $end\n";
    };
    for (int i = 0; i < kInputs; ++i)
        declare("wire 1", "DI", i);
    for (int i = 0; i < kOutputs; ++i)
        declare("wire 1", "DO", i);
    for (int i = 0; i < kCounters; ++i)
        declare("integer 32", "counter", i);
    for (int i = 0; i < kCounters; ++i)
        declare("integer 32", "gap", i);
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

void VcdWriter::write(const Record& record) {
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

    change(now, record.at);
}

void VcdWriter::unknown(std::chrono::steady_clock::duration at) {
    std::array<std::string, kSignals> now;
    for (std::size_t i = 0; i < kSignals; ++i)
        now[i] = i < static_cast<std::size_t>(kInputs + kOutputs) ? "x" : "bx ";
    change(now, at);
}

void VcdWriter::change(const std::array<std::string, kSignals>& now,
                       std::chrono::steady_clock::duration at) {
    if (!started_)
        origin_ = at;
    const long long time =
        std::chrono::duration_cast<std::chrono::microseconds>(at - origin_).count();
    std::string changes;
    for (std::size_t i = 0; i < kSignals; ++i) {
        if (started_ && now[i] == last_[i])
            continue;
        changes += now[i];
        changes += code(i);
        changes += '\n';
        last_[i] = now[i];
    }
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
