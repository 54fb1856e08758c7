#include "support/emulator_process.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QHostAddress>
#include <QRegularExpression>
#include <QThread>

#include <algorithm>

#include <sys/socket.h>

namespace vm::test {

bool waitUntil(const std::function<bool()>& done, const std::function<bool(int)>& more) {
    const QDeadlineTimer deadline(kWaitMs);
    while (!done()) {
        if (deadline.hasExpired() || !more(int(deadline.remainingTime())))
            return done();
    }
    return true;
}

bool tryToolPorts(int attempts, const std::function<bool(quint16)>& tryPort) {
    constexpr int kFirst = 20000;
    constexpr int kCount = 12000;
    const int start = int(QCoreApplication::applicationPid() * 7919 % kCount);
    for (int attempt = 0; attempt < attempts; ++attempt) {
        if (tryPort(quint16(kFirst + (start + attempt * 37) % kCount)))
            return true;
    }
    return false;
}

void abortWithReset(QTcpSocket& socket) {
    const linger reset{1, 0};
    ::setsockopt(int(socket.socketDescriptor()), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    socket.abort();
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
    if (!outputFile.isEmpty())
        process.setStandardOutputFile(outputFile, QIODevice::Truncate);
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
    return tryToolPorts(20, [&](quint16 candidate) {
        return startListening(QStringLiteral("127.0.0.1:%1").arg(candidate), args);
    });
}

QString EmulatorProcess::output() {
    if (outputFile.isEmpty()) {
        out_ += process.readAllStandardOutput();
    } else {
        QFile file(outputFile);
        out_ = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    return QString::fromLocal8Bit(out_);
}

bool EmulatorProcess::waitForOutput(const std::function<bool(const QString&)>& test) {
    return waitUntil([&] { return test(output()); },
                     [&](int ms) {
                         if (outputFile.isEmpty())
                             return process.waitForReadyRead(ms);
                         // A file gives no notice of new lines: look again shortly.
                         QThread::msleep(quint64(std::min(ms, 20)));
                         return process.state() == QProcess::Running;
                     });
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
