#include "protocol/frames.h"

#include "protocol/hex.h"
#include "protocol/loglines.h"
#include "protocol/utf8.h"

namespace vm {

namespace {

// The byte of a parameter text: the code of its first character. An empty text, or one that
// starts with a character beyond one byte, gives no byte.
std::optional<std::uint8_t> parameterByte(std::string_view text) {
    const utf8::Decoded first = utf8::decodeFirst(text);
    if (!first.valid || first.code > 0xFF)
        return std::nullopt;
    return std::uint8_t(first.code);
}

std::string_view channelText(std::string_view text) {
    return text == "ALL" ? std::string_view("A") : text;
}

} // namespace

std::optional<Bytes> buildRequestFrame(Command command, std::string_view setText,
                                       std::string_view valueText, std::string_view resetText) {
    switch (command) {
    case Command::Request:
        return Bytes{'N', 'R', 'E', 'Q'};
    case Command::DoSetting: {
        const auto channel = parameterByte(channelText(setText));
        const auto value = parameterByte(valueText);
        if (!channel || !value)
            return std::nullopt;
        return Bytes{'N', 'T', *channel, *value};
    }
    case Command::CountReset: {
        const auto channel = parameterByte(channelText(resetText));
        if (!channel)
            return std::nullopt;
        return Bytes{'N', 'C', *channel, '0'};
    }
    }
    return std::nullopt;
}

std::string hexText(ByteView bytes) {
    std::string text;
    text.reserve(bytes.size() * 3);
    for (const std::uint8_t byte : bytes) {
        hex::appendByte(text, byte);
        text += ' ';
    }
    return text;
}

std::string sendLine(std::string_view stamp, ByteView frame) {
    std::string line(stamp);
    line += loglines::kSend;
    line += hexText(frame);
    return line;
}

} // namespace vm
