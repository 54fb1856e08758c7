#include "emu/request.h"

#include "emu/device.h"
#include "protocol/hex.h"

namespace vm::emu {

namespace {

constexpr char kAll = 'A';

// '1'..'<count>' gives 0-based channels, 'A' gives -1 (all); anything else nothing.
std::optional<int> channelOf(char c, int count) {
    if (c == kAll)
        return -1;
    if (c >= '1' && c < '1' + count)
        return c - '1';
    return std::nullopt;
}

} // namespace

std::optional<Request> parseRequest(const QByteArray& unit) {
    if (unit.size() != kRequestLength || unit[0] != 'N')
        return std::nullopt;
    if (unit == "NREQ")
        return Request{};
    const char command = unit[1];
    const char value = unit[3];
    if (command == 'T' && (value == '0' || value == '1')) {
        if (const auto channel = channelOf(unit[2], kOutputs))
            return Request{Request::Kind::SetOutput, *channel, value == '1'};
    } else if (command == 'C' && value == '0') {
        if (const auto channel = channelOf(unit[2], kCounters))
            return Request{Request::Kind::ResetCounter, *channel, false};
    }
    return std::nullopt;
}

void applyRequest(Device& device, const Request& request) {
    switch (request.kind) {
    case Request::Kind::Status:
        break;
    case Request::Kind::SetOutput:
        device.setOutput(request.channel, request.on);
        break;
    case Request::Kind::ResetCounter:
        device.resetCounter(request.channel);
        break;
    }
}

QList<QByteArray> RequestBuffer::feed(const QByteArray& data) {
    buffer_.append(data);
    QList<QByteArray> units;
    const qsizetype whole = buffer_.size() - buffer_.size() % kRequestLength;
    for (qsizetype at = 0; at < whole; at += kRequestLength)
        units.append(buffer_.mid(at, kRequestLength));
    buffer_.remove(0, whole);
    return units;
}

QString hexText(const QByteArray& bytes) {
    return QString::fromStdString(hex::upper(ByteView(
        reinterpret_cast<const std::uint8_t*>(bytes.constData()), std::size_t(bytes.size()))));
}

QString printableText(const QByteArray& bytes) {
    QString text;
    text.reserve(bytes.size());
    for (const char byte : bytes)
        text.append(byte >= 0x20 && byte < 0x7F ? QChar::fromLatin1(byte) : QChar(u'.'));
    return text;
}

} // namespace vm::emu
