#include "ctl/output.h"

#include "ctl/cli.h"
#include "ctl/commands.h"
#include "ctl/native.h"

#include "protocol/arrival.h"
#include "protocol/decoder.h"

#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <io.h>
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

Sink::Sink(const std::string& path)
    : name_(path) {
    errno = 0;
    owned_.reset(openFile(path, "wb"));
    stream_ = owned_.get();
    if (!stream_)
        fail(errno);
}

Sink::Sink(std::FILE* stream, std::string name)
    : stream_(stream)
    , name_(std::move(name)) {}

bool Sink::fail(int error) {
    if (problem_.empty()) {
        reason_ = error != 0 ? std::strerror(error) : "the system gave no reason";
        problem_ = "cannot write " + name_ + ": " + reason_;
    }
    return false;
}

bool Sink::write(std::string_view text) {
    if (failed() || !stream_)
        return false;
    if (text.empty())
        return true;
    errno = 0;
    if (std::fwrite(text.data(), 1, text.size(), stream_) != text.size())
        return fail(errno);
    return true;
}

bool Sink::flush() {
    lastFlush_ = std::chrono::steady_clock::now();
    if (failed() || !stream_)
        return false;
    errno = 0;
    if (std::fflush(stream_) != 0 || std::ferror(stream_))
        return fail(errno);
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
#ifdef _WIN32
        const int synced = _commit(_fileno(stream_));
#else
        const int synced = fsync(fileno(stream_));
#endif
        if (synced != 0)
            return fail(errno);
    }
    errno = 0;
    const int closed = std::fclose(owned_.release());
    stream_ = nullptr;
    if (closed != 0)
        return fail(errno);
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

Emitter::Emitter(Format format, bool header, Sink& out)
    : format_(format)
    , out_(&out)
    , lastFlush_(std::chrono::steady_clock::now()) {
    // A table that says what its columns are even when no reply came.
    if (format_ == Format::Csv && header)
        buffer_ = csvHeader();
}

Emitter::~Emitter() {
    flush();
}

void Emitter::record(const Record& record) {
    buffer_ += formatRecord(record, format_);
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

} // namespace vm::ctl
