// soak: the real window, offscreen, repeats Send every 0.01 s (or --interval) against the
// module emulator with "List + File" for a given time, then checks that every status frame
// the emulator sent is in the daily log file exactly once and in order, and that the
// resident memory stayed flat after the warm-up. --load keeps both cores busy meanwhile.
// Prints its figures; exits 1 on a mismatch or growth.

#include "harness.h"

#include <QApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <memory>

int main(int argc, char* argv[]) {
    if (const auto status = vm::bench::prepareProcess(argc, argv))
        return *status;
    QApplication app(argc, argv);
    const auto options = vm::bench::setUpProgram(
        QStringLiteral("Repeats Send against the module emulator and checks the daily log file "
                       "and the memory."),
        600, QStringLiteral("0.01"));
    if (!options)
        return 2;

    constexpr qint64 kFlatKb = 1024;
    // Memory is judged after the warm-up: a tenth of the run, at most a minute.
    const int warmUp = std::max(1, std::min(60, int(options->seconds / 10)));

    vm::bench::WindowRun run;
    if (!run.start(options->interval))
        return 1;
    std::unique_ptr<vm::bench::BusyLoad> load;
    if (options->load)
        load = std::make_unique<vm::bench::BusyLoad>(2, options->seconds + 10);
    QElapsedTimer wall;
    wall.start();
    const double cpuAtStart = vm::bench::cpuSeconds();
    qint64 minKb = 0;
    qint64 maxKb = 0;
    run.runFor(options->seconds, [&](int passed) {
        const qint64 kb = vm::bench::residentKb();
        if (passed == warmUp)
            minKb = maxKb = kb;
        else if (passed > warmUp) {
            minKb = std::min(minKb, kb);
            maxKb = std::max(maxKb, kb);
        }
        if (passed % 60 == 0)
            std::printf("%5d s  RECV %lld  wrong length %lld  RSS %lld kB\n", passed, run.recvLines,
                        run.wrongLengthLines, kb);
        std::fflush(stdout);
    });
    const double elapsed = wall.elapsed() / 1000.0;
    const double cpu = vm::bench::cpuSeconds() - cpuAtStart;
    const double busy = load ? load->busyPercent() : 0;
    const qint64 peakKb = vm::bench::peakResidentKb(); // before the check reads the files
    load.reset();
    run.stop();

    std::printf("run              %.1f s at %s s, List + File%s\n", elapsed,
                qPrintable(options->interval), options->load ? ", under load" : "");
    if (options->load)
        std::printf("load             2 busy processes, %.0f %% of a core each\n", busy);
    const vm::bench::FrameCheck frames = vm::bench::printDelivery(run);
    std::printf("log list         %d lines kept\n", run.listCount());
    std::printf("cycles per s     %.1f\n", run.recvLines / elapsed);
    std::printf("CPU              %.1f %% tool, %.1f s emulator\n", 100 * cpu / elapsed,
                run.emulatorCpuSeconds());
    const bool memoryFlat = maxKb - minKb <= kFlatKb;
    std::printf("RSS after %d s   %lld to %lld kB (spread %lld kB, allowed %lld), peak %lld kB\n",
                warmUp, minKb, maxKb, maxKb - minKb, kFlatKb, peakKb);
    if (!memoryFlat)
        std::printf("MEMORY GREW by more than %lld kB after the warm-up\n", kFlatKb);
    std::printf("%s\n", frames.match && memoryFlat ? "soak passed" : "soak FAILED");
    return frames.match && memoryFlat ? 0 : 1;
}
