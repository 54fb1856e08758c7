#pragma once

#include "support/link_widgets.h"

#include <QByteArray>
#include <QList>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

#include <memory>
#include <vector>

// A module on loopback: accepts connections and keeps what each one received.
class FakeModule : public QObject {
public:
    FakeModule();
    quint16 port() const { return m_server.serverPort(); }
    QString portText() const { return QString::number(port()); }

    QList<QPointer<QTcpSocket>> connections;
    QByteArray received; // everything received, all connections
    int acceptedCount() const { return int(connections.size()); }
    QTcpSocket* latest() const {
        return connections.isEmpty() ? nullptr : connections.last().data();
    }
    // Request frames received so far (4 bytes each).
    QList<QByteArray> frames() const;

private:
    QTcpServer m_server;
};

// A loopback port where nothing listens.
quint16 unusedLoopbackPort();

// A loopback listener (on a port the link can use) whose accept queue is full and never
// emptied: a further connect to it stays pending, unanswered.
class FullListener {
public:
    FullListener();
    quint16 port() const { return m_server.serverPort(); }
    QString portText() const { return QString::number(port()); }

private:
    QTcpServer m_server;
    std::vector<std::unique_ptr<QTcpSocket>> m_fillers;
};
