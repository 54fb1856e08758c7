#pragma once

#include "link/link_view.h"

#include <QByteArray>
#include <QGroupBox>
#include <QList>
#include <QPointer>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QWidget>

#include <functional>
#include <memory>

// The controls of a LinkView on plain widgets, in the window's initial states, with the
// option buttons grouped as in the window and a log list that records its lines.
class LinkFixture {
public:
    LinkFixture();

    QWidget root;
    vm::LinkView view{};
    QStringList lines;
    // Replaces the log list when set, for tests of failing additions.
    std::function<void(const QString&)> addLogOverride;

    void setDestination(const QString& host, const QString& port);
    // Lines whose text after the 14-character stamp begins with the given text.
    int countLines(const QString& afterStamp) const;
};

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
