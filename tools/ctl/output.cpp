#include "ctl/output.h"

#include "ctl/cli.h"
#include "ctl/commands.h"
#include "ctl/native.h"

#include "protocol/arrival.h"
#include "protocol/decoder.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace vm::ctl {

namespace {
constexpr auto kFlushEvery = std::chrono::milliseconds(100);
constexpr std::size_t kBufferLimit = 1 << 16;
} // namespace

std::optional<Fields> decodeFields(std::span<const std::uint8_t> frame) {
    const std::optional<vm::StatusFrame> decoded = vm::decodeStatusFrame(frame);
    if (!decoded)
        return std::nullopt;
    Fields f;
    f.inputs.assign(decoded->inputs.begin(), decoded->inputs.end());
    f.outputs.assign(decoded->outputs.begin(), decoded->outputs.end());
    f.counters = decoded->counters;
    f.checksum = decoded->checkSum;
    f.gaps = decoded->gapTimes;
    return f;
}

Record recordOf(std::vector<std::uint8_t> bytes, const Arrival& when, std::optional<double> rttMs) {
    Record r;
    r.time = isoTime(when.wall);
    r.fields = decodeFields(bytes);
    r.error = frameFault(bytes);
    r.bytes = std::move(bytes);
    r.rttMs = rttMs;
    r.at = when.at.time_since_epoch();
    return r;
}

std::vector<Record> recordsOf(const Arrival& arrival, std::optional<double> rttMs) {
    std::vector<Record> records;
    for (const vm::ByteView piece : vm::splitArrival(arrival.bytes))
        records.push_back(recordOf({piece.begin(), piece.end()}, arrival, rttMs));
    return records;
}

void clearSystemError() {
    errno = 0;
#ifdef _WIN32
    SetLastError(0);
#endif
}

std::string systemError() {
#ifdef _WIN32
    // Windows' own words first: the C runtime maps some failures (a full disk among them)
    // to errno values that mean something else.
    if (const DWORD code = GetLastError()) {
        char message[512] = {};
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                       message, sizeof message, nullptr);
        std::string text = message;
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == '.'))
            text.pop_back();
        if (!text.empty())
            return text;
    }
#endif
    return errno != 0 ? std::strerror(errno) : "the system gave no reason";
}

Sink::Sink(const std::string& path)
    : name_(path) {
    clearSystemError();
    owned_.reset(openFile(path, "wb"));
    stream_ = owned_.get();
    if (!stream_)
        fail();
}

Sink::Sink(std::FILE* stream, std::string name)
    : stream_(stream)
    , name_(std::move(name)) {}

bool Sink::fail() {
    if (problem_.empty()) {
        reason_ = systemError();
        problem_ = "cannot write " + name_ + ": " + reason_;
    }
    return false;
}

bool Sink::write(std::string_view text) {
    if (failed() || !stream_)
        return false;
    if (text.empty())
        return true;
    clearSystemError();
    if (std::fwrite(text.data(), 1, text.size(), stream_) != text.size())
        return fail();
    return true;
}

bool Sink::flush() {
    lastFlush_ = std::chrono::steady_clock::now();
    if (failed() || !stream_)
        return false;
    // A failure of a write made without this (printf) shows in ferror alone; its reason is
    // the one the system still holds.
    if (std::ferror(stream_))
        return fail();
    clearSystemError();
    if (std::fflush(stream_) != 0 || std::ferror(stream_))
        return fail();
    return true;
}

bool Sink::flushIfDue(std::chrono::steady_clock::duration every) {
    if (std::chrono::steady_clock::now() - lastFlush_ < every)
        return !failed();
    return flush();
}

bool Sink::close(bool sync) {
    if (!flush())
        return false;
    if (!owned_)
        return true;
    if (sync) {
        clearSystemError();
#ifdef _WIN32
        const int synced = _commit(_fileno(stream_));
#else
        const int synced = fsync(fileno(stream_));
#endif
        if (synced != 0)
            return fail();
    }
    clearSystemError();
    const int closed = std::fclose(owned_.release());
    stream_ = nullptr;
    if (closed != 0)
        return fail();
    return true;
}

Sink& standardOutput() {
    static Sink out(stdout, "standard output");
    return out;
}

int exitAfterOutput(int code, std::initializer_list<const Sink*> sinks) {
    standardOutput().flush();
    for (const Sink* sink : sinks)
        if (sink && sink->failed()) {
            say(sink->problem());
            return kExitWrite;
        }
    if (standardOutput().failed()) {
        say(standardOutput().problem());
        return kExitWrite;
    }
    return code;
}

Emitter::Emitter(Format format, bool header, Sink& out, bool unitColumn)
    : format_(format)
    , out_(&out)
    , lastFlush_(std::chrono::steady_clock::now()) {
    // A table that says what its columns are even when no reply came.
    if (format_ == Format::Csv && header)
        buffer_ = csvHeader(unitColumn);
}

Emitter::~Emitter() {
    flush();
}

void Emitter::record(const Record& record, std::string_view unit) {
    buffer_ += formatRecord(record, format_, unit);
    if (buffer_.size() >= kBufferLimit)
        flush();
}

void Emitter::text(std::string_view text) {
    buffer_ += text;
}

bool Emitter::flush() {
    out_->write(buffer_);
    buffer_.clear();
    lastFlush_ = std::chrono::steady_clock::now();
    return out_->flush();
}

bool Emitter::flushIfDue(SteadyTime now) {
    if (now - lastFlush_ >= kFlushEvery)
        return flush();
    return !out_->failed();
}

std::string leadLines(std::string_view text,
                      const std::function<std::string(std::string_view line)>& lead) {
    std::string out;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = std::min(text.find('\n', at), text.size() - 1);
        const std::string_view line = text.substr(at, end + 1 - at);
        out += lead(line);
        out += line;
        at = end + 1;
    }
    return out;
}

} // namespace vm::ctl
