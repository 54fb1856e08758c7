#include "process.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <netinet/in.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace vm::test {

namespace {

using Clock = std::chrono::steady_clock;

// Waits for a child, killing it when the time is up; its exit code or -1.
int reap(int pid, int timeoutMs) {
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 0;
    for (;;) {
        const int done = waitpid(pid, &status, WNOHANG);
        if (done == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (done < 0 || Clock::now() >= end)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
}

int spawn(const std::vector<std::string>& argv, const std::string& in, const std::string& out,
          const std::string& err, const std::vector<std::string>& environment) {
    const int pid = fork();
    if (pid != 0)
        return pid;
    const auto redirect = [](const std::string& path, int fd, int flags) {
        const int file = open(path.c_str(), flags, 0644);
        if (file < 0 || dup2(file, fd) < 0)
            _exit(127);
        close(file);
    };
    redirect(in, STDIN_FILENO, O_RDONLY);
    redirect(out, STDOUT_FILENO, O_WRONLY | O_CREAT | O_TRUNC);
    redirect(err, STDERR_FILENO, O_WRONLY | O_CREAT | O_TRUNC);
    for (const std::string& entry : environment)
        putenv(const_cast<char*>(entry.c_str()));
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
}

} // namespace

Finished runProgram(const std::vector<std::string>& argv, const std::string& input,
                    const std::vector<std::string>& environment, int timeoutMs) {
    const std::string base = temporaryPath("run");
    writeFile(base + ".in", input);
    const int pid = spawn(argv, base + ".in", base + ".out", base + ".err", environment);
    Finished f;
    f.code = reap(pid, timeoutMs);
    f.out = readFile(base + ".out");
    f.err = readFile(base + ".err");
    return f;
}

Emulator::Emulator(const std::vector<std::string>& options, bool toolPort) {
    logFile_ = temporaryPath("emulator.log");
    const int first = 20000 + static_cast<int>(getpid() % 6000) * 2;
    for (int attempt = 0; attempt < 20; ++attempt)
        if (start(options, toolPort ? first + attempt : 0))
            return;
    throw std::runtime_error("the emulator did not start: " + readFile(logFile_ + ".err"));
}

bool Emulator::start(const std::vector<std::string>& options, int port) {
    std::vector<std::string> argv{VM_BUILD_DIR "/vm3870emu", "--listen",
                                  "127.0.0.1:" + std::to_string(port)};
    argv.insert(argv.end(), options.begin(), options.end());
    pid_ = spawn(argv, "/dev/null", logFile_, logFile_ + ".err", {});
    // Its first line names the port it took: "... listening on 127.0.0.1:PORT, ..."; a port
    // it cannot bind ends it.
    const auto end = Clock::now() + std::chrono::seconds(10);
    int status = 0;
    while (Clock::now() < end && waitpid(pid_, &status, WNOHANG) == 0) {
        const std::string text = log();
        // (With --units --listen-each, the first unit's line: "listening on 127.0.0.2:PORT".)
        const std::size_t at = text.find("listening on 127.0.0.");
        const std::size_t colon = text.find(':', at == std::string::npos ? 0 : at + 13);
        if (at != std::string::npos && colon != std::string::npos &&
            text.find(',', colon) != std::string::npos) {
            port_ = static_cast<std::uint16_t>(std::atoi(text.c_str() + colon + 1));
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    pid_ = -1;
    return false;
}

Emulator::~Emulator() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        reap(pid_, 5000);
    }
}

std::string Emulator::log() const {
    return readFile(logFile_);
}

FullListener::FullListener() {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    client_ = socket(AF_INET, SOCK_STREAM, 0);
    if (listener_ < 0 || client_ < 0 ||
        bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener_, 0) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        connect(client_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        throw std::runtime_error("cannot set up a listener with a full queue");
    port_ = ntohs(address.sin_port);
}

FullListener::~FullListener() {
    close(client_);
    close(listener_);
}

} // namespace vm::test
