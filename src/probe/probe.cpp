// The probe's platform-independent part: the look-up name, the result lines and one whole
// probe from the box text to its line.
#include "probe/probe.h"

#include "protocol/utf8.h"

#include <system_error>

namespace vm {

std::string lookupName(std::string_view boxText) {
    const std::size_t first = std::min(boxText.find_first_not_of(' '), boxText.size());
    const std::size_t last = boxText.find_last_not_of(' ');
    std::string_view name =
        boxText.substr(first, last == std::string_view::npos ? 0 : last + 1 - first);
    std::size_t end = 0;
    for (std::size_t characters = 0; end < name.size() && characters < kLookupNameLength;
         ++characters)
        end += utf8::decodeFirst(name.substr(end)).length;
    return std::string(name.substr(0, end));
}

std::string dottedAddress(const Ipv4Address& address) {
    return std::to_string(address[0]) + '.' + std::to_string(address[1]) + '.' +
           std::to_string(address[2]) + '.' + std::to_string(address[3]);
}

std::string replyLine(const EchoReply& reply, int roundTripMs) {
    return "Reply From " + dottedAddress(reply.from) + ": Bytes=" + std::to_string(reply.dataSize) +
           " Time=" + std::to_string(roundTripMs) + "ms TTL=" + std::to_string(reply.ttl);
}

std::string noAnswerLine(const Ipv4Address& target) {
    return "No answer from " + dottedAddress(target);
}

std::string unknownHostLine(std::string_view boxText) {
    return "Ping: Unknown Host " + std::string(boxText);
}

std::string notPermittedLine(const Ipv4Address& target) {
    // Short enough to read whole in the log list; the README says how to permit it.
    return "Ping: Not permitted to send ICMP to " + dottedAddress(target) +
           " (needs net.ipv4.ping_group_range or CAP_NET_RAW)";
}

std::string socketFailedLine(const Ipv4Address& target, int error) {
    return "Ping: Cannot open an ICMP socket for " + dottedAddress(target) + ": " +
           std::generic_category().message(error);
}

std::string outcomeLine(const Ipv4Address& target, const PingOutcome& outcome) {
    switch (outcome.kind) {
    case PingOutcome::Kind::Reply:
        return replyLine(outcome.reply, outcome.roundTripMs);
    case PingOutcome::Kind::NotPermitted:
        return notPermittedLine(target);
    case PingOutcome::Kind::SocketFailed:
        return socketFailedLine(target, outcome.error);
    case PingOutcome::Kind::NoAnswer:
        break;
    }
    return noAnswerLine(target);
}

ProbeResult runProbe(std::string_view boxText, const ProbeSetup& setup) {
    ProbeResult result;
    result.target = setup.resolve(lookupName(boxText));
    if (!result.target) {
        result.line = unknownHostLine(boxText);
        return result;
    }
    result.outcome = probeEcho(*result.target, setup.socket);
    result.line = outcomeLine(*result.target, result.outcome);
    return result;
}

std::string pingResultLine(std::string_view boxText, const ProbeSetup& setup) {
    return runProbe(boxText, setup).line;
}

} // namespace vm
