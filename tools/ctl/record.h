#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vm::ctl {

constexpr int kInputs = 6;
constexpr int kOutputs = 2;
constexpr int kCounters = 6;

// The values of one status frame, as numbers and the characters received.
struct Fields {
    std::string inputs;  // six characters as received, e.g. "100101"
    std::string outputs; // two characters
    std::array<std::uint32_t, kCounters> counters{};
    std::optional<std::uint8_t> checksum;                     // 34-byte frames
    std::optional<std::array<std::uint32_t, kCounters>> gaps; // 57-byte frames
};

// One reply (one status frame of an arrival, or an arrival that is not one), or the lack of
// one: a request without a reply, a slot while the module was away.
struct Record {
    std::string time; // ISO 8601 UTC with milliseconds and Z, or empty when not known
    std::vector<std::uint8_t> bytes;
    std::optional<Fields> fields; // absent for a reply that is not a status frame
    std::string error;            // why the record fails (fields may still be shown); or empty
    std::optional<double> rttMs;  // request written to reply read
    std::uint64_t late = 0;       // late replies dropped with this request (before it, or
                                  // frames after the one that answered it)
    std::chrono::steady_clock::duration at{}; // when it was read, on the run's own clock

    // A status frame that passed every check.
    bool ok() const { return fields && error.empty(); }
};

// The record of a module that could not be reached: stamped now, "cannot connect: why".
Record unreachedRecord(const std::string& why);

// Whether the record is an error (not ok: a reply that is not a status frame, one that failed
// a check, or a request that got none).
bool isError(const Record& record);
// Why a record is not ok: its error, or for bytes of another length, that they are not a
// status frame.
std::string recordError(const Record& record);

// What is wrong with the bytes of a reply as a status frame (length, first byte N, the
// checksum of a 34-byte frame), or empty.
std::string frameFault(const std::vector<std::uint8_t>& bytes);

// "1 byte", "34 bytes"; "1 reply", "2 replies" with the plural given.
std::string counted(std::uint64_t count, std::string_view singular, std::string_view plural = {});

enum class Format { Text, Json, Csv };

// One record as a line (with its line break) in the chosen format; the csv header once
// before the first row. Every JSON record, summaries included, carries the same keys (null
// where not known), with `type` one of reply, error, summary.
// With a unit's name (several units), the name is the record's first field: text's first
// word, JSON's key `unit`, csv's column `unit`.
std::string formatRecord(const Record& record, Format format, std::string_view unit = {});
std::string csvHeader(bool unitColumn = false);
// The JSON record of a summary: `summary` holds the object given (JSON text).
std::string jsonSummaryRecord(std::string_view time, std::string_view summary);

// "2026-12-07T10:00:04.123Z".
std::string isoTime(std::chrono::system_clock::time_point time);

// Upper-case hexadecimal, two digits a byte, no blanks.
std::string hexUpper(const std::vector<std::uint8_t>& bytes);
// The value of one hexadecimal digit (either case), or -1.
int hexDigitValue(char c);

// A JSON string literal for text given as bytes of one character each (Latin-1), so that
// every byte received shows, however odd.
std::string jsonString(std::string_view latin1);

} // namespace vm::ctl
