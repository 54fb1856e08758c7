#include "link_fixture.h"

#include "support/emulator.h"

#include <QHostAddress>

namespace {

// Listens on a loopback port the link can use (at most 32767).
bool listenOnUsablePort(QTcpServer& server) {
    return vm::test::tryToolPorts(
        500, [&server](quint16 port) { return server.listen(QHostAddress::LocalHost, port); });
}

} // namespace

FakeModule::FakeModule() {
    if (!listenOnUsablePort(m_server))
        qFatal("no free loopback port up to 32767");
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = m_server.nextPendingConnection()) {
            connections << socket;
            connect(socket, &QTcpSocket::readyRead, this,
                    [this, socket] { received += socket->readAll(); });
        }
    });
}

QList<QByteArray> FakeModule::frames() const {
    QList<QByteArray> result;
    for (qsizetype i = 0; i + 4 <= received.size(); i += 4)
        result << received.mid(i, 4);
    return result;
}

quint16 unusedLoopbackPort() {
    QTcpServer probe;
    if (!listenOnUsablePort(probe))
        qFatal("no free loopback port up to 32767");
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

FullListener::FullListener() {
    m_server.setListenBacklogSize(0);
    if (!listenOnUsablePort(m_server))
        qFatal("no free loopback port up to 32767");
    m_server.pauseAccepting();
    // Connections fill the queue until one is left unanswered; the kernel then drops the
    // requests of every later one.
    for (int i = 0; i < 4; ++i) {
        m_fillers.push_back(std::make_unique<QTcpSocket>());
        m_fillers.back()->connectToHost(QHostAddress::LocalHost, port());
        if (!m_fillers.back()->waitForConnected(100))
            break;
    }
}
