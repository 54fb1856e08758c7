// The probe on POSIX systems: the look-up through the name service, and the echo over an
// unprivileged ping socket or a raw ICMP socket.
#include "probe/probe.h"

#include "probe/privilege.h"

#include <cerrno>
#include <cstring>
#include <random>
#include <vector>

#include <linux/icmp.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vm {

namespace {

using SteadyClock = std::chrono::steady_clock;

// A host entry with more names and addresses than this is not looked up.
constexpr std::size_t kLookupBufferLimit = 1 << 20;

class SocketHandle {
public:
    explicit SocketHandle(int fd)
        : fd_(fd) {}
    ~SocketHandle() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    SocketHandle(const SocketHandle&) = delete;
    SocketHandle& operator=(const SocketHandle&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// Identifiers and sequence numbers that another program's echo on this host is unlikely to
// share.
std::uint16_t random16() {
    static thread_local std::mt19937 engine{std::random_device{}()};
    return static_cast<std::uint16_t>(engine());
}

bool isPermissionError(int error) {
    return error == EPERM || error == EACCES;
}

bool setIntOption(int fd, int level, int name, int value) {
    return ::setsockopt(fd, level, name, &value, sizeof value) == 0;
}

// The request's IP fields: time to live 255, type of service 0, and no Don't Fragment flag.
bool setRequestOptions(int fd) {
    return setIntOption(fd, IPPROTO_IP, IP_TTL, kEchoTtl) &&
           setIntOption(fd, IPPROTO_IP, IP_TOS, 0) &&
           setIntOption(fd, IPPROTO_IP, IP_MTU_DISCOVER, IP_PMTUDISC_DONT);
}

// A ping socket: the kernel picks the identifier (the socket's local "port") and fills in
// the checksum, and hands over the reply's time to live as a control message.
bool setUpPingSocket(int fd, std::uint16_t& identifier) {
    if (!setRequestOptions(fd) || !setIntOption(fd, IPPROTO_IP, IP_RECVTTL, 1))
        return false;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    socklen_t length = sizeof local;
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0)
        return false;
    identifier = ntohs(local.sin_port);
    return true;
}

// A raw socket: our identifier, and a filter that lets only echo replies through (the
// checks of parseRawEchoReply still apply; the filter just spares needless wake-ups).
bool setUpRawSocket(int fd, std::uint16_t& identifier) {
    identifier = random16();
    icmp_filter filter{};
    filter.data = ~(1U << kIcmpEchoReply);
    return setRequestOptions(fd) &&
           ::setsockopt(fd, SOL_RAW, ICMP_FILTER, &filter, sizeof filter) == 0;
}

struct EchoChannel {
    int fd = -1;
    EchoSocket kind = EchoSocket::Ping;
    std::uint16_t identifier = 0;
    int error = 0;
};

EchoChannel openChannel(EchoSocket wanted) {
    EchoChannel channel;
    if (wanted != EchoSocket::Raw) {
        channel.fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
        channel.kind = EchoSocket::Ping;
        channel.error = channel.fd < 0 ? errno : 0;
    }
    if (channel.fd < 0 && wanted != EchoSocket::Ping) {
        channel.fd = withRawSocketPrivilege(
            [] { return ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP); });
        channel.kind = EchoSocket::Raw;
        channel.error = channel.fd < 0 ? errno : 0;
    }
    if (channel.fd < 0)
        return channel;
    const bool ready = channel.kind == EchoSocket::Ping
                           ? setUpPingSocket(channel.fd, channel.identifier)
                           : setUpRawSocket(channel.fd, channel.identifier);
    if (!ready) {
        channel.error = errno;
        ::close(channel.fd);
        channel.fd = -1;
    }
    return channel;
}

// Reads one queued datagram without waiting. Returns false when none is left; `reply` is
// set when the datagram is the echo reply we wait for.
bool receiveOne(const EchoChannel& channel, std::uint16_t sequence,
                std::vector<std::uint8_t>& buffer, std::optional<EchoReply>& reply) {
    sockaddr_in from{};
    iovec part{buffer.data(), buffer.size()};
    alignas(cmsghdr) unsigned char control[64];
    msghdr message{};
    message.msg_name = &from;
    message.msg_namelen = sizeof from;
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t received = ::recvmsg(channel.fd, &message, MSG_DONTWAIT);
    if (received < 0)
        return false;
    if (message.msg_flags & MSG_TRUNC)
        return true;
    const std::span<const std::uint8_t> bytes(buffer.data(), static_cast<std::size_t>(received));
    if (channel.kind == EchoSocket::Raw) {
        reply = parseRawEchoReply(bytes, channel.identifier, sequence);
        return true;
    }
    const auto dataSize = echoReplyDataSize(bytes, channel.identifier, sequence);
    if (!dataSize)
        return true;
    EchoReply echo;
    std::memcpy(echo.from.data(), &from.sin_addr, echo.from.size());
    echo.dataSize = *dataSize;
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_TTL) {
            int ttl = 0;
            std::memcpy(&ttl, CMSG_DATA(c), sizeof ttl);
            echo.ttl = ttl;
        }
    }
    reply = echo;
    return true;
}

} // namespace

