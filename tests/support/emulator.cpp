#include "support/emulator.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QHostAddress>
#include <QRegularExpression>

namespace vm::test {

bool waitUntil(const std::function<bool()>& done, const std::function<bool(int)>& more) {
    const QDeadlineTimer deadline(kWaitMs);
    while (!done()) {
        if (deadline.hasExpired() || !more(int(deadline.remainingTime())))
            return done();
    }
    return true;
}

QString emulatorPath() {
    return QStringLiteral(VM3870EMU_PATH);
}

EmulatorProcess::~EmulatorProcess() {
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(kWaitMs);
    }
}

bool EmulatorProcess::startListening(const QString& listen, const QStringList& args) {
    out_.clear();
    process.start(emulatorPath(), QStringList{QStringLiteral("--listen"), listen} + args);
    static const QRegularExpression listening(QStringLiteral(R"(listening on 127\.0\.0\.1:(\d+))"));
    if (!waitForOutput([](const QString& out) { return listening.match(out).hasMatch(); })) {
        process.waitForFinished(kWaitMs);
        return false;
    }
    port = quint16(listening.match(output()).captured(1).toUInt());
    return port != 0;
}

bool EmulatorProcess::start(const QStringList& args) {
    return startListening(QStringLiteral("127.0.0.1:0"), args);
}

bool EmulatorProcess::startOnToolPort(const QStringList& args) {
    constexpr int kFirst = 20000;
    constexpr int kCount = 12000;
    const int start = int(QCoreApplication::applicationPid() * 7919 % kCount);
    for (int attempt = 0; attempt < 20; ++attempt) {
        const int candidate = kFirst + (start + attempt * 37) % kCount;
        if (startListening(QStringLiteral("127.0.0.1:%1").arg(candidate), args))
            return true;
    }
    return false;
}

QString EmulatorProcess::output() {
    out_ += process.readAllStandardOutput();
    return QString::fromLocal8Bit(out_);
}

bool EmulatorProcess::waitForOutput(const std::function<bool(const QString&)>& test) {
    return waitUntil([&] { return test(output()); },
                     [&](int ms) { return process.waitForReadyRead(ms); });
}

bool EmulatorProcess::waitForOutput(const QString& needle) {
    return waitForOutput([&](const QString& out) { return out.contains(needle); });
}

QByteArray EmulatorProcess::repliedBytes() {
    static const QRegularExpression reply(QStringLiteral(R"(REPLY \d+ bytes ([0-9A-F]+))"));
    QByteArray bytes;
    for (const auto& match : reply.globalMatch(output()))
        bytes += QByteArray::fromHex(match.captured(1).toLatin1());
    return bytes;
}

std::unique_ptr<QTcpSocket> EmulatorProcess::connect() {
    auto socket = std::make_unique<QTcpSocket>();
    socket->connectToHost(QHostAddress::LocalHost, port);
    return socket->waitForConnected(kWaitMs) ? std::move(socket) : nullptr;
}

} // namespace vm::test
