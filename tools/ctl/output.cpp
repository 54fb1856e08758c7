#include "ctl/output.h"

#include "protocol/arrival.h"
#include "protocol/decoder.h"

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

Emitter::Emitter(Format format, std::FILE* out)
    : format_(format)
    , out_(out)
    , lastFlush_(std::chrono::steady_clock::now()) {}

Emitter::~Emitter() {
    flush();
}

void Emitter::record(const Record& record) {
    if (format_ == Format::Csv && !headerDone_) {
        buffer_ += csvHeader();
        headerDone_ = true;
    }
    buffer_ += formatRecord(record, format_);
    if (buffer_.size() >= kBufferLimit)
        flush();
}

void Emitter::text(std::string_view text) {
    buffer_ += text;
}

void Emitter::flush() {
    if (!buffer_.empty())
        std::fwrite(buffer_.data(), 1, buffer_.size(), out_);
    std::fflush(out_);
    buffer_.clear();
    lastFlush_ = std::chrono::steady_clock::now();
}

void Emitter::flushIfDue(SteadyTime now) {
    if (now - lastFlush_ >= kFlushEvery)
        flush();
}

} // namespace vm::ctl