std::optional<Ipv4Address> resolveFirstIpv4(const std::string& name) {
    // A NUL would end the name early and have a different host looked up.
    if (name.empty() || name.find('\0') != std::string::npos)
        return std::nullopt;
    // The host entry keeps the name service's own order (the order `getent hosts` shows);
    // getaddrinfo would sort the addresses by reachability and probe another first.
    std::vector<char> work(1024);
    hostent entry{};
    hostent* found = nullptr;
    int lookupError = 0;
    int result = 0;
    while ((result = ::gethostbyname2_r(name.c_str(), AF_INET, &entry, work.data(), work.size(),
                                        &found, &lookupError)) == ERANGE &&
           work.size() < kLookupBufferLimit)
        work.resize(work.size() * 2);
    if (result != 0 || found == nullptr || found->h_addrtype != AF_INET ||
        found->h_length != int(sizeof(Ipv4Address)) || found->h_addr_list[0] == nullptr)
        return std::nullopt;
    Ipv4Address address;
    std::memcpy(address.data(), found->h_addr_list[0], address.size());
    return address;
}

PingOutcome probeEcho(const Ipv4Address& target, EchoSocket socket) {
    PingOutcome outcome;
    const EchoChannel channel = openChannel(socket);
    if (channel.fd < 0) {
        outcome.kind = isPermissionError(channel.error) ? PingOutcome::Kind::NotPermitted
                                                        : PingOutcome::Kind::SocketFailed;
        outcome.error = channel.error;
        return outcome;
    }
    const SocketHandle handle(channel.fd);

    const std::uint16_t sequence = random16();
    const auto request = buildEchoRequest(channel.identifier, sequence);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    std::memcpy(&to.sin_addr, target.data(), target.size());

    const auto start = SteadyClock::now();
    const auto deadline = start + kEchoTimeout;
    if (::sendto(channel.fd, request.data(), request.size(), 0,
                 reinterpret_cast<const sockaddr*>(&to), sizeof to) < 0) {
        outcome.error = errno;
        return outcome;
    }

    std::vector<std::uint8_t> buffer(0x10000);
    for (auto now = start; now < deadline; now = SteadyClock::now()) {
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
        pollfd readable{channel.fd, POLLIN, 0};
        if (::poll(&readable, 1, static_cast<int>(wait.count())) <= 0)
            continue;
        std::optional<EchoReply> reply;
        while (!reply && receiveOne(channel, sequence, buffer, reply)) {
        }
        if (reply) {
            outcome.kind = PingOutcome::Kind::Reply;
            outcome.reply = *reply;
            outcome.roundTripMs = static_cast<int>(
                std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - start)
                    .count());
            return outcome;
        }
    }
    return outcome;
}

} // namespace vm
