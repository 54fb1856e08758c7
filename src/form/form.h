#pragma once

// The window frmSim_3870 in plain C++: its controls (controls.h) and every handler of the
// device link, the ping test, the log list, the settings, the key filter and the vendor link,
// reaching the platform only through its ports (ports.h). A front end builds one widget per
// control, binds it (see controls.h), calls Form_Load once the bindings are in place, and
// calls the handlers below for the user's input, the timers' ticks and the TCP client's
// events, one at a time on the window's thread.

#include "form/controls.h"
#include "form/ports.h"
#include "protocol/bytes.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace vm::form {

// How long the Send operation waits for a connect it started, name look-up included.
inline constexpr std::chrono::milliseconds kSendConnectWait{1000};
// The period both timers have before anything changes it.
inline constexpr std::chrono::milliseconds kTimerStartInterval{1000};
// The most characters the user may put into the address and port boxes.
inline constexpr std::size_t kAddressMaxLength = 15;
inline constexpr std::size_t kPortMaxLength = 5;
// The vendor web page: both the caption of the link label and the address it opens.
inline constexpr char kVendorAddress[] = "www.velmora.example";

// The key filter of the address, port and interval fields: Backspace (8), "." and the digits.
bool isEntryFieldChar(int code);

// A user's edit of a text field, cut to the field's limit: `proposed` is the whole text the
// edit would leave, `cursor` (in characters) the end of what was put in, `lengthBefore` the
// text's length in characters before the edit. A result longer than both the limit and the
// text before has the excess cut from the end of what was put in, so a longer text the
// program set may be edited but not grown. maxLength 0 means no limit.
struct UserEdit {
    std::string text;
    std::size_t cursor = 0; // in characters
};
UserEdit limitUserEdit(std::string_view proposed, std::size_t cursor, std::size_t lengthBefore,
                       std::size_t maxLength);

class frmSim_3870 {
public:
    explicit frmSim_3870(const Platform& platform);
    frmSim_3870(const frmSim_3870&) = delete;
    frmSim_3870& operator=(const frmSim_3870&) = delete;

    // " TCP Information "
    TextBox txtDestIP{"txtDestIP"};
    TextBox txtDestPort{"txtDestPort"};
    CommandButton cmdConnect{"cmdConnect"};
    CommandButton cmdDisconnect{"cmdDisconnect"};
    // " Ping TEST "
    CommandButton cmdPingStart{"cmdPingStart"};
    CommandButton cmdPingStop{"cmdPingStop"};
    // " Data Send Action "
    std::array<OptionButton, 2> optInterval{OptionButton{"optInterval", 0},
                                            OptionButton{"optInterval", 1}};
    std::array<Label, 2> lblTime{Label{"lblTime", 0, "Time Interval"},
                                 Label{"lblTime", 1, "(Second)"}};
    ComboBox cboTime{"cboTime", ComboBox::Style::Editable};
    // " Log Level "
    std::array<OptionButton, 2> optLog{OptionButton{"optLog", 0}, OptionButton{"optLog", 1}};
    // " Data Send "
    std::array<OptionButton, 3> optCommand{OptionButton{"optCommand", 0},
                                           OptionButton{"optCommand", 1},
                                           OptionButton{"optCommand", 2}};
    ComboBox ComboSet{"ComboSet", ComboBox::Style::PickList};
    ComboBox ComboValue{"ComboValue", ComboBox::Style::PickList};
    ComboBox ComboReset{"ComboReset", ComboBox::Style::PickList};
    CommandButton cmdSend{"cmdSend"};
    CommandButton cmdEnd{"cmdEnd"};
    CommandButton cmdClear{"cmdClear"};
    // Value boxes, written by the decoder alone
    std::array<TextBox, 6> txt_Input{TextBox{"txt_Input", 0}, TextBox{"txt_Input", 1},
                                     TextBox{"txt_Input", 2}, TextBox{"txt_Input", 3},
                                     TextBox{"txt_Input", 4}, TextBox{"txt_Input", 5}};
    std::array<TextBox, 2> txt_Output{TextBox{"txt_Output", 0}, TextBox{"txt_Output", 1}};
    TextBox txt_CheckSum{"txt_CheckSum"};
    std::array<TextBox, 6> txtCounter{TextBox{"txtCounter", 0}, TextBox{"txtCounter", 1},
                                      TextBox{"txtCounter", 2}, TextBox{"txtCounter", 3},
                                      TextBox{"txtCounter", 4}, TextBox{"txtCounter", 5}};
    std::array<TextBox, 6> txtGapTime{TextBox{"txtGapTime", 0}, TextBox{"txtGapTime", 1},
                                      TextBox{"txtGapTime", 2}, TextBox{"txtGapTime", 3},
                                      TextBox{"txtGapTime", 4}, TextBox{"txtGapTime", 5}};
    // The log list, at most kLogListLimit + 1 lines.
    ListBox List1{"List1"};
    // The vendor link in the bottom panel: its caption is the address it opens.
    Label VendorLink{"Label1", 1, kVendorAddress};

