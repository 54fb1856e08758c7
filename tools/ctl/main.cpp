// vm3870ctl: the digital I/O module from scripts, pipelines and production-line checks,
// with no display. See --help.

#include "ctl/cli.h"
#include "ctl/commands.h"
#include "ctl/output.h"

#include <cstdio>

#ifdef _WIN32
#include <windows.h>

#include <timeapi.h>
#endif

int main(int argc, char* argv[]) {
    using namespace vm::ctl;
#ifdef _WIN32
    // Windows wakes waiting threads on its timer tick, 15.6 ms unless a program asks for
    // finer; the event loop's deadlines (watch's 1 ms slots) need 1 ms. Ends with the process.
    timeBeginPeriod(1);
#endif
    const Parsed parsed = parseCommandLine(argc, argv, readWindowSettings(), windowSettingsPath());
    standardOutput().write(parsed.out);
    std::fputs(parsed.err.c_str(), stderr);
    if (!parsed.invocation)
        return exitAfterOutput(parsed.exitCode); // --help > /dev/full is no success either
    const Invocation& inv = *parsed.invocation;
    handleConsoleEndings();
    const int code = [&inv] {
        switch (inv.command) {
        case Command::Status:
        case Command::Set:
        case Command::Reset:
            return runExchange(inv);
        case Command::Watch:
            return runWatch(inv);
        case Command::Decode:
            return runDecode(inv);
        case Command::Ping:
            return runPing(inv);
        case Command::Settings:
            char interval[32];
            std::snprintf(interval, sizeof interval, "%.3f", double(inv.interval.count()) / 1e6);
            standardOutput().write("host " + inv.host + "\nport " + std::to_string(inv.port) +
                                   "\ninterval " + interval + "\nsettings " +
                                   (inv.settingsFile.empty() ? "not found" : inv.settingsFile) +
                                   "\n");
            return exitAfterOutput(kExitOk);
        case Command::Run:
            break;
        }
        return runScript(inv);
    }();
    std::fflush(stdout);
    std::fflush(stderr);
    programEnded();
    return code;
}
