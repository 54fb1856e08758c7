#include "ctl/commands.h"

#include "ctl/output.h"

#include "protocol/frames.h"

#include <iostream>

namespace vm::ctl {

void say(const std::string& message) {
    std::fprintf(stderr, "vm3870ctl: %s\n", message.c_str());
    std::fflush(stderr);
}

std::vector<std::uint8_t> requestFrame(Command command, char channel, char value) {
    const std::string ch(1, channel);
    const std::string v(1, value);
    std::optional<vm::Bytes> frame;
    switch (command) {
    case Command::Set:
        frame = vm::buildRequestFrame(vm::Command::DoSetting, ch, v, "");
        break;
    case Command::Reset:
        frame = vm::buildRequestFrame(vm::Command::CountReset, "", "", ch);
        break;
    default:
        frame = vm::buildRequestFrame(vm::Command::Request, "", "", "");
        break;
    }
    return frame.value_or(vm::Bytes{});
}

bool connectOrSay(Link& link, const Invocation& inv) {
    if (const auto problem = link.connect(inv.host, inv.port, inv.timeout)) {
        say("cannot connect to " + inv.host + ":" + std::to_string(inv.port) + ": " + *problem);
        return false;
    }
    return true;
}

Exchange exchange(Link& link, const std::vector<std::uint8_t>& frame,
                  std::chrono::milliseconds timeout) {
    Exchange result;
    link.arrivals().clear();
    // Taken before the write, so that a pause of this process after it cannot make a round
    // trip look shorter than it was.
    const SteadyTime sentAt = std::chrono::steady_clock::now();
    if (!link.send(frame)) {
        result.outcome = Link::Wait::Lost;
        return result;
    }
    result.outcome = link.waitForArrival(sentAt + timeout);
    if (result.outcome != Link::Wait::Arrival)
        return result;
    const Arrival arrival = std::move(link.arrivals().front());
    link.arrivals().pop_front();
    const double rtt = std::chrono::duration<double, std::milli>(arrival.at - sentAt).count();
    result.records = recordsOf(arrival, rtt);
    return result;
}

int runExchange(const Invocation& inv) {
    // A csv header even when no reply comes: the table says what its columns are.
    Emitter out(inv.format, inv.header);
    const auto finish = [&out](int code) {
        out.flush();
        return exitAfterOutput(code);
    };
    Link link;
    if (!connectOrSay(link, inv))
        return finish(kExitConnect);
    const Exchange ex =
        exchange(link, requestFrame(inv.command, inv.channel, inv.value), inv.timeout);
    switch (ex.outcome) {
    case Link::Wait::Arrival:
        break;
    case Link::Wait::Deadline:
        say("no reply within " + std::to_string(inv.timeout.count()) + " ms");
        return finish(kExitLost);
    case Link::Wait::Lost:
        say("connection lost: " + link.lostReason());
        return finish(kExitLost);
    case Link::Wait::Interrupted:
        return finish(kExitLost);
    }
    int code = kExitOk;
    for (const Record& r : ex.records) {
        out.record(r);
        if (isError(r))
            code = kExitCheckFailed;
    }
    return finish(code);
}

} // namespace vm::ctl
