#include "link/winsock.h"

#include "protocol/connecting.h"
#include "protocol/loglines.h"

#include <QHostAddress>
#include <QNetworkProxy>
#include <QTcpSocket>
#include <QUrl>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include <netdb.h>
#include <sys/socket.h>

namespace vm {

namespace {

using Clock = std::chrono::steady_clock;

// Reads of what has arrived when the program closes a connection; each takes all there is,
// so two (the bytes, then the close) are the usual count.
constexpr int kDrainReads = 16;

// The most one arrival holds (see loglines::kMaxArrivalBytes).
constexpr qint64 kMaxArrivalBytes = qint64(loglines::kMaxArrivalBytes);

} // namespace

// One name look-up, run by getaddrinfo on a thread of its own. The thread records the outcome
// and, while the attempt still wants it, posts it to the owner; both under the mutex, so that
// an owner that has abandoned the look-up is never posted to.
struct Winsock::Lookup {
    std::mutex mutex;
    std::condition_variable finishedChanged;
    Winsock* owner = nullptr;
    bool finished = false;
    QHostAddress address; // null when the name was not found
    QString error;

    static void run(const std::shared_ptr<Lookup>& lookup, const QByteArray& name);
    bool waitUntil(Clock::time_point until) {
        std::unique_lock lock(mutex);
        return finishedChanged.wait_until(lock, until, [this] { return finished; });
    }
    void abandon() {
        const std::lock_guard lock(mutex);
        owner = nullptr;
    }
};

void Winsock::Lookup::run(const std::shared_ptr<Lookup>& lookup, const QByteArray& name) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int status = ::getaddrinfo(name.constData(), nullptr, &hints, &found);
    std::vector<QHostAddress> addresses;
    for (const addrinfo* entry = status == 0 ? found : nullptr; entry; entry = entry->ai_next)
        addresses.emplace_back(entry->ai_addr);
    if (found)
        ::freeaddrinfo(found);
    const QHostAddress* choice = connecting::chooseAddress(addresses, [](const QHostAddress& a) {
        return a.protocol() == QAbstractSocket::IPv4Protocol;
    });
    const QHostAddress chosen = choice ? *choice : QHostAddress();

    const std::lock_guard lock(lookup->mutex);
    lookup->finished = true;
    lookup->address = chosen;
    if (chosen.isNull())
        lookup->error =
            status == 0 || status == EAI_NONAME
                ? QString::fromLatin1(connecting::kHostNotFound)
                : QStringLiteral("%1 (%2)").arg(QString::fromLatin1(connecting::kHostNotFound),
                                                QString::fromLocal8Bit(::gai_strerror(status)));
    lookup->finishedChanged.notify_all();
    if (Winsock* owner = lookup->owner)
        QMetaObject::invokeMethod(
            owner, [owner, lookup] { owner->lookupFinished(lookup); }, Qt::QueuedConnection);
}

Winsock::Winsock(QObject* parent)
    : QObject(parent) {
    setObjectName(QStringLiteral("Winsock1"));
    m_connectTimer.setSingleShot(true);
    connect(&m_connectTimer, &QTimer::timeout, this, [this] {
        if (attemptPending())
            timedOut(m_connectTimeoutMs);
    });
}

Winsock::~Winsock() {
    releaseSocket();
}

int Winsock::State() const {
    if (m_lookup)
        return kResolving;
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
    QMetaObject::invokeMethod(
        this,
        [live = m_live, event = std::move(event)] {
            if (*live)
                event();
        },
        Qt::QueuedConnection);
}

void Winsock::releaseSocket() {
    m_connectTimer.stop();
    if (m_lookup) {
        m_lookup->abandon();
        m_lookup.reset();
    }
    if (QTcpSocket* socket = m_socket.data()) {
        m_socket = nullptr;
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
    }
}

