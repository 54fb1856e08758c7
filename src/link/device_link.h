#pragma once

#include "form/form.h"

#include <QByteArray>
#include <QObject>
#include <QTimer>

namespace vm {

class QtTimerPort;
class Winsock;

// The device link on the Qt front end: the form's TCP client Winsock1 on QTcpSocket and its
// SendTimer on a QTimer, with their events delivered to the form's handlers one at a time by
// the event loop. The handlers themselves are the form's (form/form.h).
class DeviceLink : public QObject {
    Q_OBJECT
public:
    explicit DeviceLink(QObject* parent = nullptr);
    ~DeviceLink() override;

    Winsock* const Winsock1;
    QTimer* const SendTimer;
    form::TcpClient& socketPort();
    form::TimerPort& sendTimerPort();

    // Delivers the socket's and the timer's events to the form's handlers from now on.
    void bind(form::frmSim_3870& form);

    // The form's handlers, as the window's buttons, the timer and the socket run them.
    void cmdSend_Click();
    void SendTimer_Timer();
    void DisplayData(const QByteArray& data);
    // The window is closing: the timer stops and the socket is released, with no event and
    // no line from then on.
    void shutdown();

private:
    void arrived(qint64 bytesTotal);

    QtTimerPort* sendTimer_;
    form::frmSim_3870* form_ = nullptr;
};

} // namespace vm