    Timer SendTimer;
    Timer PingTimer;

    // Window
    void Form_Load();
    // The window closes: the timers stop and the connection is released, with no event, line
    // or frame from then on.
    void Form_Unload();

    // Settings: each change of the field's text is saved under its key.
    void txtDestIP_Change();
    void txtDestPort_Change();
    void cboTime_Change();
    void cboTime_Click();

    // Key filter: a typed character outside isEntryFieldChar beeps and is cancelled (set to 0).
    void txtDestIP_KeyPress(int& KeyAscii);
    void txtDestPort_KeyPress(int& KeyAscii);
    void cboTime_KeyPress(int& KeyAscii);
    // Text pasted or dropped into any of the three fields passes the same rule: the refused
    // characters are dropped, with one beep for the whole paste. Returns what is inserted;
    // the front end then cuts the edit to the field's limit (limitUserEdit).
    std::string PasteFilter(std::string_view pasted);

    // Device link
    // Closes the socket and starts a connect to the window's destination. Returns false, after
    // one log line, when the host or port text is refused; nothing is started then.
    bool ConnectDevice();
    void cmdConnect_Click();
    void cmdDisconnect_Click();
    void Winsock1_Connect();
    void Winsock1_Close();
    // One read from the connection.
    void Winsock1_DataArrival(ByteView data);
    // A connect attempt failed, with the system's reason.
    void Winsock1_Error(const std::string& description);
    void DisplayData(ByteView frame);
    void cmdSend_Click();
    // Option clicks select the member (clearing the others of its group), then run the handler.
    void optCommand_Click(int Index);
    void optInterval_Click(int Index);
    void optLog_Click(int Index);
    void cmdEnd_Click();
    void SendTimer_Timer();

    // Ping test
    void cmdPingStart_Click();
    void cmdPingStop_Click();
    void PingTimer_Timer();

    // Log
    void AddLog(std::string text);
    void cmdClear_Click();
    // Appends the text and CR LF to today's daily file. The first entry that cannot be written
    // gives one "Log File Error!!" line; the next failure after a written entry gives another.
    void WriteLogFile(std::string_view text);
    std::string GetTimeStamp();

    // Vendor link
    void Label1_Click(int Index);

private:
    void addStampedLine(std::string_view text);
    void armRepeat();
    void setIntervalControlsEnabled(bool enabled);
    bool intervalControlsLocked() const;
    template <typename Step> void decoderStep(Step&& step);

    Platform platform_;
    bool inTick_ = false;      // SendTimer_Timer is running the Send operation
    std::string arrivalStamp_; // set while the frames of one merged arrival are decoded
    std::string remoteHost_;   // the destination of the last connect started
    int remotePort_ = 0;
    bool logFileFailing_ = false; // the last daily-file entry was not written
    bool unloaded_ = false;       // Form_Unload ran: events that were on their way do nothing
};

} // namespace vm::form
