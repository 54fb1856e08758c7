#pragma once

#include <QWidget>

#include <array>

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
struct LinkView;
} // namespace vm

// The tool's one window. Every control is a public member under its design name, and
// members of a control array share a name with an index (optCommand[1] is the widget
// whose objectName is "optCommand_1"). The subsystems' handlers live in their own
// folders; this class builds the controls, loads and saves the settings, filters the
// entry fields and keeps the log list.
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

    // The device link behind Connect, Disconnect, Send, End and the command and interval
    // options; it owns Winsock1 and SendTimer.
    vm::DeviceLink* link = nullptr;
    // The ping test behind "Ping Start" and "Ping Stop"; it owns PingTimer.
    vm::PingTest* ping = nullptr;

    // Adds one line to the log list under its size limit and selects it.
    void AddLog(const QString& text);
    // The controls the device link works on, with AddLog as its log.
    vm::LinkView linkView();

    // Handlers
    void Form_Load();
    void Form_Resize();
    void Form_Unload();
    void txtDestIP_Change();
    void txtDestPort_Change();
    void cboTime_Change();
    void cboTime_Click();
    void txtDestIP_KeyPress(int& KeyAscii);
    void txtDestPort_KeyPress(int& KeyAscii);
    void cboTime_KeyPress(int& KeyAscii);
    void cmdClear_Click();
    void Label1_Click(int Index);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildControls();
    void dockPanel();
    void wireWindowEvents();
};
