// The probe on Windows: the look-up with gethostbyname (its host entry keeps the name
// service's order), the echo with the system's ICMP echo service (iphlpapi), which needs no
// privilege.
#include "probe/probe.h"

// In this order: the socket headers before windows.h, which would pull in older ones, and
// iphlpapi.h before icmpapi.h, which uses its types.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <iphlpapi.h>

#include <icmpapi.h>

#include <cstring>

namespace vm {

namespace {

// The reply area handed to the echo call: room for one reply record, with or without data,
// and for an ICMP error message quoting the request.
constexpr DWORD kReplyAreaSize = 157;

} // namespace

std::optional<Ipv4Address> resolveFirstIpv4(const std::string& name) {
    // A NUL would end the name early and have a different host looked up.
    if (name.empty() || name.find('\0') != std::string::npos)
        return std::nullopt;
    WSADATA startup{};
    // Sockets that do not start leave the name unresolved: the unknown-host line follows.
    if (::WSAStartup(MAKEWORD(1, 1), &startup) != 0)
        return std::nullopt;
    std::optional<Ipv4Address> address;
    const hostent* entry = ::gethostbyname(name.c_str());
    if (entry != nullptr && entry->h_addrtype == AF_INET &&
        entry->h_length == int(sizeof(Ipv4Address)) && entry->h_addr_list[0] != nullptr) {
        address.emplace();
        std::memcpy(address->data(), entry->h_addr_list[0], address->size());
    }
    ::WSACleanup();
    return address;
}

PingOutcome probeEcho(const Ipv4Address& target, EchoSocket) {
    PingOutcome outcome;
    const HANDLE echo = ::IcmpCreateFile();
    // A handle that cannot be opened sends nothing: no answer.
    if (echo == INVALID_HANDLE_VALUE)
        return outcome;

    IPAddr destination = 0;
    std::memcpy(&destination, target.data(), target.size());
    IP_OPTION_INFORMATION options{};
    options.Ttl = static_cast<UCHAR>(kEchoTtl);
    options.Tos = 0;
    options.Flags = 0;
    options.OptionsSize = 0;
    options.OptionsData = nullptr;
    alignas(ICMP_ECHO_REPLY) unsigned char area[kReplyAreaSize] = {};
    char noData = 0;

    const DWORD replies =
        ::IcmpSendEcho2(echo, nullptr, nullptr, nullptr, destination, &noData, 0, &options, area,
                        kReplyAreaSize, static_cast<DWORD>(kEchoTimeout.count()));
    if (replies > 0) {
        ICMP_ECHO_REPLY reply;
        std::memcpy(&reply, area, sizeof reply);
        outcome.kind = PingOutcome::Kind::Reply;
        std::memcpy(outcome.reply.from.data(), &reply.Address, outcome.reply.from.size());
        outcome.reply.dataSize = reply.DataSize;
        outcome.reply.ttl = reply.Options.Ttl;
        outcome.roundTripMs = static_cast<int>(reply.RoundTripTime);
    }
    ::IcmpCloseHandle(echo);
    return outcome;
}

} // namespace vm
