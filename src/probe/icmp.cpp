#include "probe/icmp.h"

namespace vm {

namespace {

std::uint16_t readBigEndian16(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<std::uint16_t>((bytes[at] << 8) | bytes[at + 1]);
}

constexpr std::size_t kMinIpHeaderSize = 20;
constexpr std::uint8_t kProtocolIcmp = 1;

} // namespace

std::uint16_t internetChecksum(std::span<const std::uint8_t> bytes) {
    std::uint32_t sum = 0;
    std::size_t i = 0;
    for (; i + 1 < bytes.size(); i += 2)
        sum += readBigEndian16(bytes, i);
    if (i < bytes.size())
        sum += static_cast<std::uint32_t>(bytes[i]) << 8;
    while (sum > 0xFFFF)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum & 0xFFFF);
}

std::array<std::uint8_t, kIcmpHeaderSize> buildEchoRequest(std::uint16_t identifier,
                                                           std::uint16_t sequence) {
    std::array<std::uint8_t, kIcmpHeaderSize> packet{kIcmpEchoRequest,
                                                     0,
                                                     0,
                                                     0,
                                                     static_cast<std::uint8_t>(identifier >> 8),
                                                     static_cast<std::uint8_t>(identifier),
                                                     static_cast<std::uint8_t>(sequence >> 8),
                                                     static_cast<std::uint8_t>(sequence)};
    const std::uint16_t checksum = internetChecksum(packet);
    packet[2] = static_cast<std::uint8_t>(checksum >> 8);
    packet[3] = static_cast<std::uint8_t>(checksum);
    return packet;
}

std::optional<int> echoReplyDataSize(std::span<const std::uint8_t> message,
                                     std::uint16_t identifier, std::uint16_t sequence) {
    if (message.size() < kIcmpHeaderSize || message[0] != kIcmpEchoReply || message[1] != 0)
        return std::nullopt;
    if (readBigEndian16(message, 4) != identifier || readBigEndian16(message, 6) != sequence)
        return std::nullopt;
    if (internetChecksum(message) != 0)
        return std::nullopt;
    return static_cast<int>(message.size() - kIcmpHeaderSize);
}

std::optional<EchoReply> parseRawEchoReply(std::span<const std::uint8_t> datagram,
                                           std::uint16_t identifier, std::uint16_t sequence) {
    if (datagram.size() < kMinIpHeaderSize || (datagram[0] >> 4) != 4)
        return std::nullopt;
    const std::size_t headerSize = static_cast<std::size_t>(datagram[0] & 0x0F) * 4;
    if (headerSize < kMinIpHeaderSize || headerSize > datagram.size() ||
        datagram[9] != kProtocolIcmp)
        return std::nullopt;
    // The datagram may arrive with trailing padding; the IP total length bounds the message.
    const std::size_t totalLength = readBigEndian16(datagram, 2);
    const std::size_t end =
        totalLength >= headerSize && totalLength <= datagram.size() ? totalLength : datagram.size();
    const auto dataSize =
        echoReplyDataSize(datagram.subspan(headerSize, end - headerSize), identifier, sequence);
    if (!dataSize)
        return std::nullopt;
    EchoReply reply;
    reply.from = {datagram[12], datagram[13], datagram[14], datagram[15]};
    reply.dataSize = *dataSize;
    reply.ttl = datagram[8];
    return reply;
}

} // namespace vm
