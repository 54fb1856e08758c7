#pragma once

#include "ctl/link.h"
#include "ctl/record.h"

#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace vm::ctl {

// The fields of a status frame, or nothing for bytes of another length.
std::optional<Fields> decodeFields(std::span<const std::uint8_t> frame);

// The record of one reply's bytes, read at the time of `when`, with its checks done.
Record recordOf(std::vector<std::uint8_t> bytes, const Arrival& when, std::optional<double> rttMs);

// The records of one arrival: one per status frame (whole frames that came together are
// split as the window splits them), or one record of a reply that is not a status frame.
std::vector<Record> recordsOf(const Arrival& arrival, std::optional<double> rttMs);

// Writes records to stdout in the chosen format, the csv header before the first one, and
// keeps the writes few: its buffer goes out when asked or every 100 ms.
class Emitter {
public:
    Emitter(Format format, std::FILE* out = stdout);
    ~Emitter();
    void record(const Record& record);
    void text(std::string_view text);
    void flush();
    // Writes out the buffer if the last write is older than 100 ms.
    void flushIfDue(SteadyTime now);

private:
    Format format_;
    std::FILE* out_;
    std::string buffer_;
    bool headerDone_ = false;
    SteadyTime lastFlush_{};
};

} // namespace vm::ctl
