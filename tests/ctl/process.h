#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vm::test {

// What a finished program left: its exit code (-1 when it had to be killed) and output.
struct Finished {
    int code = -1;
    std::string out;
    std::string err;
};

// Runs a program to its end (killed after `timeoutMs`), feeding it `input` on stdin.
// `environment` entries ("NAME=value") are added to this process's own.
Finished runProgram(const std::vector<std::string>& argv, const std::string& input = {},
                    const std::vector<std::string>& environment = {}, int timeoutMs = 20000);

// A path in a fresh folder of its own under the system's temporary folder.
std::string temporaryPath(const std::string& name);
std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& text);

// The real vm3870emu on a free loopback port, ended with SIGTERM when this goes.
class Emulator {
public:
    // On a free loopback port; with `toolPort`, on one the window's settings can hold
    // (20000 to 31999, a bounded number of tries).
    explicit Emulator(const std::vector<std::string>& options, bool toolPort = false);
    ~Emulator();
    Emulator(const Emulator&) = delete;
    Emulator& operator=(const Emulator&) = delete;

    std::uint16_t port() const { return port_; }
    // What it reported so far (one line per request, reply and connection).
    std::string log() const;

private:
    bool start(const std::vector<std::string>& options, int port);

    int pid_ = -1;
    std::uint16_t port_ = 0;
    std::string logFile_;
};

// A loopback port whose connects time out: it listens with a queue of one and never takes
// the one client that fills it, so the kernel drops every further connect request.
class FullListener {
public:
    FullListener();
    ~FullListener();
    FullListener(const FullListener&) = delete;
    FullListener& operator=(const FullListener&) = delete;
    std::uint16_t port() const { return port_; }

private:
    int listener_ = -1;
    int client_ = -1;
    std::uint16_t port_ = 0;
};

} // namespace vm::test
