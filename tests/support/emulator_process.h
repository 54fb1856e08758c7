#pragma once

#include <QByteArray>
#include <QProcess>
#include <QStringList>
#include <QTcpSocket>

#include <functional>
#include <memory>

namespace vm::test {

// How long any single wait of a test may take.
inline constexpr int kWaitMs = 5000;

// Waits, at most kWaitMs, for `done` while `more` (given the milliseconds left) keeps
// returning true.
bool waitUntil(const std::function<bool()>& done, const std::function<bool(int)>& more);

// Calls `tryPort` with loopback ports the tool can use (20000 to 31999, at most 32767),
// from a start that differs between processes, until it returns true or `attempts` ports
// were tried. Returns whether one was taken.
bool tryToolPorts(int attempts, const std::function<bool(quint16)>& tryPort);

// Ends the connection with a reset (RST) instead of an orderly close: a lingering time of
// zero, then abort().
void abortWithReset(QTcpSocket& socket);

// Where the build put the vm3870emu program.
QString emulatorPath();

// The real vm3870emu program on a loopback port.
class EmulatorProcess {
public:
    ~EmulatorProcess();

    // Starts the program on a free loopback port and reads that port from its first line.
    bool start(const QStringList& args);
    // Starts it on a loopback port the tool can use (at most 32767), trying a bounded
    // number of ports.
    bool startOnToolPort(const QStringList& args);

    // Everything printed so far (reads what is pending without blocking).
    QString output();
    bool waitForOutput(const std::function<bool(const QString&)>& test);
    bool waitForOutput(const QString& needle);
    // The bytes of every REPLY line so far, in order.
    QByteArray repliedBytes();
    std::unique_ptr<QTcpSocket> connect();

    QProcess process;
    quint16 port = 0;
    // When set before a start, the program's standard output goes to this file instead of
    // a pipe, so that a long run keeps none of it in this process; output() reads the file.
    QString outputFile;

private:
    bool startListening(const QString& listen, const QStringList& args);
    QByteArray out_;
};

} // namespace vm::test
