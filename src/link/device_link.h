#pragma once

#include "link/link_view.h"

#include <QByteArray>
#include <QObject>
#include <QTimer>

namespace vm {

class Winsock;

// The device link's handlers: the Send operation and its request frames, the TCP connection,
// the repeat timer and the status-frame decoder, working on the window's controls.
// Problems the socket layer or the texts of the window would otherwise hide (a refused port or
// host text, a failed connect or write, an interval the timer cannot take) each add one stamped
// line to the log list.
class DeviceLink : public QObject {
    Q_OBJECT
public:
    // How long the Send operation waits for a connect it started.
    static constexpr int kSendConnectWaitMs = 1000;
    static constexpr int kRepeatStartPeriodMs = 1000;

    DeviceLink(const LinkView& view, QObject* parent = nullptr);
    ~DeviceLink() override;

    Winsock* const Winsock1;
    QTimer* const SendTimer;

    // Closes the socket and starts a connect to the window's destination. Returns false, after
    // one log line, when the host or port text is refused; nothing is started then.
    bool ConnectDevice();
    void cmdConnect_Click();
    void cmdDisconnect_Click();
    void Winsock1_Connect();
    void Winsock1_Close();
    void Winsock1_DataArrival(qint64 bytesTotal);
    void DisplayData(const QByteArray& data);
    void cmdSend_Click();
    void optCommand_Click(int index);
    void optInterval_Click(int index);
    void cmdEnd_Click();
    void SendTimer_Timer();
    // The window is closing: stop the timer and release the socket, with no event and no line
    // from then on.
    void shutdown();

private:
    void addStampedLine(const QString& text);
    void armRepeat();
    void setIntervalControlsEnabled(bool enabled);
    void connectFailed(const QString& description);

    LinkView m_view;
    bool m_inTick = false;  // SendTimer_Timer is running the Send operation
    QString m_arrivalStamp; // set while the frames of one arrival are decoded
};

} // namespace vm
