#pragma once

// The ICMP echo probe of the ping test, in plain C++ (texts are UTF-8), shared by the window
// and vm3870ctl. resolveFirstIpv4 and probeEcho are the platform's part: probe_posix.cpp
// (ping or raw sockets) and probe_windows.cpp (the ICMP echo service of iphlpapi).

#include "probe/icmp.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace vm {

// One echo request: no data, time to live 255, type of service 0, no fragment flags,
// and a wait of 2700 ms for the reply.
inline constexpr int kEchoTtl = 255;
inline constexpr std::chrono::milliseconds kEchoTimeout{2700};

// The look-up name is the address box's text without leading and trailing blanks, cut
// to its first 64 characters (a byte that is not UTF-8 counts as one character).
inline constexpr std::size_t kLookupNameLength = 64;
std::string lookupName(std::string_view boxText);

// The first IPv4 address of `name` in the order the system's name service lists them (a
// dotted address resolves to itself), or none when the name does not resolve.
std::optional<Ipv4Address> resolveFirstIpv4(const std::string& name);
using Resolver = std::function<std::optional<Ipv4Address>(const std::string& name)>;

// Which socket carries the echo on POSIX systems. Automatic takes an unprivileged ping socket
// when the system grants one (net.ipv4.ping_group_range) and a raw socket (CAP_NET_RAW)
// otherwise. Windows has one way, its ICMP echo service, and ignores the choice.
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
std::string dottedAddress(const Ipv4Address& address);
std::string replyLine(const EchoReply& reply, int roundTripMs);
std::string noAnswerLine(const Ipv4Address& target);
std::string unknownHostLine(std::string_view boxText);
std::string notPermittedLine(const Ipv4Address& target);
std::string socketFailedLine(const Ipv4Address& target, int error);
std::string outcomeLine(const Ipv4Address& target, const PingOutcome& outcome);

struct ProbeSetup {
    Resolver resolve = resolveFirstIpv4;
    EchoSocket socket = EchoSocket::Automatic;
};

// One whole probe for the address box's text: look-up, echo, and its one result line.
struct ProbeResult {
    std::optional<Ipv4Address> target; // none: the name did not resolve
    PingOutcome outcome;               // NoAnswer when nothing was sent
    std::string line;
};
ProbeResult runProbe(std::string_view boxText, const ProbeSetup& setup = {});
std::string pingResultLine(std::string_view boxText, const ProbeSetup& setup = {});

} // namespace vm
