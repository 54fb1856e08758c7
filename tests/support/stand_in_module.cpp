#include "support/stand_in_module.h"

#include "support/emulator_process.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>

namespace vm::test {

namespace {

bool listenOnToolPort(QTcpServer& server) {
    return tryToolPorts(
        500, [&server](quint16 port) { return server.listen(QHostAddress::LocalHost, port); });
}

} // namespace

template <typename F> void StandInModule::run(F&& f) {
    QMetaObject::invokeMethod(&worker_, std::forward<F>(f), Qt::BlockingQueuedConnection);
}

template <typename F> void StandInModule::post(F&& f) {
    QMetaObject::invokeMethod(&worker_, std::forward<F>(f), Qt::QueuedConnection);
}

StandInModule::StandInModule(Accepting accepting) {
    worker_.moveToThread(&thread_);
    thread_.start();
    run([this, accepting] {
        server_ = new QTcpServer(&worker_);
        if (accepting == Accepting::QueueFull)
            server_->setListenBacklogSize(0);
        if (!listenOnToolPort(*server_))
            qFatal("no free loopback port up to 32767");
        port_ = server_->serverPort();
        QObject::connect(server_, &QTcpServer::newConnection, &worker_, [this] { accept(); });
        if (accepting == Accepting::Yes)
            return;
        // Connections fill the queue until one is left unanswered; the kernel then drops the
        // requests of every later one.
        server_->pauseAccepting();
        for (int i = 0; i < 4; ++i) {
            fillers_.push_back(std::make_unique<QTcpSocket>());
            fillers_.back()->connectToHost(QHostAddress::LocalHost, port_);
            if (!fillers_.back()->waitForConnected(100))
                break;
        }
    });
}

StandInModule::~StandInModule() {
    run([this] {
        fillers_.clear();
        delete server_; // and the connections with it
    });
    thread_.quit();
    thread_.wait();
}

quint16 StandInModule::unusedPort() {
    QTcpServer probe;
    if (!listenOnToolPort(probe))
        qFatal("no free loopback port up to 32767");
    return probe.serverPort(); // closed again when the probe goes
}

void StandInModule::accept() {
    while (QTcpSocket* socket = server_->nextPendingConnection()) {
        connections_ << socket;
        QObject::connect(socket, &QTcpSocket::readyRead, &worker_,
                         [this, socket] { onReadyRead(socket); });
    }
}

void StandInModule::onReadyRead(QTcpSocket* socket) {
    const QByteArray bytes = socket->readAll();
    received_ += bytes;
    if (resetOnRequest_) {
        resetLatest();
        return;
    }
    if (reply_.isEmpty())
        return;
    QByteArray& pending = pending_[socket];
    pending += bytes;
    for (; pending.size() >= 4; pending.remove(0, 4)) {
        socket->write(reply_);
        replied_ += reply_;
        if (closeAfter_ > 0 && ++replies_[socket] % closeAfter_ == 0) {
            socket->disconnectFromHost();
            ++closes_;
            break;
        }
    }
}

int StandInModule::acceptedCount() {
    int count = 0;
    run([&] { count = int(connections_.size()); });
    return count;
}

bool StandInModule::connected() {
    bool up = false;
    run([&] {
        up = !connections_.isEmpty() && connections_.last() &&
             connections_.last()->state() == QAbstractSocket::ConnectedState;
    });
    return up;
}

QByteArray StandInModule::received() {
    QByteArray bytes;
    run([&] { bytes = received_; });
    return bytes;
}

QList<QByteArray> StandInModule::frames() {
    const QByteArray bytes = received();
    QList<QByteArray> result;
    for (qsizetype i = 0; i + 4 <= bytes.size(); i += 4)
        result << bytes.mid(i, 4);
    return result;
}

void StandInModule::answerRequests(const QByteArray& reply, int closeAfter) {
    run([&] {
        reply_ = reply;
        closeAfter_ = closeAfter;
    });
}

QByteArray StandInModule::repliedBytes() {
    QByteArray bytes;
    run([&] { bytes = replied_; });
    return bytes;
}

int StandInModule::closesAfterReplies() {
    int count = 0;
    run([&] { count = closes_; });
    return count;
}

void StandInModule::write(const QByteArray& bytes) {
    post([this, bytes] {
        if (!connections_.isEmpty() && connections_.last())
            connections_.last()->write(bytes);
    });
}

void StandInModule::close() {
    run([this] {
        if (!connections_.isEmpty() && connections_.last())
            connections_.last()->disconnectFromHost();
    });
}

void StandInModule::reset() {
    run([this] { resetLatest(); });
}

void StandInModule::writeThenReset(const QByteArray& bytes) {
    post([this, bytes] {
        if (connections_.isEmpty() || !connections_.last())
            return;
        connections_.last()->write(bytes);
        connections_.last()->flush();
        resetLatest();
    });
}

void StandInModule::setResetOnRequest(bool on) {
    run([&] { resetOnRequest_ = on; });
}

void StandInModule::resetLatest() {
    if (connections_.isEmpty() || !connections_.last())
        return;
    QTcpSocket* socket = connections_.last();
    abortWithReset(*socket);
    socket->deleteLater();
}

void StandInModule::startFlood(int ms, Flood content) {
    post([this, ms, content] {
        QPointer<QTcpSocket> client = connections_.isEmpty() ? nullptr : connections_.last();
        constexpr int kFrame = 34; // whole frames, filled four bytes at a time
        QByteArray chunk((64 * 1024 / (4 * kFrame)) * (4 * kFrame), '\0');
        QElapsedTimer clock;
        clock.start();
        qint64 total = 0;
        while (clock.elapsed() < ms && client) {
            QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(chunk.data()),
                                                  chunk.size() / 4);
            if (content == Flood::StatusFrames) {
                for (qsizetype at = 0; at < chunk.size(); at += kFrame)
                    chunk[at] = 'N';
            }
            total += client->write(chunk);
            while (client && client->bytesToWrite() > (1 << 20))
                client->waitForBytesWritten(50);
        }
        while (client && client->bytesToWrite() > 0 && clock.elapsed() < ms + 5000)
            client->waitForBytesWritten(50);
        floodBytes_ = total;
        floodDone_ = true;
    });
}

} // namespace vm::test
