#include "window/frmSim_3870.h"

#include "form/form.h"
#include "link/device_link.h"
#include "ping/pingtest.h"
#include "window/qt_ports.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QScreen>

frmSim_3870::frmSim_3870(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint)
    , settings_(std::make_unique<vm::QtSettingsStore>())
    , clock_(std::make_unique<vm::QtClock>())
    , logFiles_(std::make_unique<vm::QtLogFiles>())
    , desktop_(std::make_unique<vm::QtDesktop>()) {
    setObjectName(QStringLiteral("frmSim_3870"));
    buildControls();
    link = new vm::DeviceLink(this);
    ping = new vm::PingTest(this);
    form_ = std::make_unique<vm::form::frmSim_3870>(
        vm::form::Platform{link->socketPort(), link->sendTimerPort(), ping->pingTimerPort(),
                           *clock_, *settings_, *logFiles_, *desktop_, *ping});
    link->bind(*form_);
    ping->bind(*form_);
    bindControls();
    Label1[1]->installEventFilter(this);
    Form_Load();
}

frmSim_3870::~frmSim_3870() {
    // The ports go before the form that holds them, and no event of theirs reaches it again.
    delete link;
    link = nullptr;
    delete ping;
    ping = nullptr;
}

bool frmSim_3870::eventFilter(QObject* watched, QEvent* event) {
    // Only the link label in the bottom panel opens the vendor page; the "Channel"
    // caption of the same array stays a plain caption.
    if (watched == Label1[1] && event->type() == QEvent::MouseButtonRelease) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton &&
            Label1[1]->rect().contains(mouse->position().toPoint()))
            form_->Label1_Click(1);
        return false;
    }
    return QWidget::eventFilter(watched, event);
}

void frmSim_3870::AddLog(const QString& text) {
    form_->AddLog(text.toStdString());
}

void frmSim_3870::Form_Load() {
    form_->Form_Load();
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
    form_->Form_Unload();
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
