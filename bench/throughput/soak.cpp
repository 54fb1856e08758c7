// soak: the real window, offscreen, repeats Send every 0.01 s against the module emulator
// with "List + File" for a given time, then checks that every status frame the emulator
// sent is in the daily log file exactly once and in order, and that the resident memory
// stayed flat after the warm-up. Prints its figures; exits 1 on a mismatch or growth.

#include "harness.h"

#include <QApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>

int main(int argc, char* argv[]) {
    vm::bench::useOffscreenPlatform();
    QApplication app(argc, argv);
    const double seconds = vm::bench::setUpProgram(
        QStringLiteral("Repeats Send every 0.01 s against the module emulator and checks the "
                       "daily log file and the memory."),
        600);
    if (seconds < 0)
        return 2;

    constexpr qint64 kFlatKb = 1024;
    // Memory is judged after the warm-up: a tenth of the run, at most a minute.
    const int warmUp = std::max(1, std::min(60, int(seconds / 10)));

    vm::bench::WindowRun run;
    if (!run.start(QStringLiteral("0.01")))
        return 1;
    QElapsedTimer wall;
    wall.start();
    const double cpuAtStart = vm::bench::cpuSeconds();
    qint64 minKb = 0;
    qint64 maxKb = 0;
    run.runFor(seconds, [&](int passed) {
        const qint64 kb = vm::bench::residentKb();
        if (passed == warmUp)
            minKb = maxKb = kb;
        else if (passed > warmUp) {
            minKb = std::min(minKb, kb);
            maxKb = std::max(maxKb, kb);
        }
        if (passed % 60 == 0)
            std::printf("%5d s  RECV %lld  RSS %lld kB\n", passed, run.recvLines, kb);
        std::fflush(stdout);
    });
    const double elapsed = wall.elapsed() / 1000.0;
    const double cpu = vm::bench::cpuSeconds() - cpuAtStart;
    run.stop();

    const QStringList sent = run.emulatorFrames();
    const QStringList filed = run.fileFrames();
    qsizetype firstDifference = -1;
    for (qsizetype i = 0; i < std::max(sent.size(), filed.size()); ++i) {
        if (sent.value(i) != filed.value(i)) {
            firstDifference = i;
            break;
        }
    }
    const bool framesMatch = firstDifference < 0;
    // Where they differ: are the filed frames still the emulator's in order, only with some
    // left out? Replies that reached the window together form one arrival of the wrong length.
    qsizetype matched = 0;
    for (qsizetype i = 0; i < sent.size() && matched < filed.size(); ++i) {
        if (sent[i] == filed[matched])
            ++matched;
    }
    const bool inOrderSubset = matched == filed.size();
    const bool memoryFlat = maxKb - minKb <= kFlatKb;

    std::printf("run              %.1f s at 0.01 s, List + File\n", elapsed);
    std::printf("frames sent      %lld by the emulator\n", qint64(sent.size()));
    std::printf("frames filed     %lld RECV entries in the daily log file\n", qint64(filed.size()));
    std::printf("log list         RECV %lld, SEND %lld, wrong length %lld, errors %lld, %d lines "
                "kept\n",
                run.recvLines, run.sendLines, run.wrongLengthLines, run.errorLines,
                run.listCount());
    std::printf("cycles per s     %.1f\n", run.recvLines / elapsed);
    std::printf("CPU              %.1f %% tool, %.1f s emulator\n", 100 * cpu / elapsed,
                run.emulatorCpuSeconds());
    std::printf("RSS after %d s   %lld to %lld kB (spread %lld kB, allowed %lld), peak %lld kB\n",
                warmUp, minKb, maxKb, maxKb - minKb, kFlatKb, vm::bench::peakResidentKb());
    if (!framesMatch) {
        std::printf("MISMATCH at frame %lld: emulator \"%s\", file \"%s\"\n",
                    qint64(firstDifference), qPrintable(sent.value(firstDifference)),
                    qPrintable(filed.value(firstDifference)));
        std::printf("                 the file %s the emulator's frames in order with %lld left "
                    "out; %lld arrivals were of a wrong length (replies read together)\n",
                    inOrderSubset ? "holds" : "does NOT hold", qint64(sent.size() - filed.size()),
                    run.wrongLengthLines);
    }
    if (!memoryFlat)
        std::printf("MEMORY GREW by more than %lld kB after the warm-up\n", kFlatKb);
    std::printf("%s\n", framesMatch && memoryFlat ? "soak passed" : "soak FAILED");
    return framesMatch && memoryFlat ? 0 : 1;
}
