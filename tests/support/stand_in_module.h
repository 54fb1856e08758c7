#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QThread>

#include <atomic>
#include <memory>
#include <vector>

class QTcpServer;
class QTcpSocket;

namespace vm::test {

// The module as the link tests meet it: a listener on a loopback port the tool can use, in a
// thread of its own, so that its floods and resets never wait on the window's event loop, nor
// the window on it. It keeps every byte it receives, answers requests when told to, and does
// to its latest connection whatever a test asks: write, close, reset, flood.
class StandInModule {
public:
    // A module whose accept queue is full and never emptied: a connect to it stays pending.
    enum class Accepting { Yes, QueueFull };

    explicit StandInModule(Accepting accepting = Accepting::Yes);
    ~StandInModule();
    StandInModule(const StandInModule&) = delete;
    StandInModule& operator=(const StandInModule&) = delete;

    quint16 port() const { return port_; }
    QString portText() const { return QString::number(port_); }
    // A loopback port the tool can use where nothing listens.
    static quint16 unusedPort();

    int acceptedCount();
    // Whether the latest connection is up.
    bool connected();
    QByteArray received();      // every byte of every connection, in order
    QList<QByteArray> frames(); // what was received, in 4-byte requests

    // From now on each complete 4-byte request is answered with the reply; with closeAfter,
    // a connection is closed after that many replies, as some modules do.
    void answerRequests(const QByteArray& reply, int closeAfter = 0);
    QByteArray repliedBytes();
    int closesAfterReplies();

    // What happens to the latest connection. write returns at once (so that the window can
    // read meanwhile); the others return when done.
    void write(const QByteArray& bytes);
    void close();
    // Ends the connection with a reset (RST), whatever is unsent or unread.
    void reset();
    void writeThenReset(const QByteArray& bytes);
    // Resets the connection as soon as anything arrives on it.
    void setResetOnRequest(bool on);
    // Random bytes, or whole 34-byte status frames, for the given time, as fast as the
    // connection takes them; floodDone() turns true after, with floodBytes() the count written.
    enum class Flood { RandomBytes, StatusFrames };
    void startFlood(int ms, Flood content = Flood::RandomBytes);
    bool floodDone() const { return floodDone_; }
    qint64 floodBytes() const { return floodBytes_; }

private:
    template <typename F> void run(F&& f);
    template <typename F> void post(F&& f);
    void accept();
    void onReadyRead(QTcpSocket* socket);
    void resetLatest();

    QThread thread_;
    QObject worker_; // lives in thread_; everything below it is touched only there
    QTcpServer* server_ = nullptr;
    std::vector<std::unique_ptr<QTcpSocket>> fillers_;
    QList<QPointer<QTcpSocket>> connections_;
    QByteArray received_;
    QHash<QTcpSocket*, QByteArray> pending_; // bytes short of a whole request
    QHash<QTcpSocket*, int> replies_;
    QByteArray reply_;
    int closeAfter_ = 0;
    QByteArray replied_;
    int closes_ = 0;
    bool resetOnRequest_ = false;
    quint16 port_ = 0;
    std::atomic<bool> floodDone_ = false;
    std::atomic<qint64> floodBytes_ = 0;
};

} // namespace vm::test
