// vm3870ctl: the digital I/O module from scripts, pipelines and production-line checks,
// with no display. See --help.

#include "ctl/cli.h"
#include "ctl/commands.h"

#include <cstdio>

int main(int argc, char* argv[]) {
    using namespace vm::ctl;
    const Parsed parsed = parseCommandLine(argc, argv, readWindowSettings(), windowSettingsPath());
    std::fputs(parsed.out.c_str(), stdout);
    std::fputs(parsed.err.c_str(), stderr);
    if (!parsed.invocation)
        return parsed.exitCode;
    const Invocation& inv = *parsed.invocation;
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
    case Command::Run:
        break;
    }
    return runScript(inv);
}
