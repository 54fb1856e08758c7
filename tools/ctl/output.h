#pragma once

#include "ctl/link.h"
#include "ctl/record.h"

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vm::ctl {

// The fields of a status frame, or nothing for bytes of another length.
std::optional<Fields> decodeFields(std::span<const std::uint8_t> frame);

// The record of one reply's bytes, read at the time of `when`, with its checks done.
Record recordOf(std::vector<std::uint8_t> bytes, const Arrival& when, std::optional<double> rttMs);

// The records of one arrival: one per status frame (whole frames that came together are
// split as the window splits them), or one record of a reply that is not a status frame.
std::vector<Record> recordsOf(const Arrival& arrival, std::optional<double> rttMs);

// Each line of `text` (the last one may lack its newline) led by what `lead` gives for it.
std::string leadLines(std::string_view text,
                      const std::function<std::string(std::string_view line)>& lead);

// Where output goes, standard output or a file, with every write, flush and the close
// checked: the first failure is kept with the system's reason, and later writes do nothing,
// so that a full disk never passes for a complete report.
class Sink {
public:
    // A file created (or emptied) for writing; failed() says whether that worked.
    explicit Sink(const std::string& path);
    // A stream this does not own (stdout), shown in messages as `name`.
    Sink(std::FILE* stream, std::string name);

    bool write(std::string_view text);
    bool flush();
    // Flushes when the last flush is `every` old or older.
    bool flushIfDue(std::chrono::steady_clock::duration every);
    // Flushes, hands the data to the disk (`sync`) and closes a file of its own.
    bool close(bool sync = false);

    bool failed() const { return !problem_.empty(); }
    // "cannot write trace.vcd: No space left on device", or empty.
    const std::string& problem() const { return problem_; }
    // The system's reason alone: "No space left on device".
    const std::string& reason() const { return reason_; }
    const std::string& name() const { return name_; }

private:
    bool fail(); // keeps the system's reason for the failure just seen

    std::unique_ptr<std::FILE, int (*)(std::FILE*)> owned_{nullptr, &std::fclose};
    std::FILE* stream_ = nullptr;
    std::string name_;
    std::string problem_;
    std::string reason_;
    std::chrono::steady_clock::time_point lastFlush_ = std::chrono::steady_clock::now();
};

// Before a call whose failure is to be explained: forgets the system's last error.
void clearSystemError();
// The system's reason for the failure just seen ("No space left on device"; on Windows in
// Windows' words).
std::string systemError();

// The program's standard output: everything printed there goes through it.
Sink& standardOutput();

// The exit code once the outputs are done: kExitWrite, said on stderr with the reason, when
// one of them could not be written (a lost report outweighs any other outcome), else `code`.
int exitAfterOutput(int code, std::initializer_list<const Sink*> sinks = {});

// Writes records to stdout in the chosen format, the csv header first (unless left out), and
// keeps the writes few: its buffer goes out when asked or every 100 ms.
class Emitter {
public:
    // `unitColumn`: csv records of several units, the header starting with `unit`.
    explicit Emitter(Format format, bool header = true, Sink& out = standardOutput(),
                     bool unitColumn = false);
    ~Emitter();
    Emitter(const Emitter&) = delete;
    Emitter& operator=(const Emitter&) = delete;

    void record(const Record& record, std::string_view unit = {});
    void text(std::string_view text);
    // False once the output has failed (see standardOutput().problem()).
    bool flush();
    // Writes out the buffer if the last write is older than 100 ms.
    bool flushIfDue(SteadyTime now);
    bool failed() const { return out_->failed(); }

private:
    Format format_;
    Sink* out_;
    std::string buffer_;
    SteadyTime lastFlush_{};
};

} // namespace vm::ctl
