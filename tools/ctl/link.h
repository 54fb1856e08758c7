#pragma once

#include <asio.hpp>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <type_traits>
#include <vector>

namespace vm::ctl {

using SteadyTime = std::chrono::steady_clock::time_point;

// The signals that end a command as Ctrl+C does: a stop from a CI job or a service manager
// (SIGTERM), a closed terminal (SIGHUP), Ctrl+Break on Windows. A Windows console that
// closes, a logoff and a shutdown arrive as SIGBREAK too (see handleConsoleEndings).
inline constexpr int kEndingSignals[] = {SIGINT, SIGTERM,
#ifdef _WIN32
                                         SIGBREAK
#else
                                         SIGHUP
#endif
};

// Windows: has a console that closes, a logoff and a shutdown end the program as Ctrl+Break
// does, the system waiting while the command writes its summary and reports, until
// programEnded(). Elsewhere these do nothing (the signals above cover it).
void handleConsoleEndings();
void programEnded();

// One read from the connection: the bytes that came together, and when.
struct Arrival {
    std::vector<std::uint8_t> bytes;
    SteadyTime at;
    std::chrono::system_clock::time_point wall;
};

// The TCP connection to the module, driven on the caller's thread: every wait runs the
// event loop until its condition holds or its deadline passes, so arrivals are taken in as
// they come and Ctrl+C (or SIGTERM) ends any wait.
//
// Each wait is a coroutine (the async* functions), so that the work of several modules can
// wait side by side on one event loop; the plain functions run that coroutine to its end.
class Link {
public:
    Link();
    // A link whose waits run a loop shared with other links: while one waits, the others
    // take in their arrivals too, so that several modules are served at once on one thread.
    explicit Link(asio::io_context& io);
    // Once interrupted, the program is ending: a repeated Ctrl+C or a second SIGTERM (a CI
    // runner signals the whole process group as well) no longer cuts short the summary and
    // reports written after the link is gone.
    ~Link();
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    // Connects within the timeout; nothing on success, else why not.
    std::optional<std::string> connect(const std::string& host, std::uint16_t port,
                                       std::chrono::milliseconds timeout);
    // The same in two halves, so that several links connect at once: the first starts it,
    // the second waits for it until the deadline.
    void beginConnect(const std::string& host, std::uint16_t port);
    std::optional<std::string> endConnect(SteadyTime deadline, std::chrono::milliseconds timeout);
    asio::awaitable<std::optional<std::string>> asyncConnect(std::string host, std::uint16_t port,
                                                             std::chrono::milliseconds timeout);
    asio::awaitable<std::optional<std::string>> asyncEndConnect(SteadyTime deadline,
                                                                std::chrono::milliseconds timeout);
    // A read still under way when the connection closes ends unseen: a connection opened
    // after it never hears of it.
    void close();
    bool isOpen() const { return open_; }

    // Writes one request frame; false when the connection is gone (see lostReason).
    bool send(std::span<const std::uint8_t> frame);

    enum class Wait { Arrival, Deadline, Lost, Interrupted };
    // Until something has arrived (or had arrived before), the link is lost, or the deadline.
    Wait waitForArrival(SteadyTime deadline);
    // Until the deadline, taking in arrivals meanwhile; ends early only on Ctrl+C.
    Wait sleepUntil(SteadyTime deadline);
    asio::awaitable<Wait> asyncWaitForArrival(SteadyTime deadline);
    asio::awaitable<Wait> asyncSleepUntil(SteadyTime deadline);

    // Runs the event loop until `work` has ended (other work on the loop going on meanwhile),
    // and gives its result.
    template <class T> T drive(asio::awaitable<T> work);

    std::deque<Arrival>& arrivals() { return arrivals_; }
    const std::string& lostReason() const { return lostReason_; }
    bool interrupted() const { return interrupted_; }
    // Lets waits run again after Ctrl+C (for steps that must still run); the next Ctrl+C
    // ends them as the first did.
    void resume();

private:
    Link(std::unique_ptr<asio::io_context> own, asio::io_context* shared);
    // Until `done()` holds, the deadline or Ctrl+C; whether `done()` holds.
    template <class Done> asio::awaitable<bool> until(Done done, SteadyTime deadline);
    // Whatever changed the link ends the wait under way, which looks again.
    void wake();
    void readNext();
    void awaitSignal();

    // The handlers may run after a timed-out connect returns (a name look-up cannot be cut
    // short), so what they write lives as long as they do.
    struct Attempt {
        bool finished = false;
        std::error_code result = asio::error::timed_out;
    };

    std::unique_ptr<asio::io_context> ownIo_;
    asio::io_context& io_;
    asio::ip::tcp::socket socket_;
    asio::signal_set signals_;
    asio::steady_timer timer_;
    std::vector<std::uint8_t> buffer_;
    std::deque<Arrival> arrivals_;
    unsigned connection_ = 0; // which connection a read belongs to
    bool open_ = false;
    bool lost_ = false;
    bool interrupted_ = false;
    std::string lostReason_;
    std::shared_ptr<Attempt> attempt_;
    std::shared_ptr<asio::ip::tcp::resolver> resolver_;
};

template <class T> T Link::drive(asio::awaitable<T> work) {
    using Result = std::conditional_t<std::is_void_v<T>, bool, T>;
    std::optional<Result> result;
    std::exception_ptr failure;
    if constexpr (std::is_void_v<T>)
        asio::co_spawn(io_, std::move(work), [&](std::exception_ptr e) {
            failure = e;
            result = true;
        });
    else
        asio::co_spawn(io_, std::move(work), [&](std::exception_ptr e, T value) {
            failure = e;
            result = std::move(value);
        });
    while (!result) {
        if (io_.stopped())
            io_.restart();
        io_.run_one();
    }
    if (failure)
        std::rethrow_exception(failure);
    if constexpr (!std::is_void_v<T>)
        return std::move(*result);
}

} // namespace vm::ctl
