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
    int replies = 0;            // of all clients
    std::function<void()> away; // the outage, once its count of replies is reached
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
            if (options().ignoreSet && request->kind == Request::Kind::SetOutput)
                report(QStringLiteral("IGNORED (--ignore-set)"));
            else
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
        if (options().firstByte != 'N') {
            reply.bytes[0] = options().firstByte;
            if (reply.bytes.size() == kChecksumFrame)
                reply.bytes[kShortFrame] =
                    static_cast<char>(frameChecksum(reply.bytes.left(kShortFrame)));
        }
        if (options().badChecksum && reply.bytes.size() == kChecksumFrame) {
            reply.bytes[kShortFrame] = static_cast<char>(reply.bytes[kShortFrame] + 1);
            reply.note = QStringLiteral(" (checksum one too high)");
        }
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

    // How many bytes of the front reply go in the next write, `sent` of them being gone.
    int chunk(const Reply& reply, int sent) const {
        if (options().trickleMs > 0)
            return 1;
        const int split = splitAt(reply);
        return sent == 0 && split > 0 ? split : static_cast<int>(reply.bytes.size()) - sent;
    }

    // Writes whatever is due, in order; waits on the timer for a delay or a pause between
    // the pieces of a split or trickled reply.
    void pump() {
        while (!closing_ && !queue_.empty() && !timer_.isActive()) {
            const Reply& reply = queue_.front();
            if (sent_ == 0) {
                if (const qint64 wait = reply.due.remainingTime(); wait > 0) {
                    timer_.start(static_cast<int>(wait));
                    return;
                }
                QString note = reply.note;
                if (options().trickleMs > 0)
                    note += QStringLiteral(" (a byte every %1 ms)").arg(options().trickleMs);
                else if (const int split = splitAt(reply); split > 0)
                    note +=
                        QStringLiteral(" (split %1+%2)").arg(split).arg(reply.bytes.size() - split);
                report(QStringLiteral("REPLY %1 bytes %2%3")
                           .arg(reply.bytes.size())
                           .arg(hexText(reply.bytes), note));
            }
            const int n = chunk(reply, sent_);
            socket_->write(reply.bytes.mid(sent_, n));
            sent_ += n;
            if (sent_ < reply.bytes.size()) {
                timer_.start(options().trickleMs > 0 ? options().trickleMs
                                                     : options().splitDelayMs);
                return;
            }
            sent_ = 0;
            queue_.pop_front();
            if (++shared_->replies == options().outageAfter && shared_->away)
                QTimer::singleShot(0, shared_->away); // not from inside this client's write
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
    int sent_ = 0; // bytes of the front reply already written
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
          Shared{options, Device(std::move(clock), options.wiring), std::move(sink), 0, {}})) {
    connect(tcp_, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = tcp_->nextPendingConnection()) {
            // A module answers each request at once; small replies must not wait to be merged.
            socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
            new Client(socket, ++lastClientId_, shared_, this);
        }
    });
    shared_->away = [this] {
        const quint16 port = tcp_->serverPort();
        tcp_->close();
        for (QTcpSocket* socket : findChildren<QTcpSocket*>())
            socket->abort();
        shared_->sink(QStringLiteral("%1 OUTAGE: every client dropped, listening again in %2 ms")
                          .arg(lineStamp())
                          .arg(shared_->options.outageMs));
        QTimer::singleShot(shared_->options.outageMs, this, [this, port] {
            const bool back = tcp_->listen(shared_->options.host, port);
            shared_->sink(
                QStringLiteral("%1 BACK: %2")
                    .arg(lineStamp(),
                         back ? QStringLiteral("listening on port %1").arg(port)
                              : QStringLiteral("cannot listen again: ") + tcp_->errorString()));
        });
    };
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
