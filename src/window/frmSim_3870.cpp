#include "window/frmSim_3870.h"

#include "link/device_link.h"
#include "log/loglist.h"
#include "ping/pingtest.h"
#include "window/keyfilter.h"
#include "window/settings.h"
#include "window/vendorlink.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>

namespace {
const QString kAddressKey = QStringLiteral("ADDRESS");
const QString kPortKey = QStringLiteral("PORT");
const QString kIntervalKey = QStringLiteral("INTERVAL");

// Typed text limits of the address and port fields.
constexpr int kAddressMaxLength = 15;
constexpr int kPortMaxLength = 5;
} // namespace

frmSim_3870::frmSim_3870(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("frmSim_3870"));
    buildControls();
    wireWindowEvents();
    Form_Load();
}

frmSim_3870::~frmSim_3870() = default;

void frmSim_3870::wireWindowEvents() {
    connect(txtDestIP, &QLineEdit::textChanged, this, &frmSim_3870::txtDestIP_Change);
    connect(txtDestPort, &QLineEdit::textChanged, this, &frmSim_3870::txtDestPort_Change);
    connect(cboTime, &QComboBox::editTextChanged, this, &frmSim_3870::cboTime_Change);
    connect(cboTime, &QComboBox::activated, this, &frmSim_3870::cboTime_Click);

    new vm::KeyPressFilter(txtDestIP, [this](int& KeyAscii) { txtDestIP_KeyPress(KeyAscii); });
    new vm::KeyPressFilter(txtDestPort, [this](int& KeyAscii) { txtDestPort_KeyPress(KeyAscii); });
    new vm::KeyPressFilter(cboTime, [this](int& KeyAscii) { cboTime_KeyPress(KeyAscii); });
    vm::limitUserText(txtDestIP, kAddressMaxLength);
    vm::limitUserText(txtDestPort, kPortMaxLength);

    connect(cmdClear, &QPushButton::clicked, this, &frmSim_3870::cmdClear_Click);

    const auto addLog = [this](const QString& text) { AddLog(text); };
    link = new vm::DeviceLink(vm::LinkView{txtDestIP,    txtDestPort, cmdConnect,  cmdDisconnect,
                                           cmdSend,      cmdEnd,      optCommand,  ComboSet,
                                           ComboValue,   ComboReset,  optInterval, cboTime,
                                           lblTime,      optLog,      txt_Input,   txt_Output,
                                           txt_CheckSum, txtCounter,  txtGapTime,  addLog},
                              this);
    ping = new vm::PingTest(vm::PingView{txtDestIP, cmdPingStart, cmdPingStop, addLog}, this);
    Label1[1]->installEventFilter(this);
}

bool frmSim_3870::eventFilter(QObject* watched, QEvent* event) {
    // Only the link label in the bottom panel opens the vendor page; the "Channel"
    // caption of the same array stays a plain caption.
    if (watched == Label1[1] && event->type() == QEvent::MouseButtonRelease) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton &&
            Label1[1]->rect().contains(mouse->position().toPoint()))
            Label1_Click(1);
        return false;
    }
    return QWidget::eventFilter(watched, event);
}

void frmSim_3870::AddLog(const QString& text) {
    vm::addLogLine(*List1, text);
}

void frmSim_3870::Form_Load() {
    txtDestIP->setText(vm::GetSetting(kAddressKey, QStringLiteral("192.168.1.110")));
    txtDestPort->setText(vm::GetSetting(kPortKey, QStringLiteral("4000")));
    cboTime->setEditText(vm::GetSetting(kIntervalKey, QStringLiteral("1")));
    ComboSet->addItems({QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("A")});
    ComboValue->addItems({QStringLiteral("0"), QStringLiteral("1")});
    ComboReset->addItems({QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"),
                          QStringLiteral("4"), QStringLiteral("5"), QStringLiteral("6"),
                          QStringLiteral("A")});
    ComboSet->setCurrentIndex(0);
    ComboReset->setCurrentIndex(0);
    ComboValue->setCurrentIndex(0);

    // Centred on the screen when first shown.
    if (const QScreen* screen = QApplication::primaryScreen()) {
        QRect frame = geometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}

void frmSim_3870::Form_Resize() {
    // Nothing moves or changes size with the window; only the bottom panel stays docked.
    dockPanel();
}

void frmSim_3870::Form_Unload() {
    // The program ends at once: nothing is asked, sent or logged, and no timer ticks again.
    link->shutdown();
    ping->shutdown();
    QApplication::quit();
}

void frmSim_3870::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    Form_Resize();
}

void frmSim_3870::closeEvent(QCloseEvent* event) {
    event->accept();
    Form_Unload();
}

void frmSim_3870::txtDestIP_Change() {
    vm::SaveSetting(kAddressKey, txtDestIP->text());
}

void frmSim_3870::txtDestPort_Change() {
    vm::SaveSetting(kPortKey, txtDestPort->text());
}

void frmSim_3870::cboTime_Change() {
    vm::SaveSetting(kIntervalKey, cboTime->currentText());
}

void frmSim_3870::cboTime_Click() {
    vm::SaveSetting(kIntervalKey, cboTime->currentText());
}

namespace {
void filterEntryKey(int& KeyAscii) {
    if (!vm::isEntryFieldChar(KeyAscii)) {
        vm::beep();
        KeyAscii = 0;
    }
}
} // namespace

void frmSim_3870::txtDestIP_KeyPress(int& KeyAscii) {
    filterEntryKey(KeyAscii);
}

void frmSim_3870::txtDestPort_KeyPress(int& KeyAscii) {
    filterEntryKey(KeyAscii);
}

void frmSim_3870::cboTime_KeyPress(int& KeyAscii) {
    filterEntryKey(KeyAscii);
}

void frmSim_3870::cmdClear_Click() {
    List1->clear();
}

void frmSim_3870::Label1_Click(int /*Index*/) {
    vm::openVendorPage(Label1[1]->text());
}
