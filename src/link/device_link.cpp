#include "link/device_link.h"

#include "link/protocol_qt.h"
#include "link/winsock.h"
#include "log/logfile.h"
#include "log/timestamp.h"
#include "protocol/arrival.h"
#include "protocol/decoder.h"
#include "protocol/frames.h"
#include "protocol/parsers.h"
#include "toolkit/colors.h"
#include "toolkit/errorbox.h"

#include <QPalette>

#include <climits>
#include <exception>
#include <optional>
#include <system_error>
#include <utility>

namespace vm {

namespace {

constexpr quint32 kWhite = 0x00FFFFFFu;

// The text of the decoder's error box: three lines joined by CR LF.
QString dataDisplayErrorText(long long number, const QString& description) {
    return QStringLiteral("Data Display Error!!\r\nError Number : %1\r\nError Description : %2")
        .arg(number)
        .arg(description);
}

// One step of the decoder: a failure shows the error box, and decoding goes on with the next
// step. A std::system_error reports its code as the number; other failures report 0.
template <typename Step> void decoderStep(Step&& step) {
    try {
        step();
    } catch (const std::system_error& failure) {
        showErrorBox(
            dataDisplayErrorText(failure.code().value(), QString::fromLocal8Bit(failure.what())));
    } catch (const std::exception& failure) {
        showErrorBox(dataDisplayErrorText(0, QString::fromLocal8Bit(failure.what())));
    } catch (...) {
        showErrorBox(dataDisplayErrorText(0, QStringLiteral("Unknown failure")));
    }
}

void setFieldText(QLineEdit* field, const QString& text) {
    decoderStep([&] { field->setText(text); });
}

template <std::size_t N>
void setFieldTexts(const std::array<QLineEdit*, N>& fields,
                   const std::array<std::string, N>& texts) {
    for (std::size_t i = 0; i < N; ++i)
        setFieldText(fields[i], toQString(texts[i]));
}

std::optional<Command> chosenCommand(const LinkView& view) {
    for (std::size_t i = 0; i < view.optCommand.size(); ++i) {
        if (view.optCommand[i]->isChecked())
            return Command(i);
    }
    return std::nullopt;
}

} // namespace

DeviceLink::DeviceLink(const LinkView& view, QObject* parent)
    : QObject(parent)
    , Winsock1(new Winsock(this))
    , SendTimer(new QTimer(this))
    , m_view(view) {
    SendTimer->setObjectName(QStringLiteral("SendTimer"));
    SendTimer->setInterval(kRepeatStartPeriodMs);
    SendTimer->setTimerType(Qt::PreciseTimer);

    connect(m_view.cmdConnect, &QPushButton::clicked, this, &DeviceLink::cmdConnect_Click);
    connect(m_view.cmdDisconnect, &QPushButton::clicked, this, &DeviceLink::cmdDisconnect_Click);
    connect(m_view.cmdSend, &QPushButton::clicked, this, &DeviceLink::cmdSend_Click);
    connect(m_view.cmdEnd, &QPushButton::clicked, this, &DeviceLink::cmdEnd_Click);
    for (std::size_t i = 0; i < m_view.optCommand.size(); ++i)
        connect(m_view.optCommand[i], &QRadioButton::clicked, this,
                [this, i] { optCommand_Click(int(i)); });
    for (std::size_t i = 0; i < m_view.optInterval.size(); ++i)
        connect(m_view.optInterval[i], &QRadioButton::clicked, this,
                [this, i] { optInterval_Click(int(i)); });
    connect(SendTimer, &QTimer::timeout, this, &DeviceLink::SendTimer_Timer);
    connect(Winsock1, &Winsock::ConnectEvent, this, &DeviceLink::Winsock1_Connect);
    connect(Winsock1, &Winsock::CloseEvent, this, &DeviceLink::Winsock1_Close);
    connect(Winsock1, &Winsock::DataArrival, this, &DeviceLink::Winsock1_DataArrival);
    connect(Winsock1, &Winsock::ErrorEvent, this, &DeviceLink::connectFailed);
}

DeviceLink::~DeviceLink() {
    shutdown();
}

void DeviceLink::addStampedLine(const QString& text) {
    m_view.AddLog(basPing::GetTimeStamp() + text);
}

bool DeviceLink::ConnectDevice() {
    Winsock1->Close();
    Winsock1->LocalPort = 0;
    const QString host = m_view.txtDestIP->text();
    if (const auto problem = hostProblem(host.toStdString())) {
        addStampedLine(
            QStringLiteral(" Connect Error!! %1 : \"%2\"").arg(toQString(*problem), host));
        return false;
    }
    Winsock1->RemoteHost = host;
    const QString portText = m_view.txtDestPort->text();
    const PortText port = parsePort(portText.toStdString());
    if (!port.ok()) {
        addStampedLine(QStringLiteral(" Connect Error!! %1 : \"%2\"")
                           .arg(toQString(portProblemText(port.problem)), portText));
        return false;
    }
    Winsock1->RemotePort = port.port;
    Winsock1->Connect();
    return true;
}

void DeviceLink::cmdConnect_Click() {
    ConnectDevice();
}

void DeviceLink::cmdDisconnect_Click() {
    // When the module closed the connection first, its own close event gives the one line.
    if (!Winsock1->Close())
        Winsock1_Close();
}

void DeviceLink::Winsock1_Connect() {
    m_view.cmdConnect->setEnabled(false);
    m_view.cmdDisconnect->setEnabled(true);
    m_view.cmdSend->setEnabled(true);
    m_view.cmdEnd->setEnabled(true);
    addStampedLine(QStringLiteral(" Socket Connected!!"));
}

void DeviceLink::Winsock1_Close() {
    m_view.cmdConnect->setEnabled(true);
    m_view.cmdDisconnect->setEnabled(false);
    // A running repeat keeps End, the one way to stop it while no connection can be made.
    if (!SendTimer->isActive())
        m_view.cmdEnd->setEnabled(false);
    addStampedLine(QStringLiteral(" Socket Closed!!"));
}

void DeviceLink::connectFailed(const QString& description) {
    addStampedLine(QStringLiteral(" Connect Failed!! %1:%2 : %3")
                       .arg(Winsock1->RemoteHost)
                       .arg(Winsock1->RemotePort)
                       .arg(description));
}

void DeviceLink::Winsock1_DataArrival(qint64 bytesTotal) {
    const QByteArray data = Winsock1->GetData(bytesTotal);
    if (data.size() <= 1)
        return;
    // Replies that were read together because this thread was late are decoded one by one,
    // each as if it had arrived alone, under the arrival's time stamp.
    const std::vector<ByteView> frames = splitArrival(byteView(data));
    if (frames.size() == 1) {
        DisplayData(data);
        return;
    }
    const QString outer = std::exchange(m_arrivalStamp, basPing::GetTimeStamp());
    for (const ByteView frame : frames)
        DisplayData(toQByteArray(frame));
    m_arrivalStamp = outer;
}

void DeviceLink::DisplayData(const QByteArray& data) {
    const std::optional<StatusTexts> texts = statusTexts(byteView(data));
    if (!texts) {
        decoderStep([&] { m_view.AddLog(toQString(wrongLengthLine(std::size_t(data.size())))); });
        return;
    }
    setFieldTexts(m_view.txt_Input, texts->inputs);
    setFieldTexts(m_view.txt_Output, texts->outputs);
    setFieldTexts(m_view.txtCounter, texts->counters);
    if (texts->checkSum)
        setFieldText(m_view.txt_CheckSum, toQString(*texts->checkSum));
    if (texts->gapTimes)
        setFieldTexts(m_view.txtGapTime, *texts->gapTimes);

    QString line;
    decoderStep([&] {
        const QString stamp = m_arrivalStamp.isEmpty() ? basPing::GetTimeStamp() : m_arrivalStamp;
        line = toQString(recvLine(stamp.toStdString(), byteView(data)));
    });
    decoderStep([&] { m_view.AddLog(line); });
    if (m_view.optLog[1]->isChecked())
        decoderStep([&] { basPing::WriteLogFile(toQString(recvFileText(line.toStdString()))); });
}

void DeviceLink::cmdSend_Click() {
    armRepeat();
    setIntervalControlsEnabled(false);

    const std::optional<Command> command = chosenCommand(m_view);
    const std::optional<Bytes> frame =
        command ? buildRequestFrame(*command, m_view.ComboSet->currentText().toStdString(),
                                    m_view.ComboValue->currentText().toStdString(),
                                    m_view.ComboReset->currentText().toStdString())
                : std::nullopt;
    if (!frame) {
        addStampedLine(QStringLiteral(" Send Error!! No command or parameter chosen"));
        return;
    }
    // Stamped now, before any connecting or waiting.
    const QString line = toQString(sendLine(basPing::GetTimeStamp().toStdString(), *frame));

    if (Winsock1->State() != Winsock::kConnected && ConnectDevice())
        Winsock1->waitForConnect(kSendConnectWaitMs);
    if (Winsock1->State() != Winsock::kConnected)
        return;
    if (!Winsock1->SendData(toQByteArray(*frame))) {
        addStampedLine(QStringLiteral(" Send Failed!! : %1").arg(Winsock1->lastError()));
        return;
    }
    m_view.AddLog(line);
}

void DeviceLink::armRepeat() {
    if (!m_view.optInterval[1]->isChecked())
        return;
    const QString text = m_view.cboTime->currentText();
    const qint64 periodMs = parseIntervalMs(text.toStdString());
    if (periodMs <= 0 || periodMs > INT_MAX) {
        addStampedLine(
            QStringLiteral(
                " Repeat Error!! Interval out of range (0.001 to 2147483.647 Second) : \"%1\"")
                .arg(text));
        return;
    }
    // A tick leaves a timer that already runs with this period alone: restarting it would
    // count the period from the end of the handler, so every cycle would take the period plus
    // the handler's time and a short period could never be kept.
    if (m_inTick && SendTimer->isActive() && SendTimer->interval() == int(periodMs))
        return;
    SendTimer->setInterval(int(periodMs));
    SendTimer->start();
    m_view.cmdEnd->setEnabled(true);
}

void DeviceLink::setIntervalControlsEnabled(bool enabled) {
    m_view.optInterval[0]->setEnabled(enabled);
    m_view.optInterval[1]->setEnabled(enabled);
    m_view.cboTime->setEnabled(enabled);
}

void DeviceLink::optCommand_Click(int /*index*/) {
    const bool doSetting = m_view.optCommand[1]->isChecked();
    m_view.ComboSet->setEnabled(doSetting);
    m_view.ComboValue->setEnabled(doSetting);
    m_view.ComboReset->setEnabled(m_view.optCommand[2]->isChecked());
}

void DeviceLink::optInterval_Click(int /*index*/) {
    const bool repeat = m_view.optInterval[1]->isChecked();
    m_view.lblTime[0]->setEnabled(repeat);
    m_view.lblTime[1]->setEnabled(repeat);
    m_view.cboTime->setEnabled(repeat);
    QPalette palette = m_view.cboTime->palette();
    palette.setColor(QPalette::Base, colorFromBgr(repeat ? kWhite : kSystemMenuColor));
    m_view.cboTime->setPalette(palette);
}

void DeviceLink::cmdEnd_Click() {
    if (SendTimer->isActive())
        SendTimer->stop();
    setIntervalControlsEnabled(true);
    // End was left enabled for the repeat alone: with no connection it goes grey again.
    if (Winsock1->State() != Winsock::kConnected)
        m_view.cmdEnd->setEnabled(false);
}

void DeviceLink::SendTimer_Timer() {
    m_inTick = true;
    cmdSend_Click();
    m_inTick = false;
}

void DeviceLink::shutdown() {
    SendTimer->stop();
    // Nothing the connection did before is reported any more.
    Winsock1->disconnect(this);
    Winsock1->Close();
}

} // namespace vm
