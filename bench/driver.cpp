// Start-up and idle figures of a GUI program, measured from outside: the program is
// started as it would be from a desktop, with no argument or variable of its own.
//
// Start-up: the time from spawning the process to the X server's MapNotify for its
// top-level window (the moment the window becomes visible), read from the driver's own
// connection to the X server, which listens to SubstructureNotify on the root window.
// The display must be one the driver has to itself (a private Xvfb, as bench/run.sh starts) and
// without a window manager, so that every top-level map is a child of the root.
//
// Idle: after the window has been shown and a settling time has passed, the process's
// CPU time (utime + stime of all threads, /proc/PID/stat) and its wake-ups (voluntary
// context switches summed over /proc/PID/task/*/status) over a fixed span; once with
// the window unfocused, once after the driver gave it the keyboard focus.
//
//   bench_driver startup <runs> <program> [<program>...]
//   bench_driver idle <seconds> <program> [<program>...]

#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {
using Clock = std::chrono::steady_clock;

struct Display {
    xcb_connection_t* connection = nullptr;

    bool open() {
        int screenNumber = 0;
        connection = xcb_connect(nullptr, &screenNumber);
        if (xcb_connection_has_error(connection))
            return false;
        xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection));
        for (int i = 0; i < screenNumber; ++i)
            xcb_screen_next(&it);
        const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(connection, it.data->root, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(connection);
        return true;
    }

    // What a window manager does for a new window: give it the keyboard focus.
    void focus(xcb_window_t window) {
        xcb_set_input_focus(connection, XCB_INPUT_FOCUS_POINTER_ROOT, window, XCB_CURRENT_TIME);
        xcb_flush(connection);
    }

    void drain() {
        while (xcb_generic_event_t* event = xcb_poll_for_event(connection))
            std::free(event);
    }

    xcb_window_t mappedWindow = XCB_NONE;

    // Waits for a top-level window to be mapped; false when the time is up.
    bool waitForMap(Clock::time_point deadline) {
        const int fd = xcb_get_file_descriptor(connection);
        while (Clock::now() < deadline) {
            while (xcb_generic_event_t* event = xcb_poll_for_event(connection)) {
                const auto* map = reinterpret_cast<xcb_map_notify_event_t*>(event);
                const bool mapped =
                    (event->response_type & 0x7f) == XCB_MAP_NOTIFY && !map->override_redirect;
                if (mapped)
                    mappedWindow = map->window;
                std::free(event);
                if (mapped)
                    return true;
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            pollfd p{fd, POLLIN, 0};
            ::poll(&p, 1, int(std::max<long long>(1, left.count())));
        }
        return false;
    }
};

pid_t spawn(const std::string& program) {
    pid_t pid = -1;
    char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
    if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, environ) != 0)
        return -1;
    return pid;
}

