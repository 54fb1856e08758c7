#include "link/device_link.h"

#include "link/protocol_qt.h"
#include "link/winsock.h"
#include "toolkit/timer_port.h"

namespace vm {

DeviceLink::DeviceLink(QObject* parent)
    : QObject(parent)
    , Winsock1(new Winsock(this))
    , SendTimer(new QTimer(this))
    , sendTimer_(
          new QtTimerPort(SendTimer, QStringLiteral("SendTimer"), form::kTimerStartInterval)) {}

DeviceLink::~DeviceLink() = default;

form::TcpClient& DeviceLink::socketPort() {
    return *Winsock1;
}

form::TimerPort& DeviceLink::sendTimerPort() {
    return *sendTimer_;
}

void DeviceLink::bind(form::frmSim_3870& form) {
    form_ = &form;
    sendTimer_->onTick([this] { SendTimer_Timer(); });
    connect(Winsock1, &Winsock::ConnectEvent, this, [this] { form_->Winsock1_Connect(); });
    connect(Winsock1, &Winsock::CloseEvent, this, [this] { form_->Winsock1_Close(); });
    connect(Winsock1, &Winsock::DataArrival, this, &DeviceLink::arrived);
    connect(Winsock1, &Winsock::ErrorEvent, this, [this](const QString& description) {
        form_->Winsock1_Error(description.toStdString());
    });
}

void DeviceLink::arrived(qint64 bytesTotal) {
    const QByteArray data = Winsock1->GetData(bytesTotal);
    form_->Winsock1_DataArrival(byteView(data));
}

void DeviceLink::cmdSend_Click() {
    form_->cmdSend_Click();
}

void DeviceLink::SendTimer_Timer() {
    form_->SendTimer_Timer();
}

void DeviceLink::DisplayData(const QByteArray& data) {
    form_->DisplayData(byteView(data));
}

void DeviceLink::shutdown() {
    if (form_)
        form_->Form_Unload();
    Winsock1->disconnect(this);
}

} // namespace vm
