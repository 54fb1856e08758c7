#include "protocol/decoder.h"

#include "protocol/hex.h"
#include "protocol/loglines.h"
#include "protocol/utf8.h"

#include <charconv>

namespace basPing {

std::string ZeroPad2(std::string_view text) {
    if (text.size() == 1)
        return "0" + std::string(text);
    if (text.size() == 2)
        return std::string(text);
    return std::string();
}

double DWordFromBytes(std::uint8_t b3, std::uint8_t b2, std::uint8_t b1, std::uint8_t b0) {
    return double(b3) * 16777216.0 + double(b2) * 65536.0 + double(b1) * 256.0 + double(b0);
}

} // namespace basPing

namespace vm {

namespace {

constexpr std::size_t kInputOffset = 1;
constexpr std::size_t kOutputOffset = 7;
constexpr std::size_t kCounterOffset = 9;
constexpr std::size_t kTailOffset = 33; // checksum byte or first gap time
constexpr std::size_t kCheckSumFrame = 34;
constexpr std::size_t kGapTimeFrame = 57;

// Windows-1252 characters of 0x80-0x9F; 0 marks a code that the code page leaves undefined.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

constexpr char16_t kUndefinedStandIn = 0xFFFD;
constexpr char16_t kBlankStandIn = 0x2420;
constexpr char16_t kNoBreakSpaceStandIn = 0x237D;
constexpr char16_t kSoftHyphenStandIn = 0x2010;

char16_t visibleCharacter(std::uint8_t byte) {
    if (byte < 0x20)
        return char16_t(0x2400 + byte);
    if (byte == 0x20)
        return kBlankStandIn;
    if (byte < 0x7F)
        return byte;
    if (byte == 0x7F)
        return 0x2421;
    if (byte < 0xA0) {
        const char16_t mapped = kCp1252High[byte - 0x80];
        return mapped ? mapped : kUndefinedStandIn;
    }
    if (byte == 0xA0)
        return kNoBreakSpaceStandIn;
    if (byte == 0xAD)
        return kSoftHyphenStandIn;
    return byte;
}

// The 4 bytes at the offset, least significant first, through the design's byte helper.
std::uint32_t dwordAt(ByteView frame, std::size_t offset) {
    return std::uint32_t(basPing::DWordFromBytes(frame[offset + 3], frame[offset + 2],
                                                 frame[offset + 1], frame[offset]));
}

template <std::size_t N>
std::array<std::string, N> dwordTexts(const std::array<std::uint32_t, N>& values) {
    std::array<std::string, N> texts;
    for (std::size_t i = 0; i < N; ++i)
        texts[i] = dwordText(values[i]);
    return texts;
}

// Uppercase hexadecimal without padding, as the checksum box and (padded) the RECV line use it.
std::string byteHex(std::uint8_t byte) {
    if (byte < 0x10)
        return std::string(1, hex::kDigits[byte]);
    return std::string{hex::kDigits[byte >> 4], hex::kDigits[byte & 0x0F]};
}

} // namespace

bool isStatusFrameLength(std::size_t length) {
    return length == kTailOffset || length == kCheckSumFrame || length == kGapTimeFrame;
}

std::uint8_t statusCheckSum(ByteView frame) {
    unsigned sum = 0;
    for (std::size_t i = 0; i < kTailOffset && i < frame.size(); ++i)
        sum += frame[i];
    return static_cast<std::uint8_t>(sum & 0xFF);
}

std::optional<StatusFrame> decodeStatusFrame(ByteView frame) {
    if (!isStatusFrameLength(frame.size()))
        return std::nullopt;
    StatusFrame fields;
    for (std::size_t k = 0; k < fields.inputs.size(); ++k)
        fields.inputs[k] = frame[kInputOffset + k];
    for (std::size_t k = 0; k < fields.outputs.size(); ++k)
        fields.outputs[k] = frame[kOutputOffset + k];
    for (std::size_t i = 0; i < fields.counters.size(); ++i)
        fields.counters[i] = dwordAt(frame, kCounterOffset + 4 * i);
    if (frame.size() == kCheckSumFrame)
        fields.checkSum = frame[kTailOffset];
    if (frame.size() == kGapTimeFrame) {
        std::array<std::uint32_t, 6> gaps{};
        for (std::size_t i = 0; i < gaps.size(); ++i)
            gaps[i] = dwordAt(frame, kTailOffset + 4 * i);
        fields.gapTimes = gaps;
    }
    return fields;
}

std::string statusCharText(std::uint8_t byte) {
    std::string text;
    utf8::append(text, visibleCharacter(byte));
    return text;
}

std::string dwordText(std::uint32_t value) {
    char digits[10];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    return std::string(digits, end);
}

std::string checkSumText(std::uint8_t byte) {
    return byteHex(byte);
}

StatusTexts statusTexts(const StatusFrame& frame) {
    StatusTexts texts;
    for (std::size_t k = 0; k < texts.inputs.size(); ++k)
        texts.inputs[k] = statusCharText(frame.inputs[k]);
    for (std::size_t k = 0; k < texts.outputs.size(); ++k)
        texts.outputs[k] = statusCharText(frame.outputs[k]);
    texts.counters = dwordTexts(frame.counters);
    if (frame.checkSum)
        texts.checkSum = checkSumText(*frame.checkSum);
    if (frame.gapTimes)
        texts.gapTimes = dwordTexts(*frame.gapTimes);
    return texts;
}

std::optional<StatusTexts> statusTexts(ByteView frame) {
    const std::optional<StatusFrame> fields = decodeStatusFrame(frame);
    if (!fields)
        return std::nullopt;
    return statusTexts(*fields);
}

std::string recvLine(std::string_view stamp, ByteView frame) {
    std::string line;
    line.reserve(stamp.size() + 8 + 2 * frame.size());
    line += stamp;
    line += loglines::kRecv;
    for (const std::uint8_t byte : frame)
        line += basPing::ZeroPad2(byteHex(byte));
    return line;
}

std::string recvFileText(std::string_view line) {
    std::string text = "\r\n";
    text += line;
    text += "\r\n";
    return text;
}

std::string wrongLengthLine(std::size_t length) {
    return loglines::kWrongLength + std::to_string(length) + " Bytes";
}

} // namespace vm
