// bench_cycles: request-reply cycles per second through the whole tool (Send, the socket,
// the decoder, the log list and the daily log file) at a repeat interval of 0.001 s against
// the module emulator, with processor time, memory and the log list's size.

#include "harness.h"

#include <QApplication>
#include <QElapsedTimer>

#include <cstdio>

int main(int argc, char* argv[]) {
    vm::bench::useOffscreenPlatform();
    QApplication app(argc, argv);
    const double seconds = vm::bench::setUpProgram(
        QStringLiteral("Measures request-reply cycles per second at a 0.001 s repeat interval."),
        10);
    if (seconds < 0)
        return 2;

    vm::bench::WindowRun run;
    if (!run.start(QStringLiteral("0.001")))
        return 1;
    QElapsedTimer wall;
    wall.start();
    const double cpuAtStart = vm::bench::cpuSeconds();
    const double emulatorCpuAtStart = run.emulatorCpuSeconds();
    qint64 firstKb = 0;
    qint64 lastKb = 0;
    run.runFor(seconds, [&](int passed) {
        lastKb = vm::bench::residentKb();
        if (passed == 1)
            firstKb = lastKb;
    });
    const double elapsed = wall.elapsed() / 1000.0;
    const double cpu = vm::bench::cpuSeconds() - cpuAtStart;
    const double emulatorCpu = run.emulatorCpuSeconds() - emulatorCpuAtStart;
    const qint64 recv = run.recvLines;
    run.stop();

    std::printf("run              %.1f s at 0.001 s, List + File\n", elapsed);
    std::printf("cycles per s     %.1f (%lld RECV lines)\n", recv / elapsed, recv);
    std::printf("SEND lines       %lld, wrong length %lld, errors %lld\n", run.sendLines,
                run.wrongLengthLines, run.errorLines);
    std::printf("CPU              %.1f %% tool, %.1f %% emulator\n", 100 * cpu / elapsed,
                100 * emulatorCpu / elapsed);
    std::printf("RSS              %lld kB after 1 s, %lld kB at the end, peak %lld kB\n", firstKb,
                lastKb, vm::bench::peakResidentKb());
    std::printf("log list         %d lines\n", run.listCount());
    return 0;
}
