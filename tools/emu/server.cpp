#include "emu/server.h"

#include "emu/request.h"
#include "protocol/timestamp.h"

#include <QDeadlineTimer>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <chrono>
#include <deque>
#include <utility>

namespace vm::emu {

// What every client of one server shares: the module, the options and the report.
struct Server::Shared {
    Options options;
    Device device;
    LineSink sink;
};

namespace {

// A client that reads nothing must not make the emulator hoard memory: beyond this many
// unsent bytes further replies are dropped (and reported).
constexpr qint64 kMaxBacklogBytes = 1 << 20;

// One connection: its request buffer, its queue of replies not yet written, and the
// timer that paces delayed and split replies.
class Client : public QObject {
public:
    Client(QTcpSocket* socket, int id, std::shared_ptr<Server::Shared> shared, QObject* parent)
        : QObject(parent)
        , socket_(socket)
        , id_(id)
        , shared_(std::move(shared)) {
        socket_->setParent(this);
        timer_.setSingleShot(true);
        timer_.setTimerType(Qt::PreciseTimer); // a delay must never end early
        connect(&timer_, &QTimer::timeout, this, &Client::pump);
        connect(socket_, &QTcpSocket::readyRead, this, &Client::onReadyRead);
        connect(socket_, &QTcpSocket::disconnected, this, &Client::onDisconnected);
        report(QStringLiteral("CONNECTED %1:%2")
                   .arg(socket_->peerAddress().toString())
                   .arg(socket_->peerPort()));
    }
    ~Client() override { QObject::disconnect(socket_, nullptr, this, nullptr); }

private:
    struct Reply {
        QByteArray bytes;
        QString note;
        QDeadlineTimer due;
    };

    const Options& options() const { return shared_->options; }

    void report(const QString& text) const {
        shared_->sink(QStringLiteral("%1 client %2 %3").arg(lineStamp()).arg(id_).arg(text));
    }

    void onReadyRead() {
        const QByteArray data = socket_->readAll();
        if (closing_)
            return;
        for (const QByteArray& unit : buffer_.feed(data)) {
            const QString shown = hexText(unit) + QStringLiteral(" (") + printableText(unit) + u')';
            const std::optional<Request> request = parseRequest(unit);
            if (!request) {
                report(QStringLiteral("UNKNOWN ") + shown + QStringLiteral(" ignored"));
                continue;
            }
            report(QStringLiteral("REQ ") + shown);
            applyRequest(shared_->device, *request);
            if (!options().silent)
                enqueue(makeReply());
        }
        pump();
    }

    Reply makeReply() const {
        Reply reply{{}, {}, QDeadlineTimer(options().delayMs)};
        if (options().garbage > 0) {
            reply.bytes.resize(options().garbage);
            for (char& byte : reply.bytes)
                byte = static_cast<char>(QRandomGenerator::global()->bounded(256));
            reply.note = QStringLiteral(" (garbage)");
            return reply;
        }
        reply.bytes = buildStatusFrame(shared_->device.status(), options().frameLength);
        if (options().merge) {
            reply.bytes += reply.bytes;
            reply.note = QStringLiteral(" (2 frames)");
        }
        return reply;
    }

    void enqueue(Reply reply) {
        qint64 backlog = socket_->bytesToWrite();
        for (const Reply& queued : queue_)
            backlog += queued.bytes.size();
        if (backlog > kMaxBacklogBytes) {
            report(QStringLiteral("DROP reply, %1 bytes not yet sent").arg(backlog));
            return;
        }
        queue_.push_back(std::move(reply));
    }

    int splitAt(const Reply& reply) const {
        return options().split > 0 && options().split < reply.bytes.size() ? options().split : 0;
    }

    // Writes whatever is due, in order; waits on the timer for a delay or a split pause.
    void pump() {
        while (!closing_ && !queue_.empty() && !timer_.isActive()) {
            const Reply& reply = queue_.front();
            const int split = splitAt(reply);
            if (firstPartSent_) {
                socket_->write(reply.bytes.mid(split));
                firstPartSent_ = false;
            } else {
                if (const qint64 wait = reply.due.remainingTime(); wait > 0) {
                    timer_.start(static_cast<int>(wait));
                    return;
                }
                QString note = reply.note;
                if (split > 0)
                    note +=
                        QStringLiteral(" (split %1+%2)").arg(split).arg(reply.bytes.size() - split);
                report(QStringLiteral("REPLY %1 bytes %2%3")
                           .arg(reply.bytes.size())
                           .arg(hexText(reply.bytes), note));
                if (split > 0) {
                    socket_->write(reply.bytes.left(split));
                    firstPartSent_ = true;
                    timer_.start(options().splitDelayMs);
                    return;
                }
                socket_->write(reply.bytes);
            }
            queue_.pop_front();
            if (++replies_ == options().closeAfter)
                close();
        }
    }

    void close() {
        report(QStringLiteral("CLOSE after %1 replies").arg(replies_));
        closing_ = true;
        queue_.clear();
        timer_.stop();
        socket_->disconnectFromHost(); // sends what is still buffered first
    }

    void onDisconnected() {
        QString text = QStringLiteral("DISCONNECTED");
        if (buffer_.pending() > 0)
            text += QStringLiteral(", %1 bytes of an incomplete request dropped")
                        .arg(buffer_.pending());
        report(text);
        timer_.stop();
        deleteLater();
    }

    QTcpSocket* socket_;
    const int id_;
    std::shared_ptr<Server::Shared> shared_;
    QTimer timer_;
    RequestBuffer buffer_;
    std::deque<Reply> queue_;
    bool firstPartSent_ = false;
    bool closing_ = false;
    int replies_ = 0;
};

} // namespace

QString lineStamp() {
    return QString::fromStdString(formatTimeStamp(utcTimeOfDay(std::chrono::system_clock::now())));
}

Server::Server(const Options& options, Device::Clock clock, LineSink sink, QObject* parent)
    : QObject(parent)
    , tcp_(new QTcpServer(this))
    , shared_(std::make_shared<Shared>(
          Shared{options, Device(std::move(clock), options.wiring), std::move(sink)})) {
    connect(tcp_, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = tcp_->nextPendingConnection()) {
            // A module answers each request at once; small replies must not wait to be merged.
            socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
            new Client(socket, ++lastClientId_, shared_, this);
        }
    });
}

Server::~Server() = default;

bool Server::listen() {
    return tcp_->listen(shared_->options.host, shared_->options.port);
}
QString Server::errorString() const {
    return tcp_->errorString();
}
QHostAddress Server::address() const {
    return tcp_->serverAddress();
}
quint16 Server::port() const {
    return tcp_->serverPort();
}

} // namespace vm::emu
