// vm3870emu: a stand-in for the digital I/O module on a TCP port, for demonstrations
// and tests of the test tool. See --help.

#include "emu/options.h"
#include "emu/quitsignal.h"
#include "emu/server.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <csignal>
#include <cstdio>

namespace {

void printLine(std::FILE* stream, const QString& line) {
    std::fputs(line.toLocal8Bit().append('\n').constData(), stream);
    std::fflush(stream);
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    // A reader of our output that goes away must not end the emulator.
    std::signal(SIGPIPE, SIG_IGN);

    using vm::emu::ParsedOptions;
    const ParsedOptions parsed = vm::emu::parseOptions(QCoreApplication::arguments());
    switch (parsed.outcome) {
    case ParsedOptions::Outcome::Help:
        printLine(stdout, parsed.text);
        return 0;
    case ParsedOptions::Outcome::Error:
        printLine(stderr, parsed.text + QStringLiteral("\nTry --help."));
        return 2;
    case ParsedOptions::Outcome::Run:
        break;
    }

    QElapsedTimer uptime;
    uptime.start();
    vm::emu::Server server(
        parsed.options, [uptime] { return uptime.elapsed(); },
        [](const QString& line) { printLine(stdout, line); });
    if (!server.listen()) {
        printLine(stderr, QStringLiteral("Cannot listen on %1:%2: %3")
                              .arg(parsed.options.host.toString())
                              .arg(parsed.options.port)
                              .arg(server.errorString()));
        return 1;
    }
    if (!vm::emu::handleTerminationSignals(&app, [](int signal) {
            printLine(
                stdout,
                QStringLiteral("%1 stopping on signal %2").arg(vm::emu::lineStamp()).arg(signal));
            QCoreApplication::quit();
        })) {
        printLine(stderr, QStringLiteral("Cannot set up the signal pipe"));
        return 1;
    }
    printLine(stdout, QStringLiteral("%1 listening on %2:%3, %4-byte frames")
                          .arg(vm::emu::lineStamp(), server.address().toString())
                          .arg(server.port())
                          .arg(parsed.options.frameLength));
    return QCoreApplication::exec();
}
