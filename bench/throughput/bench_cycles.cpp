// bench_cycles: request-reply cycles per second through the whole tool (Send, the socket,
// the decoder, the log list and the daily log file) at a repeat interval of 0.001 s against
// the module emulator, with processor time, memory, the log list's size and whether every
// reply reached the daily file. --load keeps both cores busy meanwhile; --a11y attaches an
// accessibility client as a screen reader does.

#include "harness.h"

#include <QApplication>
#include <QElapsedTimer>

#include <cstdio>
#include <memory>

int main(int argc, char* argv[]) {
    if (const auto status = vm::bench::prepareProcess(argc, argv))
        return *status;
    QApplication app(argc, argv);
    const auto options = vm::bench::setUpProgram(
        QStringLiteral("Measures request-reply cycles per second at a short repeat interval."), 10,
        QStringLiteral("0.001"), true);
    if (!options)
        return 2;

    vm::bench::AccessibilityListener listener;
    if (options->a11y && !listener.start())
        return 1;
    vm::bench::WindowRun run;
    if (!run.start(options->interval))
        return 1;
    std::unique_ptr<vm::bench::BusyLoad> load;
    if (options->load)
        load = std::make_unique<vm::bench::BusyLoad>(2, options->seconds + 10);
    QElapsedTimer wall;
    wall.start();
    const double cpuAtStart = vm::bench::cpuSeconds();
    const double emulatorCpuAtStart = run.emulatorCpuSeconds();
    qint64 firstKb = 0;
    qint64 lastKb = 0;
    run.runFor(options->seconds, [&](int passed) {
        lastKb = vm::bench::residentKb();
        if (passed == 1)
            firstKb = lastKb;
    });
    const double elapsed = wall.elapsed() / 1000.0;
    const double cpu = vm::bench::cpuSeconds() - cpuAtStart;
    const double emulatorCpu = run.emulatorCpuSeconds() - emulatorCpuAtStart;
    const qint64 recv = run.recvLines;
    const double busy = load ? load->busyPercent() : 0;
    const qint64 peakKb = vm::bench::peakResidentKb(); // before the check reads the files
    load.reset();
    run.stop();

    std::printf("run              %.1f s at %s s, List + File%s%s\n", elapsed,
                qPrintable(options->interval), options->load ? ", under load" : "",
                options->a11y ? ", accessibility client listening" : "");
    if (options->load)
        std::printf("load             2 busy processes, %.0f %% of a core each\n", busy);
    std::printf("cycles per s     %.1f (%lld RECV lines)\n", recv / elapsed, recv);
    vm::bench::printDelivery(run);
    std::printf("CPU              %.1f %% tool, %.1f %% emulator\n", 100 * cpu / elapsed,
                100 * emulatorCpu / elapsed);
    std::printf("RSS              %lld kB after 1 s, %lld kB at the end, peak %lld kB\n", firstKb,
                lastKb, peakKb);
    std::printf("log list         %d lines\n", run.listCount());
    if (options->a11y) {
        QString heard;
        const QString report = listener.stop(&heard);
        std::printf("listener\n%s", qPrintable(report));
        std::printf("newest line      %s read by the listener\n",
                    heard == run.newestLine() ? "was" : "was NOT");
    }
    return 0;
}
