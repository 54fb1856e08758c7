#pragma once

#include <asio.hpp>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <string>
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
class Link {
public:
    Link();
    // Once interrupted, the program is ending: a repeated Ctrl+C or a second SIGTERM (a CI
    // runner signals the whole process group as well) no longer cuts short the summary and
    // reports written after the link is gone.
    ~Link();
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    // Connects within the timeout; nothing on success, else why not.
    std::optional<std::string> connect(const std::string& host, std::uint16_t port,
                                       std::chrono::milliseconds timeout);
    void close();
    bool isOpen() const { return open_; }

    // Writes one request frame; false when the connection is gone (see lostReason).
    bool send(std::span<const std::uint8_t> frame);

    enum class Wait { Arrival, Deadline, Lost, Interrupted };
    // Until something has arrived (or had arrived before), the link is lost, or the deadline.
    Wait waitForArrival(SteadyTime deadline);
    // Until the deadline, taking in arrivals meanwhile; ends early only on Ctrl+C.
    Wait sleepUntil(SteadyTime deadline);

    std::deque<Arrival>& arrivals() { return arrivals_; }
    const std::string& lostReason() const { return lostReason_; }
    bool interrupted() const { return interrupted_; }
    // Lets waits run again after Ctrl+C (for steps that must still run); the next Ctrl+C
    // ends them as the first did.
    void resume();

private:
    template <class Done> bool runUntil(Done done, SteadyTime deadline);
    void readNext();
    void awaitSignal();

    asio::io_context io_;
    asio::ip::tcp::socket socket_;
    asio::signal_set signals_;
    asio::steady_timer timer_;
    std::vector<std::uint8_t> buffer_;
    std::deque<Arrival> arrivals_;
    bool open_ = false;
    bool lost_ = false;
    bool interrupted_ = false;
    std::string lostReason_;
};

} // namespace vm::ctl
