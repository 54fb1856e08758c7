#pragma once

#include "form/ports.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>

class QTcpSocket;

namespace vm {

// The TCP client of the device link: one connection at a time, over QTcpSocket, with the
// few members the link's handlers use. Its events are posted through the event loop, one at
// a time and never inside a running handler. Only the peer closing the connection raises
// CloseEvent; a Close() by the program raises nothing, and neither does destruction.
// What a connection did before the program closed it is still reported: the bytes that had
// arrived and, when the peer had closed first, its CloseEvent. Events of a connection whose
// ConnectEvent had not been delivered yet when the program closed or replaced it are dropped,
// so that the handlers never hear of a connection they did not see open.
// It is the form's TCP client port (form/ports.h) on the Qt front end.
class Winsock : public QObject, public form::TcpClient {
    Q_OBJECT
public:
    static constexpr int kDefaultConnectTimeoutMs = 10000;

    explicit Winsock(QObject* parent = nullptr);
    ~Winsock() override;

    // Written before Connect(). A LocalPort of 0 lets the system choose.
    QString RemoteHost;
    int RemotePort = 0;
    int LocalPort = 0;

    int State() const override;

    // Closes any current attempt or connection (as Close() does), then starts connecting to
    // RemoteHost:RemotePort. A host name is looked up on a thread of its own, so that nothing
    // here blocks. The outcome arrives as ConnectEvent or ErrorEvent.
    void Connect();
    // Closes the connection or abandons the attempt; raises no event of its own. Returns
    // true when the peer had closed the connection first: its CloseEvent is on its way.
    bool Close() override;
    // Blocks without running the event loop until the pending attempt, look-up included, is
    // connected or has failed, or msecs have passed. Returns whether the socket is connected.
    // An attempt still pending when the wait runs out is ended then (ErrorEvent follows).
    bool waitForConnect(int msecs);
    // Writes the bytes at once. Returns false, with lastError() set, when not connected or when
    // the write fails; a connection lost in the write raises CloseEvent later.
    bool SendData(const QByteArray& data);
    // Up to max bytes of the arrival being delivered.
    QByteArray GetData(qint64 max);

    QString lastError() const { return m_lastError; }

    // The form's TCP client port, on the members above.
    void Connect(const std::string& host, int port) override;
    bool WaitForConnect(std::chrono::milliseconds wait) override;
    bool SendData(ByteView bytes) override;
    std::string LastError() const override { return m_lastError.toStdString(); }

    void setConnectTimeout(int msecs) { m_connectTimeoutMs = msecs; }

signals:
    void ConnectEvent();
    void CloseEvent();
    // One read from the connection, delivered whole: never gathered with the next one nor split.
    void DataArrival(qint64 bytesTotal);
    // A connect attempt failed (refused, unreachable, not found, timed out).
    void ErrorEvent(const QString& description);

private:
    struct Lookup;

    void post(std::function<void()> event);
    void releaseSocket();
    bool attemptPending() const;
    void attemptFailed(const QString& description);
    void timedOut(int msecs);
    void lookupFinished(const std::shared_ptr<Lookup>& lookup);
    void drain();
    void onStateChanged();
    void onReadyRead();

    QPointer<QTcpSocket> m_socket;
    std::shared_ptr<Lookup> m_lookup; // the name look-up this attempt waits for
    QTimer m_connectTimer;
    // Events of the current connection are delivered while this is true.
    std::shared_ptr<bool> m_live = std::make_shared<bool>(true);
    bool m_connectedOnce = false;
    bool m_reported = false;     // its ConnectEvent has been delivered
    bool m_closePending = false; // the peer's CloseEvent is posted and not yet delivered
    bool m_failed = false;
    int m_connectTimeoutMs = kDefaultConnectTimeoutMs;
    QByteArray m_arrival;
    QString m_lastError;
};

} // namespace vm
