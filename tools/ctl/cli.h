#pragma once

#include "ctl/record.h"
#include "ctl/report.h"
#include "ctl/settings.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vm::ctl {

// Exit codes of vm3870ctl.
enum Exit : int {
    kExitOk = 0,          // success, every check passed
    kExitCheckFailed = 1, // a check failed, or a reply failed its checks
    kExitUsage = 2,       // usage or script syntax error, said before anything is sent
    kExitConnect = 3,     // could not connect
    kExitLost = 4,        // connection lost, or no reply within the timeout
    kExitWrite = 5,       // an output (stdout, --vcd, --junit) could not be written whole
};

inline constexpr const char* kVersion = "vm3870ctl " VM_VERSION;
inline constexpr std::string_view kDefaultHost = vm::settings::kDefaultAddress;
inline constexpr std::uint16_t kDefaultPort = 4000;

enum class Command { Status, Set, Reset, Watch, Decode, Run, Ping, Settings, Expect };

// One module of several (-H given more than once, or --units FILE): what records and
// reports call it, where it is, and its own --var values.
struct Unit {
    std::string name;
    std::string host;
    std::uint16_t port = 0;
    Properties vars; // after the command line's --var values
};

// What the command line asks for, checked and with the defaults filled in.
struct Invocation {
    Command command = Command::Status;
    std::string host;
    std::uint16_t port = kDefaultPort;
    std::chrono::milliseconds timeout{1000};
    std::size_t frameLength = 0; // 33, 34 or 57; 0: learned from the first reply
    Format format = Format::Text;
    bool header = true; // csv: the header line first (--no-header leaves it out)
    bool quiet = false;

    char channel = 0; // set, reset
    char value = 0;   // set

    std::chrono::microseconds interval{1000000}; // watch; 0 = back to back
    std::optional<std::uint64_t> count;          // watch: slots (requests); ping: probes
    std::optional<std::chrono::microseconds> duration;
    std::string vcdFile;
    bool reconnect = false;

    std::vector<std::string> hex; // decode
    std::string inputFile;        // decode --file

    std::string condition; // expect: the check as a script's step ("expect DI0 == 1 within 2s")

    std::string script; // run
    std::string junitFile;
    // NAME=VALUE pairs of the run (a unit's serial number), in the order given: TAP, the
    // JUnit properties and the verdict show them.
    std::chrono::milliseconds poll{10};
    Properties vars; // --var NAME=VALUE, in the order given

    std::string settingsFile; // where the window's settings were looked for

    // Two or more modules, each in turn as host, port and vars; empty for one module (host,
    // port), whose output stays as it always was.
    std::vector<Unit> units;
};

// The invocation as it applies to one unit.
Invocation forUnit(const Invocation& inv, const Unit& unit);

// Either an invocation to carry out, or the end of the program: an exit code with what to
// print on stdout (help, version) and stderr (what is wrong).
struct Parsed {
    std::optional<Invocation> invocation;
    int exitCode = kExitOk;
    std::string out;
    std::string err;
};

// argv[0] is the program name. The window's settings give the host, port and watch interval
// where the command line does not; `readSettings` is called only by commands that need them
// (decode does not). `settings` prints its lines from here (Parsed::out).
Parsed parseCommandLine(int argc, const char* const* argv,
                        const std::function<WindowSettings()>& readSettings,
                        const std::string& settingsFile);

} // namespace vm::ctl
