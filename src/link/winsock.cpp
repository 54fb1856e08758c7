#include "link/winsock.h"

#include <QHostAddress>
#include <QNetworkProxy>
#include <QTcpSocket>

#include <utility>

namespace vm {

Winsock::Winsock(QObject* parent)
    : QObject(parent) {
    setObjectName(QStringLiteral("Winsock1"));
    m_connectTimer.setSingleShot(true);
    connect(&m_connectTimer, &QTimer::timeout, this, [this] {
        if (m_socket && !m_connectedOnce)
            attemptFailed(
                QStringLiteral("Connection timed out after %1 ms").arg(m_connectTimeoutMs));
    });
}

Winsock::~Winsock() {
    releaseSocket();
}

qint16 Winsock::State() const {
    if (!m_socket)
        return m_failed ? kError : kClosed;
    switch (m_socket->state()) {
    case QAbstractSocket::HostLookupState:
        return kResolving;
    case QAbstractSocket::ConnectingState:
        return kConnecting;
    case QAbstractSocket::ConnectedState:
        return kConnected;
    case QAbstractSocket::ClosingState:
        return kClosing;
    default:
        return m_failed ? kError : kClosed;
    }
}

void Winsock::post(std::function<void()> event) {
    const quint64 generation = m_generation;
    QMetaObject::invokeMethod(
        this,
        [this, generation, event = std::move(event)] {
            if (generation == m_generation)
                event();
        },
        Qt::QueuedConnection);
}

void Winsock::releaseSocket() {
    m_connectTimer.stop();
    if (QTcpSocket* socket = m_socket.data()) {
        m_socket = nullptr;
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
    }
}

void Winsock::Connect() {
    Close();
    m_failed = false;
    m_connectedOnce = false;
    auto* socket = new QTcpSocket(this);
    socket->setProxy(QNetworkProxy::NoProxy); // the module is reached directly
    m_socket = socket;
    connect(socket, &QTcpSocket::connected, this, [this, socket] {
        // Request frames are 4 bytes each and must leave at once, not wait to be merged.
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        m_connectTimer.stop();
        m_connectedOnce = true;
        post([this] { emit ConnectEvent(); });
    });
    connect(socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError) {
        // Errors of an open connection end in the state change below.
        if (!m_connectedOnce && m_socket)
            attemptFailed(m_socket->errorString());
    });
    connect(socket, &QTcpSocket::stateChanged, this, &Winsock::onStateChanged);
    connect(socket, &QTcpSocket::readyRead, this, &Winsock::onReadyRead);
    if (LocalPort != 0)
        socket->bind(QHostAddress::AnyIPv4, quint16(LocalPort));
    m_connectTimer.start(m_connectTimeoutMs);
    socket->connectToHost(RemoteHost, quint16(RemotePort));
}

void Winsock::Close() {
    ++m_generation;
    releaseSocket();
    m_failed = false;
    m_arrival.clear();
}

bool Winsock::waitForConnect(int msecs) {
    if (m_socket && !m_connectedOnce)
        m_socket->waitForConnected(msecs);
    return State() == kConnected;
}

bool Winsock::SendData(const QByteArray& data) {
    const QPointer<QTcpSocket> socket = m_socket;
    if (!socket || socket->state() != QAbstractSocket::ConnectedState) {
        m_lastError = QStringLiteral("Not connected");
        return false;
    }
    const qint64 written = socket->write(data);
    if (written == data.size())
        socket->flush();
    if (written != data.size() || !socket || socket != m_socket ||
        socket->state() != QAbstractSocket::ConnectedState) {
        m_lastError = socket ? socket->errorString() : QStringLiteral("Connection lost");
        return false;
    }
    return true;
}

QByteArray Winsock::GetData(qint64 max) {
    const QByteArray part = m_arrival.left(max);
    m_arrival.remove(0, part.size());
    return part;
}

void Winsock::attemptFailed(const QString& description) {
    m_lastError = description;
    releaseSocket();
    m_failed = true;
    post([this, description] { emit ErrorEvent(description); });
}

void Winsock::onStateChanged() {
    if (!m_socket || !m_connectedOnce || m_socket->state() != QAbstractSocket::UnconnectedState)
        return;
    m_lastError = m_socket->errorString();
    releaseSocket();
    post([this] { emit CloseEvent(); });
}

void Winsock::onReadyRead() {
    if (!m_socket)
        return;
    const QByteArray bytes = m_socket->readAll();
    if (bytes.isEmpty())
        return;
    post([this, bytes] {
        m_arrival = bytes;
        emit DataArrival(bytes.size());
    });
}

} // namespace vm