void stop(pid_t pid) {
    ::kill(pid, SIGTERM);
    for (int i = 0; i < 200; ++i) {
        if (::waitpid(pid, nullptr, WNOHANG) == pid)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

// Starts the program and returns its pid once its window is mapped, or -1.
pid_t startAndWait(Display& display, const std::string& program, double& ms) {
    display.drain();
    const Clock::time_point start = Clock::now();
    const pid_t pid = spawn(program);
    if (pid < 0)
        return -1;
    if (!display.waitForMap(start + std::chrono::seconds(20))) {
        stop(pid);
        return -1;
    }
    ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    return pid;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::string baseName(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

int startup(Display& display, int runs, const std::vector<std::string>& programs) {
    std::vector<std::vector<double>> times(programs.size());
    // One unmeasured run each to warm the page cache, then the programs in turn so that
    // background load falls on all of them alike.
    for (int run = -1; run < runs; ++run) {
        for (size_t p = 0; p < programs.size(); ++p) {
            double ms = 0;
            const pid_t pid = startAndWait(display, programs[p], ms);
            if (pid < 0) {
                std::fprintf(stderr, "%s: no window within 20 s\n", programs[p].c_str());
                return 1;
            }
            stop(pid);
            if (run >= 0)
                times[p].push_back(ms);
        }
    }
    for (size_t p = 0; p < programs.size(); ++p) {
        const auto [lo, hi] = std::minmax_element(times[p].begin(), times[p].end());
        std::printf("startup: %-18s %7.1f ms median (n=%d, min %.1f, max %.1f)",
                    baseName(programs[p]).c_str(), median(times[p]), runs, *lo, *hi);
        if (p > 0)
            std::printf(", %s/%s %.2f", baseName(programs[0]).c_str(),
                        baseName(programs[p]).c_str(), median(times[0]) / median(times[p]));
        std::printf("\n");
    }
    return 0;
}

struct Usage {
    double cpuMs = 0;
    long long voluntary = 0;
    long long involuntary = 0;
    int threads = 0;
};

Usage sample(pid_t pid) {
    Usage usage;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    // Fields after the command name in brackets: state is field 3, utime 14, stime 15.
    std::istringstream rest(line.substr(line.rfind(')') + 2));
    std::vector<std::string> fields;
    for (std::string f; rest >> f;)
        fields.push_back(f);
    if (fields.size() > 12) {
        const double tick = double(::sysconf(_SC_CLK_TCK));
        usage.cpuMs = (std::stod(fields[11]) + std::stod(fields[12])) * 1000.0 / tick;
    }
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    if (DIR* dir = ::opendir(tasks.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            if (entry->d_name[0] == '.')
                continue;
            ++usage.threads;
            std::ifstream status(tasks + "/" + entry->d_name + "/status");
            for (std::string l; std::getline(status, l);) {
                if (l.rfind("voluntary_ctxt_switches:", 0) == 0)
                    usage.voluntary += std::stoll(l.substr(l.find(':') + 1));
                else if (l.rfind("nonvoluntary_ctxt_switches:", 0) == 0)
                    usage.involuntary += std::stoll(l.substr(l.find(':') + 1));
            }
        }
        ::closedir(dir);
    }
    return usage;
}

int idle(Display& display, int seconds, const std::vector<std::string>& programs) {
    for (const std::string& program : programs) {
        double ms = 0;
        const pid_t pid = startAndWait(display, program, ms);
        if (pid < 0) {
            std::fprintf(stderr, "%s: no window within 20 s\n", program.c_str());
            return 1;
        }
        // First without the keyboard focus, then with it, as on a desktop where the new
        // window is the active one (a focused text field blinks its cursor).
        for (const char* phase : {"unfocused", "focused"}) {
            if (std::strcmp(phase, "focused") == 0)
                display.focus(display.mappedWindow);
            std::this_thread::sleep_for(std::chrono::seconds(2)); // let earlier work finish
            const Usage before = sample(pid);
            std::this_thread::sleep_for(std::chrono::seconds(seconds));
            const Usage after = sample(pid);
            std::printf("idle: %-18s %-9s cpu %.1f ms in %d s (%.2f%%), wake-ups %.2f/s "
                        "(voluntary %lld, involuntary %lld, %d threads)\n",
                        baseName(program).c_str(), phase, after.cpuMs - before.cpuMs, seconds,
                        (after.cpuMs - before.cpuMs) / (seconds * 10.0),
                        double(after.voluntary - before.voluntary) / seconds,
                        after.voluntary - before.voluntary, after.involuntary - before.involuntary,
                        after.threads);
        }
        stop(pid);
    }
    return 0;
}
} // namespace

int main(int argc, char* argv[]) {
    if (argc < 4) {
        std::fprintf(stderr,
                     "usage: %s startup <runs> <program>...\n"
                     "       %s idle <seconds> <program>...\n",
                     argv[0], argv[0]);
        return 2;
    }
    const std::string mode = argv[1];
    const int count = std::atoi(argv[2]);
    const std::vector<std::string> programs(argv + 3, argv + argc);
    if (count < 1 || (mode != "startup" && mode != "idle")) {
        std::fprintf(stderr, "%s: bad mode or count\n", argv[0]);
        return 2;
    }
    Display display;
    if (!display.open()) {
        std::fprintf(stderr, "%s: cannot open the X display (DISPLAY=%s)\n", argv[0],
                     std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "");
        return 1;
    }
    const int status =
        mode == "startup" ? startup(display, count, programs) : idle(display, count, programs);
    xcb_disconnect(display.connection);
    return status;
}
