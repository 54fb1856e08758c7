#pragma once

#include <QWidget>

#include <array>
#include <memory>

class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;

namespace vm {
class DeviceLink;
class PingTest;
class QtClock;
class QtDesktop;
class QtLogFiles;
class QtSettingsStore;
namespace form {
class frmSim_3870;
}
} // namespace vm

// The tool's one window on Qt. Every control is a public member under its design name, and
// members of a control array share a name with an index (optCommand[1] is the widget
// whose objectName is "optCommand_1"). The window's behaviour is the form's (form/form.h):
// this class builds the widgets from the window's layout, binds each to its control of the
// form (the form's changes reach the widget, the user's input reaches the form's handler),
// gives the form its ports on Qt, and delivers the keys.
class frmSim_3870 : public QWidget {
    Q_OBJECT
public:
    explicit frmSim_3870(QWidget* parent = nullptr);
    ~frmSim_3870() override;

    // " TCP Information "
    QGroupBox* Frame1 = nullptr;
    QLabel* Label3 = nullptr;
    QLineEdit* txtDestIP = nullptr;
    QLabel* Label4 = nullptr;
    QLineEdit* txtDestPort = nullptr;
    QPushButton* cmdConnect = nullptr;
    QPushButton* cmdDisconnect = nullptr;
    // " Ping TEST "
    QGroupBox* Frame3 = nullptr;
    QPushButton* cmdPingStart = nullptr;
    QPushButton* cmdPingStop = nullptr;
    // " Data Send Action "
    QGroupBox* Frame2 = nullptr;
    std::array<QRadioButton*, 2> optInterval{};
    std::array<QLabel*, 2> lblTime{};
    QComboBox* cboTime = nullptr;
    // " Log Level "
    QGroupBox* Frame7 = nullptr;
    std::array<QRadioButton*, 2> optLog{};
    // " Data Send "
    QGroupBox* Frame8 = nullptr;
    std::array<QRadioButton*, 3> optCommand{};
    std::array<QLabel*, 2> Label1{}; // 0: "Channel", 1: the vendor link in the bottom panel
    QLabel* Label2 = nullptr;
    QComboBox* ComboSet = nullptr;
    QComboBox* ComboValue = nullptr;
    QComboBox* ComboReset = nullptr;
    QPushButton* cmdSend = nullptr;
    QPushButton* cmdEnd = nullptr;
    QPushButton* cmdClear = nullptr;
    // Value boxes and their captions
    QGroupBox* Frame9 = nullptr;
    std::array<QGroupBox*, 2> Frame11{};
    std::array<QGroupBox*, 2> Frame5{};
    std::array<QLabel*, 22> lbsCH_Input{}; // member 20 does not exist
    std::array<QLineEdit*, 6> txt_Input{};
    std::array<QLineEdit*, 2> txt_Output{};
    QLineEdit* txt_CheckSum = nullptr;
    std::array<QLineEdit*, 6> txtCounter{};
    std::array<QLineEdit*, 6> txtGapTime{};
    // Log list and bottom panel
    QListWidget* List1 = nullptr;
    QFrame* SSPanel2 = nullptr;

    // The device link's ports: Winsock1 and SendTimer.
    vm::DeviceLink* link = nullptr;
    // The ping test's ports: PingTimer and the probe.
    vm::PingTest* ping = nullptr;

    // The window's behaviour, on a model of these controls.
    vm::form::frmSim_3870& form() { return *form_; }

    // Adds one line to the log list under its size limit and selects it.
    void AddLog(const QString& text);

    void Form_Load();
    void Form_Resize();
    void Form_Unload();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildControls();
    void dockPanel();
    void bindControls();

    std::unique_ptr<vm::QtSettingsStore> settings_;
    std::unique_ptr<vm::QtClock> clock_;
    std::unique_ptr<vm::QtLogFiles> logFiles_;
    std::unique_ptr<vm::QtDesktop> desktop_;
    std::unique_ptr<vm::form::frmSim_3870> form_;
};
