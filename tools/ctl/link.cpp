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
    : Link(std::make_unique<asio::io_context>(), nullptr) {}

Link::Link(asio::io_context& io)
    : Link(nullptr, &io) {}

Link::Link(std::unique_ptr<asio::io_context> own, asio::io_context* shared)
    : ownIo_(std::move(own))
    , io_(ownIo_ ? *ownIo_ : *shared)
    , socket_(io_)
    , signals_(io_)
    , timer_(io_)
    , buffer_(kReadSize) {
    for (const int signal : kEndingSignals)
        signals_.add(signal);
    awaitSignal();
}

void Link::awaitSignal() {
    signals_.async_wait([this](const std::error_code& ec, int) {
        if (!ec) {
            interrupted_ = true;
            wake();
        }
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
// the loop would round its wait to whole milliseconds and miss 1 ms slots. A change of the
// link cancels the timer (wake), and the wait looks again.
template <class Done> asio::awaitable<bool> Link::until(Done done, SteadyTime deadline) {
    while (!done() && !interrupted_ && std::chrono::steady_clock::now() < deadline) {
        timer_.expires_at(deadline);
        std::error_code woken;
        co_await timer_.async_wait(asio::redirect_error(asio::use_awaitable, woken));
    }
    co_return done();
}

void Link::wake() {
    timer_.cancel();
}

std::optional<std::string> Link::connect(const std::string& host, std::uint16_t port,
                                         std::chrono::milliseconds timeout) {
    return drive(asyncConnect(host, port, timeout));
}

asio::awaitable<std::optional<std::string>> Link::asyncConnect(std::string host, std::uint16_t port,
                                                               std::chrono::milliseconds timeout) {
    const SteadyTime deadline = std::chrono::steady_clock::now() + timeout;
    beginConnect(host, port);
    co_return co_await asyncEndConnect(deadline, timeout);
}

void Link::beginConnect(const std::string& host, std::uint16_t port) {
    close();
    const auto attempt = std::make_shared<Attempt>();
    auto resolver = std::make_shared<asio::ip::tcp::resolver>(io_);
    attempt_ = attempt;
    resolver_ = resolver;
    resolver->async_resolve(
        host, std::to_string(port),
        [this, attempt, resolver](const std::error_code& ec,
                                  const asio::ip::tcp::resolver::results_type& endpoints) {
            if (ec) {
                attempt->result = ec;
                attempt->finished = true;
                wake();
                return;
            }
            asio::async_connect(socket_, endpoints,
                                [this, attempt](const std::error_code& connectError, const auto&) {
                                    attempt->result = connectError;
                                    attempt->finished = true;
                                    wake();
                                });
        });
}

std::optional<std::string> Link::endConnect(SteadyTime deadline,
                                            std::chrono::milliseconds timeout) {
    return drive(asyncEndConnect(deadline, timeout));
}

asio::awaitable<std::optional<std::string>>
Link::asyncEndConnect(SteadyTime deadline, std::chrono::milliseconds timeout) {
    const auto attempt = attempt_;
    const bool finished = co_await until([&] { return attempt->finished; }, deadline);
    if (!finished) {
        resolver_->cancel();
        std::error_code ignored;
        socket_.close(ignored);
        if (interrupted_)
            co_return std::string("interrupted");
        co_return connecting::connectTimedOut(timeout);
    }
    const std::error_code result = attempt->result;
    if (result)
        co_return result == asio::error::host_not_found ? connecting::kHostNotFound
                                                        : reasonOf(result);
    std::error_code ignored;
    socket_.set_option(asio::ip::tcp::no_delay(true), ignored);
    open_ = true;
    lost_ = false;
    lostReason_.clear();
    readNext();
    co_return std::nullopt;
}

void Link::close() {
    std::error_code ignored;
    if (socket_.is_open()) {
        socket_.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
        socket_.close(ignored);
    }
    ++connection_; // the read under way ends with operation_aborted, unseen
    open_ = false;
}

void Link::readNext() {
    socket_.async_read_some(asio::buffer(buffer_), [this, connection = connection_](
                                                       const std::error_code& ec, std::size_t n) {
        if (connection != connection_)
            return;
        wake();
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
    return drive(asyncWaitForArrival(deadline));
}

asio::awaitable<Link::Wait> Link::asyncWaitForArrival(SteadyTime deadline) {
    co_await until([this] { return !arrivals_.empty() || lost_ || !open_; }, deadline);
    if (!arrivals_.empty())
        co_return Wait::Arrival;
    if (interrupted_)
        co_return Wait::Interrupted;
    if (lost_ || !open_)
        co_return Wait::Lost;
    co_return Wait::Deadline;
}

Link::Wait Link::sleepUntil(SteadyTime deadline) {
    return drive(asyncSleepUntil(deadline));
}

asio::awaitable<Link::Wait> Link::asyncSleepUntil(SteadyTime deadline) {
    co_await until([] { return false; }, deadline);
    co_return interrupted_ ? Wait::Interrupted : Wait::Deadline;
}

} // namespace vm::ctl
