// Runs one probe and prints its result line, so that the tests can run the probe inside
// network namespaces of their own and as another user (and, built for Windows, under Wine):
//   ping_probe_helper [--socket=ping|raw] <address box text>
//   ping_probe_helper --resolve <name>   (the look-up alone: prints the address, sends nothing)
#include "probe/probe.h"

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--resolve") == 0) {
        const auto address = vm::resolveFirstIpv4(argv[2]);
        std::puts(address ? vm::dottedAddress(*address).c_str() : "unknown");
        return 0;
    }
    vm::ProbeSetup setup;
    int next = 1;
    if (next < argc && std::strncmp(argv[next], "--socket=", 9) == 0) {
        const char* kind = argv[next++] + 9;
        setup.socket = std::strcmp(kind, "raw") == 0    ? vm::EchoSocket::Raw
                       : std::strcmp(kind, "ping") == 0 ? vm::EchoSocket::Ping
                                                        : vm::EchoSocket::Automatic;
    }
    if (next + 1 != argc) {
        std::fputs("usage: ping_probe_helper [--socket=ping|raw] <address box text>\n"
                   "       ping_probe_helper --resolve <name>\n",
                   stderr);
        return 2;
    }
    std::puts(vm::pingResultLine(argv[next], setup).c_str());
    return 0;
}
