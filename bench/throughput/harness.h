#pragma once

#include "support/emulator_process.h"
#include "support/memory.h"
#include "window/frmSim_3870.h"

#include <QByteArrayList>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <memory>

namespace vm::bench {

// Chooses the offscreen platform unless QT_QPA_PLATFORM says otherwise; call it before the
// application object is made.
void useOffscreenPlatform();

// Sets up the application with the settings store in its test place, reads
// "--seconds N" (default given), and reports error boxes on standard error instead of
// waiting for a user. Returns the seconds, or a negative value after printing the usage.
double setUpProgram(const QString& description, double defaultSeconds);

using vm::test::peakResidentKb;
using vm::test::residentKb;

// User and system processor time of this process so far, in seconds.
double cpuSeconds();

// The real window, offscreen, repeating Send against the module emulator with "List + File"
// chosen, its log folder in a temporary program folder. Counts every line the window's log
// list receives, so that the count goes on past the list's limit.
class WindowRun {
public:
    WindowRun();
    ~WindowRun();

    // Starts the emulator (its output into a file in the program folder), connects the
    // window and starts Repeat at the interval text. False after a message on failure.
    bool start(const QString& intervalText);
    // Runs the event loop for the seconds, calling `everySecond` once a second with the
    // seconds passed so far.
    void runFor(double seconds, const std::function<void(int)>& everySecond);
    // Presses End and waits, at most a few seconds, for the replies still under way.
    void stop();

    qint64 recvLines = 0;
    qint64 wrongLengthLines = 0;
    qint64 sendLines = 0;
    qint64 errorLines = 0; // lines with "Error!!" or "Failed!!"

    int listCount() const;
    // Hexadecimal frames of the RECV entries in the daily log files, in file order.
    QStringList fileFrames() const;
    // Hexadecimal frames of the emulator's REPLY lines, in order.
    QStringList emulatorFrames();
    // The emulator's processor time so far, from the system's accounting.
    double emulatorCpuSeconds() const;

private:
    QTemporaryDir programFolder_;
    vm::test::EmulatorProcess emu_;
    std::unique_ptr<frmSim_3870> window_;
};

} // namespace vm::bench
