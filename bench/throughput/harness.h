#pragma once

#include "support/emulator_process.h"
#include "support/memory.h"
#include "window/frmSim_3870.h"

#include <QByteArrayList>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <sys/types.h>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace vm::bench {

// Call first in main, before the application object is made. With "--a11y" among the
// arguments the program runs itself again inside a private session bus (dbus-run-session),
// with Qt's accessibility bridge on and the X display of DISPLAY, so that a listener can
// attach as a screen reader does; otherwise it chooses the offscreen platform unless
// QT_QPA_PLATFORM says otherwise. Returns an exit status when the program is to stop.
std::optional<int> prepareProcess(int argc, char* argv[]);

struct Options {
    double seconds = 0;
    QString interval;  // the repeat interval text typed into the window
    bool load = false; // keep both cores busy with processes of our own for the run
    bool a11y = false; // an accessibility client listens to the window
};

// Sets up the application with the settings store in its test place, reads the options
// (--seconds N, --interval T, --load, and --a11y where offered; the defaults given), and
// reports error boxes on standard error instead of waiting for a user. Nothing after
// printing the usage.
std::optional<Options> setUpProgram(const QString& description, double defaultSeconds,
                                    const QString& defaultInterval, bool offerA11y = false);

using vm::test::peakResidentKb;
using vm::test::residentKb;

// User and system processor time of this process so far, in seconds.
double cpuSeconds();
// The same of another process, from the system's accounting; negative when unknown.
double cpuSeconds(pid_t pid);

// Busy-work of our own on every core for the run: one process per core, each spinning
// until its deadline and then ending by itself (and with this process, should it die first).
class BusyLoad {
public:
    BusyLoad(int processes, double seconds);
    ~BusyLoad(); // ends the processes that still run
    // Processor time the processes have had so far, as a share of one core each since the
    // start, in per cent.
    double busyPercent() const;

private:
    std::vector<pid_t> pids_;
    qint64 startMs_ = 0;
};

// An accessibility client, as a screen reader is: subscribes to the window's events and reads
// each event's source, and from the log list the selected line.
class AccessibilityListener {
public:
    ~AccessibilityListener();
    bool start();
    // Ends the listener (waiting while it works through the events still queued) and
    // returns its report: events received by kind, and the last log line it read.
    QString stop(QString* lastLine);

private:
    QProcess process_;
};

// Whether the file holds every frame the module sent, once and in order, and if not, how.
struct FrameCheck {
    bool match = false;
    qsizetype firstDifference = -1;
    bool inOrderSubset = false; // the file's frames are the module's in order, some left out
};
FrameCheck checkFrames(const QStringList& sent, const QStringList& filed);

class WindowRun;
// Prints requests sent, replies the module sent, RECV lines and entries filed, wrong-length
// lines, and whether the file holds every reply once and in order. Returns that check.
FrameCheck printDelivery(WindowRun& run);

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
    qint64 togetherArrivals = 0;

    int listCount() const;
    QString newestLine() const;
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
