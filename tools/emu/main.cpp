// vm3870emu: a stand-in for the digital I/O module on a TCP port, for demonstrations
// and tests of the test tool. See --help.

#include "emu/options.h"
#include "emu/quitsignal.h"
#include "emu/server.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <csignal>
#include <cstdio>
#include <memory>
#include <vector>

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
    // One server a module; with several, each line names its module ("unit 3 ...").
    const bool several = parsed.units.size() > 1;
    std::vector<std::unique_ptr<vm::emu::Server>> servers;
    for (size_t i = 0; i < parsed.units.size(); ++i) {
        const vm::emu::Options& options = parsed.units[i];
        const QString prefix = several ? QStringLiteral("unit %1 ").arg(i + 1) : QString();
        auto server = std::make_unique<vm::emu::Server>(
            options, [uptime] { return uptime.elapsed(); },
            [prefix](const QString& line) { printLine(stdout, prefix + line); });
        if (!server->listen()) {
            printLine(stderr, QStringLiteral("%1Cannot listen on %2:%3: %4")
                                  .arg(prefix, options.host.toString())
                                  .arg(options.port)
                                  .arg(server->errorString()));
            return 1;
        }
        servers.push_back(std::move(server));
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
    for (size_t i = 0; i < servers.size(); ++i)
        printLine(stdout, QStringLiteral("%1%2 listening on %3:%4, %5-byte frames")
                              .arg(several ? QStringLiteral("unit %1 ").arg(i + 1) : QString(),
                                   vm::emu::lineStamp(), servers[i]->address().toString())
                              .arg(servers[i]->port())
                              .arg(parsed.units[i].frameLength));
    return QCoreApplication::exec();
}
