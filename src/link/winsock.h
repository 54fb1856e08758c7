#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <functional>

class QTcpSocket;

namespace vm {

// The TCP client of the device link: one connection at a time, over QTcpSocket, with the
// few members the link's handlers use. Its events are posted through the event loop, one at
// a time and never inside a running handler; events of an attempt that the program has closed
// or replaced since are dropped. Only the peer closing the connection raises CloseEvent; a
// Close() by the program raises nothing, and neither does destruction.
class Winsock : public QObject {
    Q_OBJECT
public:
    // State() values; the link only tells kConnected from the rest.
    static constexpr qint16 kClosed = 0;
    static constexpr qint16 kResolving = 1;
    static constexpr qint16 kConnecting = 2;
    static constexpr qint16 kConnected = 7;
    static constexpr qint16 kClosing = 8;
    static constexpr qint16 kError = 9;

    static constexpr int kDefaultConnectTimeoutMs = 10000;

    explicit Winsock(QObject* parent = nullptr);
    ~Winsock() override;

    // Written before Connect(). A LocalPort of 0 lets the system choose.
    QString RemoteHost;
    int RemotePort = 0;
    int LocalPort = 0;

    qint16 State() const;

    // Abandons any current attempt or connection silently, then starts connecting to
    // RemoteHost:RemotePort. The outcome arrives as ConnectEvent or ErrorEvent.
    void Connect();
    // Closes the connection or abandons the attempt; raises no event.
    void Close();
    // Blocks without running the event loop until the pending attempt is connected, has
    // failed or msecs have passed. Returns whether the socket is connected. A wait that runs
    // out ends the attempt (ErrorEvent follows).
    bool waitForConnect(int msecs);
    // Writes the bytes at once. Returns false, with lastError() set, when not connected or when
    // the write fails; a connection lost in the write raises CloseEvent later.
    bool SendData(const QByteArray& data);
    // Up to max bytes of the arrival being delivered.
    QByteArray GetData(qint64 max);

    QString lastError() const { return m_lastError; }
    void setConnectTimeout(int msecs) { m_connectTimeoutMs = msecs; }

signals:
    void ConnectEvent();
    void CloseEvent();
    // One read from the connection, delivered whole: never gathered with the next one nor split.
    void DataArrival(qint64 bytesTotal);
    // A connect attempt failed (refused, unreachable, not found, timed out).
    void ErrorEvent(const QString& description);

private:
    void post(std::function<void()> event);
    void releaseSocket();
    void attemptFailed(const QString& description);
    void onStateChanged();
    void onReadyRead();

    QPointer<QTcpSocket> m_socket;
    QTimer m_connectTimer;
    quint64 m_generation = 0;
    bool m_connectedOnce = false;
    bool m_failed = false;
    int m_connectTimeoutMs = kDefaultConnectTimeoutMs;
    QByteArray m_arrival;
    QString m_lastError;
};

} // namespace vm