void Winsock::Connect() {
    Close();
    m_live = std::make_shared<bool>(true);
    auto* socket = new QTcpSocket(this);
    socket->setProxy(QNetworkProxy::NoProxy); // the module is reached directly
    socket->setReadBufferSize(kMaxArrivalBytes);
    m_socket = socket;
    connect(socket, &QTcpSocket::connected, this, [this, socket] {
        // Request frames are 4 bytes each and must leave at once, not wait to be merged.
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        m_connectTimer.stop();
        m_connectedOnce = true;
        post([this] {
            m_reported = true;
            emit ConnectEvent();
        });
    });
    connect(socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
        // Errors of an open connection end in the state change below; running out of time
        // is reported by this class itself.
        if (!m_connectedOnce && m_socket && error != QAbstractSocket::SocketTimeoutError)
            attemptFailed(m_socket->errorString());
    });
    connect(socket, &QTcpSocket::stateChanged, this, &Winsock::onStateChanged);
    connect(socket, &QTcpSocket::readyRead, this, &Winsock::onReadyRead);
    if (LocalPort != 0)
        socket->bind(QHostAddress::AnyIPv4, quint16(LocalPort));
    m_connectTimer.start(m_connectTimeoutMs);

    const QHostAddress address(RemoteHost);
    if (!address.isNull()) {
        socket->connectToHost(address, quint16(RemotePort));
        return;
    }
    // A name: QTcpSocket would look it up inside waitForConnected without a time limit.
    auto lookup = std::make_shared<Lookup>();
    lookup->owner = this;
    m_lookup = lookup;
    try {
        std::thread(&Lookup::run, lookup, QUrl::toAce(RemoteHost)).detach();
    } catch (const std::system_error& failure) {
        attemptFailed(QStringLiteral("Host look-up could not start: %1")
                          .arg(QString::fromLocal8Bit(failure.what())));
    }
}

bool Winsock::Close() {
    if (m_reported)
        drain();
    else if (m_connectedOnce)
        *m_live = false; // the handlers never saw this connection open
    const bool peerClosed = m_reported && m_closePending;
    releaseSocket();
    m_connectedOnce = m_reported = m_closePending = m_failed = false;
    m_arrival.clear();
    return peerClosed;
}

bool Winsock::waitForConnect(int msecs) {
    const Clock::time_point until = Clock::now() + std::chrono::milliseconds(msecs);
    if (const std::shared_ptr<Lookup> lookup = m_lookup; lookup && lookup->waitUntil(until))
        lookupFinished(lookup);
    if (m_socket && !m_lookup && !m_connectedOnce) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
        m_socket->waitForConnected(int(std::max<decltype(left)>(left, 0)));
    }
    if (attemptPending())
        timedOut(msecs);
    return State() == kConnected;
}

void Winsock::Connect(const std::string& host, int port) {
    RemoteHost = QString::fromStdString(host);
    RemotePort = port;
    LocalPort = 0;
    Connect();
}

bool Winsock::WaitForConnect(std::chrono::milliseconds wait) {
    return waitForConnect(int(wait.count()));
}

bool Winsock::SendData(ByteView bytes) {
    return SendData(QByteArray::fromRawData(reinterpret_cast<const char*>(bytes.data()),
                                            qsizetype(bytes.size())));
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

bool Winsock::attemptPending() const {
    return m_lookup || (m_socket && !m_connectedOnce);
}

void Winsock::attemptFailed(const QString& description) {
    m_lastError = description;
    releaseSocket();
    m_failed = true;
    post([this, description] { emit ErrorEvent(description); });
}

void Winsock::timedOut(int msecs) {
    const std::chrono::milliseconds wait(msecs);
    attemptFailed(QString::fromStdString(m_lookup ? connecting::lookupTimedOut(wait)
                                                  : connecting::connectTimedOut(wait)));
}

void Winsock::lookupFinished(const std::shared_ptr<Lookup>& lookup) {
    if (lookup != m_lookup)
        return; // abandoned, or already taken up by waitForConnect
    m_lookup.reset();
    QHostAddress address;
    QString error;
    {
        const std::lock_guard lock(lookup->mutex);
        address = lookup->address;
        error = lookup->error;
    }
    if (address.isNull())
        attemptFailed(error);
    else
        m_socket->connectToHost(address, quint16(RemotePort));
}

// Reads what the peer sent before the program closes the connection: the bytes that have
// arrived and its close or reset, each posted as the event it would have raised a moment later.
void Winsock::drain() {
    for (int read = 0;
         read < kDrainReads && m_socket && m_socket->state() == QAbstractSocket::ConnectedState;
         ++read) {
        if (!m_socket->waitForReadyRead(0))
            break;
    }
}

void Winsock::onStateChanged() {
    if (!m_socket || !m_connectedOnce || m_socket->state() != QAbstractSocket::UnconnectedState)
        return;
    m_lastError = m_socket->errorString();
    releaseSocket();
    m_closePending = true;
    post([this, live = m_live] {
        if (live == m_live)
            m_closePending = false;
        emit CloseEvent();
    });
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
