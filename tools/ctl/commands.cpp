#include "ctl/commands.h"

#include "ctl/output.h"

#include "protocol/arrival.h"
#include "protocol/decoder.h"
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

namespace {

// In learning the frame length, a reply is whole when this long passes without a byte.
constexpr auto kQuietGap = std::chrono::milliseconds(100);

double msBetween(SteadyTime from, SteadyTime to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

// The length of whole frames that came together, each beginning with N: 66 bytes of two
// 33-byte frames, say. Nothing for any other run of bytes.
std::optional<std::size_t> framesLength(const std::vector<std::uint8_t>& bytes) {
    const std::vector<vm::ByteView> pieces = vm::splitArrival(bytes);
    if (!vm::isStatusFrameLength(pieces.front().size()) ||
        pieces.front()[0] != vm::kStatusFrameMark)
        return std::nullopt;
    return pieces.front().size();
}

} // namespace

Session::Session(Link& link, const Invocation& inv)
    : link_(link)
    , inv_(inv) {
    if (inv.frameLength != 0)
        frameLength_ = inv.frameLength;
}

bool Session::connect() {
    if (const auto problem = link_.connect(inv_.host, inv_.port, inv_.timeout)) {
        say("cannot connect to " + inv_.host + ":" + std::to_string(inv_.port) + ": " + *problem);
        return false;
    }
    return true;
}

std::optional<std::string> Session::reconnect(std::chrono::milliseconds timeout) {
    return link_.drive(asyncReconnect(timeout));
}

asio::awaitable<std::optional<std::string>>
Session::asyncReconnect(std::chrono::milliseconds timeout) {
    dropWaiting();
    reopen_ = false;
    co_return co_await link_.asyncConnect(inv_.host, inv_.port, timeout);
}

std::uint64_t Session::repliesIn(std::size_t bytes) const {
    const std::size_t length = frameLength_.value_or(bytes);
    return bytes == 0 ? 0 : (bytes + length - 1) / length;
}

// Whatever came while no request was waiting belongs to an earlier one.
std::uint64_t Session::dropWaiting() {
    std::size_t bytes = 0;
    for (const Arrival& a : link_.arrivals())
        bytes += a.bytes.size();
    link_.arrivals().clear();
    const std::uint64_t late = repliesIn(bytes);
    late_ += late;
    return late;
}

Session::Exchange Session::exchange(const std::vector<std::uint8_t>& frame) {
    return link_.drive(asyncExchange(frame));
}

asio::awaitable<Session::Exchange> Session::asyncExchange(std::vector<std::uint8_t> frame) {
    Exchange ex;
    const bool sent = co_await asyncSend(frame, ex);
    if (sent)
        co_await asyncCollect(ex);
    co_return ex;
}

bool Session::send(const std::vector<std::uint8_t>& frame, Exchange& ex) {
    return link_.drive(asyncSend(frame, ex));
}

void Session::collect(Exchange& ex) {
    link_.drive(asyncCollect(ex));
}

asio::awaitable<bool> Session::asyncSend(const std::vector<std::uint8_t>& frame, Exchange& ex) {
    ex = Exchange{};
    std::uint64_t late = dropWaiting();
    if (reopen_ && link_.isOpen()) {
        link_.close();
        late += dropWaiting();
        if (const auto problem = co_await asyncReconnect(inv_.timeout)) {
            ex.outcome = Link::Wait::Lost;
            ex.problem = *problem;
        }
        ex.reopened = true;
    }
    // Taken before the write, so that a pause of this process after it cannot make a round
    // trip look shorter than it was.
    sent_ = Arrival{{}, std::chrono::steady_clock::now(), std::chrono::system_clock::now()};
    pendingLate_ = late;
    ex.record.time = isoTime(sent_.wall);
    ex.record.at = sent_.at.time_since_epoch();
    ex.record.late = late;
    if (ex.outcome == Link::Wait::Lost || !link_.isOpen() || !link_.send(frame)) {
        ex.outcome = Link::Wait::Lost;
        if (ex.problem.empty())
            ex.problem = link_.lostReason();
        ex.record.error = "disconnected: " + ex.problem;
        co_return false;
    }
    co_return true;
}

asio::awaitable<void> Session::asyncCollect(Exchange& ex) {
    std::uint64_t late = pendingLate_;
    // Bytes until the frame is whole (its length known) or quiet (its length being learned),
    // or the timeout.
    const SteadyTime deadline = sent_.at + inv_.timeout;
    std::vector<std::uint8_t> got;
    Arrival last = sent_;
    for (;;) {
        if (frameLength_ && got.size() >= *frameLength_)
            break;
        const SteadyTime until =
            frameLength_ || got.empty() ? deadline : std::min(deadline, last.at + kQuietGap);
        ex.outcome = co_await link_.asyncWaitForArrival(until);
        if (ex.outcome != Link::Wait::Arrival)
            break;
        for (Arrival& a : link_.arrivals()) {
            got.insert(got.end(), a.bytes.begin(), a.bytes.end());
            last = std::move(a);
        }
        link_.arrivals().clear();
    }
    if (ex.outcome == Link::Wait::Interrupted)
        co_return;
    if (got.empty()) {
        if (ex.outcome == Link::Wait::Lost) {
            ex.problem = link_.lostReason();
            ex.record.error = "disconnected: " + ex.problem;
        } else {
            ex.record.error = "no reply within " + std::to_string(inv_.timeout.count()) + " ms";
            reopen_ = true;
        }
        co_return;
    }
    ex.outcome = Link::Wait::Arrival;
    if (!frameLength_)
        frameLength_ = framesLength(got);
    std::vector<std::uint8_t> reply = got;
    if (frameLength_ && got.size() > *frameLength_) {
        // One frame answers one request; the rest is a reply nobody asked for.
        reply.resize(*frameLength_);
        const std::uint64_t extra = repliesIn(got.size() - *frameLength_);
        late_ += extra;
        late += extra;
    }
    ex.record = recordOf(std::move(reply), last, msBetween(sent_.at, last.at));
    ex.record.late = late;
    if (frameLength_ && got.size() < *frameLength_)
        ex.record.error = "incomplete: " + std::to_string(got.size()) + " of " +
                          std::to_string(*frameLength_) + " bytes within " +
                          std::to_string(inv_.timeout.count()) + " ms";
    // The rest of a frame cut short, or of one out of step, may still come.
    reopen_ = !ex.record.ok() && frameLength_.has_value();
}

std::string lateText(std::uint64_t late) {
    return std::to_string(late) + (late == 1 ? " late reply" : " late replies");
}

std::string setFault(const Record& reply, char channel, char value) {
    if (!reply.fields)
        return {};
    std::string fault;
    for (int i = 0; i < kOutputs; ++i) {
        if (channel != 'A' && channel != static_cast<char>('1' + i))
            continue;
        const char shown = reply.fields->outputs[static_cast<std::size_t>(i)];
        if (shown != value)
            fault += (fault.empty() ? "" : ", ") + std::string("DO") + std::to_string(i) + " is " +
                     vm::statusCharText(static_cast<std::uint8_t>(shown));
    }
    return fault.empty() ? fault : fault + " in the reply, not " + value + " as set";
}

int runExchange(const Invocation& inv) {
    // A csv header even when no reply comes: the table says what its columns are.
    Emitter out(inv.format, inv.header);
    const auto finish = [&out](int code) {
        out.flush();
        return exitAfterOutput(code);
    };
    Link link;
    Session session(link, inv);
    if (!session.connect())
        return finish(kExitConnect);
    Session::Exchange ex = session.exchange(requestFrame(inv.command, inv.channel, inv.value));
    switch (ex.outcome) {
    case Link::Wait::Arrival:
        break;
    case Link::Wait::Deadline:
        say(ex.record.error);
        return finish(kExitLost);
    case Link::Wait::Lost:
        say("connection lost: " + ex.problem);
        return finish(kExitLost);
    case Link::Wait::Interrupted:
        return finish(kExitLost);
    }
    if (inv.command == Command::Set && ex.record.ok())
        ex.record.error = setFault(ex.record, inv.channel, inv.value);
    out.record(ex.record);
    return finish(ex.record.ok() ? kExitOk : kExitCheckFailed);
}

} // namespace vm::ctl
