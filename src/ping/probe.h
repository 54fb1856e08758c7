#pragma once

#include "ping/icmp.h"

#include <QString>

#include <chrono>
#include <functional>
#include <optional>

namespace vm {

// One echo request: no data, time to live 255, type of service 0, no fragment flags,
// and a wait of 2700 ms for the reply.
inline constexpr int kEchoTtl = 255;
inline constexpr std::chrono::milliseconds kEchoTimeout{2700};

// The look-up name is the address box's text without leading and trailing blanks, cut
// to its first 64 characters.
inline constexpr qsizetype kLookupNameLength = 64;
QString lookupName(const QString& boxText);

// The first IPv4 address of `name` in the order the system's name service lists them (a
// dotted address resolves to itself), or none when the name does not resolve.
std::optional<Ipv4Address> resolveFirstIpv4(const QString& name);
using Resolver = std::function<std::optional<Ipv4Address>(const QString& name)>;

// Which socket carries the echo. Automatic takes an unprivileged ping socket when the
// system grants one (net.ipv4.ping_group_range) and a raw socket (CAP_NET_RAW) otherwise.
enum class EchoSocket { Automatic, Ping, Raw };

struct PingOutcome {
    enum class Kind {
        Reply,        // an echo reply came back: `reply` and `roundTripMs` hold its values
        NoAnswer,     // nothing within the wait, or the request could not be sent
        NotPermitted, // the system refuses this user every ICMP socket
        SocketFailed, // an ICMP socket could not be set up for another reason (`error`)
    };
    Kind kind = Kind::NoAnswer;
    EchoReply reply{};
    int roundTripMs = 0;
    int error = 0; // errno of the failed socket call, 0 if none
};

// Sends one echo request to `target` and waits up to kEchoTimeout for its reply. Blocks
// the calling thread; keeps no state between calls.
PingOutcome probeEcho(const Ipv4Address& target, EchoSocket socket = EchoSocket::Automatic);

// Result lines. An address is written as its four bytes in decimal joined by ".".
QString dottedAddress(const Ipv4Address& address);
QString replyLine(const EchoReply& reply, int roundTripMs);
QString noAnswerLine(const Ipv4Address& target);
QString unknownHostLine(const QString& boxText);
QString notPermittedLine(const Ipv4Address& target);
QString socketFailedLine(const Ipv4Address& target, int error);
QString outcomeLine(const Ipv4Address& target, const PingOutcome& outcome);

struct ProbeSetup {
    Resolver resolve = resolveFirstIpv4;
    EchoSocket socket = EchoSocket::Automatic;
};

// One whole probe for the address box's text: look-up, echo, and the one result line.
QString pingResultLine(const QString& boxText, const ProbeSetup& setup = {});

} // namespace vm
