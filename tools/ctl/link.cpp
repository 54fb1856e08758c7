#include "ctl/link.h"

#include "ctl/native.h"
#include "protocol/connecting.h"
#include "protocol/loglines.h"

#include <csignal>

#ifdef _WIN32
#include <windows.h>
#endif

namespace vm::ctl {

namespace {
constexpr std::size_t kReadSize = loglines::kMaxArrivalBytes;
} // namespace

Link::Link()
    : socket_(io_)
    , signals_(io_)
    , timer_(io_)
    , buffer_(kReadSize) {
    for (const int signal : kEndingSignals)
        signals_.add(signal);
    awaitSignal();
}

void Link::awaitSignal() {
    signals_.async_wait([this](const std::error_code& ec, int) {
        if (!ec)
            interrupted_ = true;
    });
}

void Link::resume() {
    if (!interrupted_)
        return;
    interrupted_ = false;
    awaitSignal();
}

Link::~Link() {
    if (!interrupted_)
        return;
    std::error_code ignored;
    signals_.clear(ignored);
    for (const int signal : kEndingSignals)
        std::signal(signal, SIG_IGN);
}

#ifdef _WIN32
namespace {

HANDLE ended = nullptr;

BOOL WINAPI onConsoleEvent(DWORD event) {
    switch (event) {
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        // The process ends when this returns: first let the command end as on Ctrl+Break
        // and write what it has (the system allows some seconds).
        std::raise(SIGBREAK);
        WaitForSingleObject(ended, 30000);
        return TRUE;
    default:
        return FALSE; // Ctrl+C and Ctrl+Break: the C runtime raises SIGINT and SIGBREAK
    }
}

} // namespace

void handleConsoleEndings() {
    ended = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

void programEnded() {
    if (ended)
        SetEvent(ended);
}
#else
void handleConsoleEndings() {}
void programEnded() {}
#endif

// The deadline is a timer of the event loop, which keeps microseconds, where a timed run of
// the loop would round its wait to whole milliseconds and miss 1 ms slots.
template <class Done> bool Link::runUntil(Done done, SteadyTime deadline) {
    bool waiting = true;
    timer_.expires_at(deadline);
    timer_.async_wait([&waiting](const std::error_code&) { waiting = false; });
    while (waiting) {
        if (done() || interrupted_)
            timer_.cancel(); // its handler still runs, so `waiting` is never left dangling
        if (io_.stopped())
            io_.restart();
        io_.run_one();
    }
    return done();
}

std::optional<std::string> Link::connect(const std::string& host, std::uint16_t port,
                                         std::chrono::milliseconds timeout) {
    close();
    const SteadyTime deadline = std::chrono::steady_clock::now() + timeout;
    // The handlers may run after a timed-out connect returns (a name look-up cannot be
    // cut short), so what they write lives as long as they do.
    struct Attempt {
        bool finished = false;
        std::error_code result = asio::error::timed_out;
    };
    const auto attempt = std::make_shared<Attempt>();
    auto resolver = std::make_shared<asio::ip::tcp::resolver>(io_);
    resolver->async_resolve(
        host, std::to_string(port),
        [this, attempt, resolver](const std::error_code& ec,
                                  const asio::ip::tcp::resolver::results_type& endpoints) {
            if (ec) {
                attempt->result = ec;
                attempt->finished = true;
                return;
            }
            asio::async_connect(socket_, endpoints,
                                [attempt](const std::error_code& connectError, const auto&) {
                                    attempt->result = connectError;
                                    attempt->finished = true;
                                });
        });
    if (!runUntil([&] { return attempt->finished; }, deadline)) {
        resolver->cancel();
        std::error_code ignored;
        socket_.close(ignored);
        if (interrupted_)
            return std::string("interrupted");
        return connecting::connectTimedOut(timeout);
    }
    const std::error_code result = attempt->result;
    if (result)
        return result == asio::error::host_not_found ? connecting::kHostNotFound : reasonOf(result);
    std::error_code ignored;
    socket_.set_option(asio::ip::tcp::no_delay(true), ignored);
    open_ = true;
    lost_ = false;
    lostReason_.clear();
    readNext();
    return std::nullopt;
}

void Link::close() {
    std::error_code ignored;
    if (socket_.is_open()) {
        socket_.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
        socket_.close(ignored);
        // The pending read ends with operation_aborted; run it out so no handler outlives us.
        runUntil([this] { return !open_; },
                 std::chrono::steady_clock::now() + std::chrono::milliseconds(100));
    }
    open_ = false;
}

void Link::readNext() {
    socket_.async_read_some(
        asio::buffer(buffer_), [this](const std::error_code& ec, std::size_t n) {
            if (ec) {
                open_ = false;
                if (ec != asio::error::operation_aborted) {
                    lost_ = true;
                    lostReason_ = ec == asio::error::eof ? "closed by the module" : reasonOf(ec);
                }
                return;
            }
            arrivals_.push_back(
                Arrival{std::vector<std::uint8_t>(buffer_.begin(),
                                                  buffer_.begin() + static_cast<std::ptrdiff_t>(n)),
                        std::chrono::steady_clock::now(), std::chrono::system_clock::now()});
            readNext();
        });
}

bool Link::send(std::span<const std::uint8_t> frame) {
    if (!open_)
        return false;
    std::error_code ec;
    asio::write(socket_, asio::buffer(frame.data(), frame.size()), ec);
    if (ec) {
        lost_ = true;
        lostReason_ = reasonOf(ec);
        close();
        return false;
    }
    return true;
}

Link::Wait Link::waitForArrival(SteadyTime deadline) {
    runUntil([this] { return !arrivals_.empty() || lost_ || !open_; }, deadline);
    if (!arrivals_.empty())
        return Wait::Arrival;
    if (interrupted_)
        return Wait::Interrupted;
    if (lost_ || !open_)
        return Wait::Lost;
    return Wait::Deadline;
}

Link::Wait Link::sleepUntil(SteadyTime deadline) {
    runUntil([] { return false; }, deadline);
    return interrupted_ ? Wait::Interrupted : Wait::Deadline;
}

} // namespace vm::ctl
