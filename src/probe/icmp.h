#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace vm {

// An IPv4 address as its four bytes in network order (first byte first).
using Ipv4Address = std::array<std::uint8_t, 4>;

inline constexpr std::uint8_t kIcmpEchoReply = 0;
inline constexpr std::uint8_t kIcmpEchoRequest = 8;
inline constexpr std::size_t kIcmpHeaderSize = 8;

// The Internet checksum: the ones' complement of the ones' complement sum of the bytes
// taken as big-endian 16-bit words (an odd last byte is padded with zero). A message
// that carries a correct checksum sums to 0.
std::uint16_t internetChecksum(std::span<const std::uint8_t> bytes);

// An echo request that carries no data: type 8, code 0, checksum, identifier, sequence.
std::array<std::uint8_t, kIcmpHeaderSize> buildEchoRequest(std::uint16_t identifier,
                                                           std::uint16_t sequence);

// The size of the echoed data when `message` (an ICMP message without IP header) is a
// well-formed echo reply to (identifier, sequence) with a correct checksum; otherwise none.
std::optional<int> echoReplyDataSize(std::span<const std::uint8_t> message,
                                     std::uint16_t identifier, std::uint16_t sequence);

struct EchoReply {
    Ipv4Address from{};
    int dataSize = 0;
    int ttl = 0;
};

// What a raw ICMP socket receives is a whole IPv4 datagram, and it receives every ICMP
// message of the host, our own requests on loopback included. This accepts only an echo
// reply to (identifier, sequence) and takes the sender and time to live from the IP header.
std::optional<EchoReply> parseRawEchoReply(std::span<const std::uint8_t> datagram,
                                           std::uint16_t identifier, std::uint16_t sequence);

} // namespace vm
