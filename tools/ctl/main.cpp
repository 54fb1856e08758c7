// vm3870ctl: the digital I/O module from scripts, pipelines and production-line checks,
// with no display. See --help.

#include "ctl/cli.h"
#include "ctl/commands.h"
#include "ctl/native.h"
#include "ctl/output.h"
#include "probe/privilege.h"

#include <cstdio>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>

#include <timeapi.h>
#endif

namespace {

int run(int argc, const char* const* argv) {
    using namespace vm::ctl;
    useUtf8Output();
    const Parsed parsed = parseCommandLine(argc, argv, readWindowSettings, windowSettingsPath());
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
            return inv.units.empty() ? runExchange(inv) : runUnitsExchange(inv);
        case Command::Expect:
            return runExpect(inv);
        case Command::Watch:
            return inv.units.empty() ? runWatch(inv) : runUnitsWatch(inv);
        case Command::Decode:
            return runDecode(inv);
        case Command::Ping:
            return runPing(inv);
        case Command::Settings:
            return exitAfterOutput(kExitOk); // its lines were printed above
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

} // namespace

#ifdef _WIN32
// Windows gives the command line in UTF-16 here; a narrow main would get it in the code page,
// with every character outside it lost.
int wmain(int argc, wchar_t* argv[]) {
    // Windows wakes waiting threads on its timer tick, 15.6 ms unless a program asks for
    // finer; the event loop's deadlines (watch's 1 ms slots) need 1 ms. Ends with the process.
    timeBeginPeriod(1);
    std::vector<std::string> words;
    for (int i = 0; i < argc; ++i)
        words.push_back(vm::ctl::utf8Of(argv[i]));
    std::vector<const char*> args;
    for (const std::string& word : words)
        args.push_back(word.c_str());
    return run(argc, args.data());
}
#else
int main(int argc, char* argv[]) {
    vm::confineRawSocketPrivilege();
    return run(argc, argv);
}
#endif
