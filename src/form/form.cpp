#include "form/form.h"

#include "protocol/arrival.h"
#include "protocol/decoder.h"
#include "protocol/frames.h"
#include "protocol/loglines.h"
#include "protocol/parsers.h"
#include "protocol/settings.h"
#include "protocol/utf8.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <exception>
#include <optional>
#include <system_error>
#include <utility>

namespace vm::form {

namespace {

// The text of the decoder's error box: three lines joined by CR LF.
std::string dataDisplayErrorText(long long number, std::string_view description) {
    return "Data Display Error!!\r\nError Number : " + std::to_string(number) +
           "\r\nError Description : " + std::string(description);
}

// "YYYYMMDD.txt" for a local calendar date.
std::string dailyLogFileName(const Date& date) {
    char name[32];
    std::snprintf(name, sizeof name, "%04d%02d%02d.txt", date.year, date.month, date.day);
    return name;
}

std::string pathText(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return {text.begin(), text.end()};
}

std::size_t characterCount(std::string_view text) {
    std::size_t count = 0;
    for (std::size_t at = 0; at < text.size(); ++count)
        at += utf8::decodeFirst(text.substr(at)).length;
    return count;
}

// The byte offset of character `index` (the text's size past its end).
std::size_t byteOffset(std::string_view text, std::size_t index) {
    std::size_t at = 0;
    for (std::size_t i = 0; i < index && at < text.size(); ++i)
        at += utf8::decodeFirst(text.substr(at)).length;
    return at;
}

template <std::size_t N> void selectMember(std::array<OptionButton, N>& group, int index) {
    if (index < 0 || std::size_t(index) >= N)
        return;
    for (std::size_t i = 0; i < N; ++i)
        group[i].setValue(int(i) == index);
}

std::string readSetting(SettingsStore& store, std::string_view key, std::string_view fallback) {
    return store.Read(key).value_or(std::string(fallback));
}

} // namespace

bool isEntryFieldChar(int code) {
    return code == 8 || code == '.' || (code >= '0' && code <= '9');
}

UserEdit limitUserEdit(std::string_view proposed, std::size_t cursor, std::size_t lengthBefore,
                       std::size_t maxLength) {
    UserEdit edit{std::string(proposed), cursor};
    if (maxLength == 0)
        return edit;
    const std::size_t length = characterCount(proposed);
    const std::size_t allowed = std::max(maxLength, lengthBefore);
    if (length <= allowed)
        return edit;
    const std::size_t excess = std::min(length - allowed, cursor);
    const std::size_t from = byteOffset(proposed, cursor - excess);
    const std::size_t to = byteOffset(proposed, cursor);
    edit.text.erase(from, to - from);
    edit.cursor = cursor - excess;
    return edit;
}

frmSim_3870::frmSim_3870(const Platform& platform)
    : SendTimer("SendTimer", platform.sendTimer, kTimerStartInterval)
    , PingTimer("PingTimer", platform.pingTimer, kTimerStartInterval)
    , platform_(platform) {
    // The window design's initial states.
    txtDestIP.setMaxLength(kAddressMaxLength);
    txtDestPort.setMaxLength(kPortMaxLength);
    cmdDisconnect.setEnabled(false);
    cmdEnd.setEnabled(false);
    optInterval[0].setValue(true);
    lblTime[0].setEnabled(false);
    lblTime[1].setEnabled(false);
    for (int entry = 1; entry <= 15; ++entry)
        cboTime.AddItem(std::to_string(entry));
    cboTime.setText("1");
    cboTime.setEnabled(false);
    optLog[0].setValue(true);
    optCommand[0].setValue(true);
    ComboSet.setEnabled(false);
    ComboValue.setEnabled(false);
    ComboReset.setEnabled(false);
    for (TextBox& box : txt_Input)
        box.setLocked(true);
    for (TextBox& box : txt_Output)
        box.setLocked(true);

    txtDestIP.setChangeHandler([this] { txtDestIP_Change(); });
    txtDestPort.setChangeHandler([this] { txtDestPort_Change(); });
    cboTime.setChangeHandler([this] { cboTime_Change(); });
}

// ---- Window and settings

void frmSim_3870::Form_Load() {
    SettingsStore& store = platform_.settings;
    txtDestIP.setText(readSetting(store, settings::kAddressKey, settings::kDefaultAddress));
    txtDestPort.setText(readSetting(store, settings::kPortKey, settings::kDefaultPort));
    cboTime.setText(readSetting(store, settings::kIntervalKey, settings::kDefaultInterval));
    for (const char* entry : {"1", "2", "A"})
        ComboSet.AddItem(entry);
    for (const char* entry : {"0", "1"})
        ComboValue.AddItem(entry);
    for (const char* entry : {"1", "2", "3", "4", "5", "6", "A"})
        ComboReset.AddItem(entry);
    ComboSet.setListIndex(0);
    ComboReset.setListIndex(0);
    ComboValue.setListIndex(0);
}

void frmSim_3870::Form_Unload() {
    unloaded_ = true;
    SendTimer.setEnabled(false);
    PingTimer.setEnabled(false);
    platform_.winsock.Close();
}

void frmSim_3870::txtDestIP_Change() {
    platform_.settings.Write(settings::kAddressKey, txtDestIP.Text());
}

void frmSim_3870::txtDestPort_Change() {
    platform_.settings.Write(settings::kPortKey, txtDestPort.Text());
}

void frmSim_3870::cboTime_Change() {
    platform_.settings.Write(settings::kIntervalKey, cboTime.Text());
}

void frmSim_3870::cboTime_Click() {
    platform_.settings.Write(settings::kIntervalKey, cboTime.Text());
}

namespace {
void filterEntryKey(Desktop& desktop, int& KeyAscii) {
    if (!isEntryFieldChar(KeyAscii)) {
        desktop.Beep();
        KeyAscii = 0;
    }
}
} // namespace

void frmSim_3870::txtDestIP_KeyPress(int& KeyAscii) {
    filterEntryKey(platform_.desktop, KeyAscii);
}

void frmSim_3870::txtDestPort_KeyPress(int& KeyAscii) {
    filterEntryKey(platform_.desktop, KeyAscii);
}

void frmSim_3870::cboTime_KeyPress(int& KeyAscii) {
    filterEntryKey(platform_.desktop, KeyAscii);
}

std::string frmSim_3870::PasteFilter(std::string_view pasted) {
    std::string kept;
    bool refused = false;
    for (std::size_t at = 0; at < pasted.size();) {
        const utf8::Decoded character = utf8::decodeFirst(pasted.substr(at));
        // Backspace edits when typed; as pasted text it is a control character like any other.
        if (character.valid && character.code != 8 && isEntryFieldChar(int(character.code)))
            kept.append(pasted.substr(at, character.length));
        else
            refused = true;
        at += character.length;
    }
    if (refused)
        platform_.desktop.Beep();
    return kept;
}

void frmSim_3870::Label1_Click(int /*Index*/) {
    try {
        platform_.desktop.OpenAddress(VendorLink.Caption());
    } catch (const std::exception& failure) {
        platform_.desktop.ErrorBox(failure.what());
    }
}

// ---- Log

std::string frmSim_3870::GetTimeStamp() {
    return formatTimeStamp(platform_.clock.UtcTimeOfDay());
}

void frmSim_3870::AddLog(std::string text) {
    while (List1.ListCount() > loglines::kLogListLimit)
        List1.RemoveFirst();
    List1.AddItem(std::move(text));
}

void frmSim_3870::cmdClear_Click() {
    List1.Clear();
}

void frmSim_3870::WriteLogFile(std::string_view text) {
    LogFiles& files = platform_.logFiles;
    const std::filesystem::path file =
        files.Folder() / dailyLogFileName(platform_.clock.LocalDate());
    std::string bytes(text);
    bytes += "\r\n";
    const std::optional<std::string> failure = files.Append(file, bytes);
    if (!failure) {
        logFileFailing_ = false;
        return;
    }
    if (std::exchange(logFileFailing_, true))
        return;
    addStampedLine(loglines::kLogFileError + pathText(file) + " : " + *failure);
}

void frmSim_3870::addStampedLine(std::string_view text) {
    AddLog(GetTimeStamp() + std::string(text));
}

// ---- Device link: connection

bool frmSim_3870::ConnectDevice() {
    TcpClient& winsock = platform_.winsock;
    winsock.Close();
    const std::string& host = txtDestIP.Text();
    if (const std::optional<std::string> problem = hostProblem(host)) {
        addStampedLine(loglines::kConnectError + *problem + " : \"" + host + "\"");
        return false;
    }
    remoteHost_ = host;
    const std::string& portText = txtDestPort.Text();
    const PortText port = parsePort(portText);
    if (!port.ok()) {
        addStampedLine(loglines::kConnectError + portProblemText(port.problem) + " : \"" +
                       portText + "\"");
        return false;
    }
    remotePort_ = port.port;
    winsock.Connect(remoteHost_, remotePort_);
    return true;
}

void frmSim_3870::cmdConnect_Click() {
    ConnectDevice();
}

void frmSim_3870::cmdDisconnect_Click() {
    // When the module closed the connection first, its own close event gives the one line.
    if (!platform_.winsock.Close())
        Winsock1_Close();
}

void frmSim_3870::Winsock1_Connect() {
    if (unloaded_)
        return;
    cmdConnect.setEnabled(false);
    cmdDisconnect.setEnabled(true);
    cmdSend.setEnabled(true);
    cmdEnd.setEnabled(true);
    addStampedLine(loglines::kSocketConnected);
}

void frmSim_3870::Winsock1_Close() {
    if (unloaded_)
        return;
    cmdConnect.setEnabled(true);
    cmdDisconnect.setEnabled(false);
    // End stays while it has something to do: stop a running repeat, or unlock the interval
    // controls that a Send locked.
    if (!SendTimer.Enabled() && !intervalControlsLocked())
        cmdEnd.setEnabled(false);
    addStampedLine(loglines::kSocketClosed);
}

void frmSim_3870::Winsock1_Error(const std::string& description) {
    if (unloaded_)
        return;
    addStampedLine(loglines::kConnectFailed + remoteHost_ + ":" + std::to_string(remotePort_) +
                   " : " + description);
}

// ---- Device link: status frames

template <typename Step> void frmSim_3870::decoderStep(Step&& step) {
    // One step of the decoder: a failure shows the error box, and decoding goes on with the
    // next step. A std::system_error reports its code as the number; other failures report 0.
    try {
        step();
    } catch (const std::system_error& failure) {
        platform_.desktop.ErrorBox(dataDisplayErrorText(failure.code().value(), failure.what()));
    } catch (const std::exception& failure) {
        platform_.desktop.ErrorBox(dataDisplayErrorText(0, failure.what()));
    } catch (...) {
        platform_.desktop.ErrorBox(dataDisplayErrorText(0, "Unknown failure"));
    }
}

void frmSim_3870::Winsock1_DataArrival(ByteView data) {
    if (unloaded_ || data.size() <= 1)
        return;
    // Replies that were read together because this thread was late are decoded one by one,
    // each as if it had arrived alone, under the arrival's time stamp.
    const std::vector<ByteView> frames = splitArrival(data);
    if (frames.size() == 1) {
        DisplayData(data);
        return;
    }
    const std::string outer = std::exchange(arrivalStamp_, GetTimeStamp());
    for (const ByteView frame : frames)
        DisplayData(frame);
    arrivalStamp_ = outer;
}

void frmSim_3870::DisplayData(ByteView frame) {
    const std::optional<StatusTexts> texts = statusTexts(frame);
    if (!texts) {
        decoderStep([&] { AddLog(wrongLengthLine(frame.size())); });
        return;
    }
    const auto show = [this](auto& boxes, const auto& values) {
        for (std::size_t i = 0; i < boxes.size(); ++i)
            decoderStep([&] { boxes[i].setText(values[i]); });
    };
    show(txt_Input, texts->inputs);
    show(txt_Output, texts->outputs);
    show(txtCounter, texts->counters);
    // A frame without a checksum or without gap times empties those boxes, so that they never
    // show a value of an earlier frame as if it were this one's.
    decoderStep([&] { txt_CheckSum.setText(texts->checkSum.value_or(std::string())); });
    show(txtGapTime, texts->gapTimes.value_or(std::array<std::string, 6>{}));

    std::string line;
    decoderStep(
        [&] { line = recvLine(arrivalStamp_.empty() ? GetTimeStamp() : arrivalStamp_, frame); });
    decoderStep([&] { AddLog(line); });
    if (optLog[1].Value())
        decoderStep([&] { WriteLogFile(recvFileText(line)); });
}

// ---- Device link: Send and its scheduling

void frmSim_3870::cmdSend_Click() {
    armRepeat();
    setIntervalControlsEnabled(false);

    std::optional<Bytes> frame;
    for (std::size_t i = 0; i < optCommand.size() && !frame; ++i) {
        if (!optCommand[i].Value())
            continue;
        frame =
            buildRequestFrame(Command(i), ComboSet.Text(), ComboValue.Text(), ComboReset.Text());
        break;
    }
    if (!frame) {
        addStampedLine(loglines::kSendError);
        return;
    }
    // Stamped now, before any connecting or waiting.
    std::string line = sendLine(GetTimeStamp(), *frame);

    TcpClient& winsock = platform_.winsock;
    if (winsock.State() != TcpClient::kConnected && ConnectDevice())
        winsock.WaitForConnect(kSendConnectWait);
    if (winsock.State() != TcpClient::kConnected)
        return;
    if (!winsock.SendData(*frame)) {
        addStampedLine(loglines::kSendFailed + winsock.LastError());
        return;
    }
    AddLog(std::move(line));
}

void frmSim_3870::armRepeat() {
    if (!optInterval[1].Value())
        return;
    const std::string& text = cboTime.Text();
    const std::int64_t periodMs = parseIntervalMs(text);
    if (periodMs <= 0 || periodMs > INT_MAX) {
        addStampedLine(loglines::kRepeatError + ("\"" + text + "\""));
        return;
    }
    const std::chrono::milliseconds period{periodMs};
    // A tick leaves a timer that already runs with this period alone: restarting it would
    // count the period from the end of the handler, so every cycle would take the period plus
    // the handler's time and a short period could never be kept.
    if (inTick_ && SendTimer.Enabled() && SendTimer.Interval() == period)
        return;
    if (SendTimer.Enabled() && SendTimer.Interval() != period)
        SendTimer.setInterval(period); // restarts the count
    else {
        SendTimer.setInterval(period);
        SendTimer.Restart();
    }
    cmdEnd.setEnabled(true);
}

bool frmSim_3870::intervalControlsLocked() const {
    return !optInterval[0].Enabled();
}

void frmSim_3870::setIntervalControlsEnabled(bool enabled) {
    optInterval[0].setEnabled(enabled);
    optInterval[1].setEnabled(enabled);
    cboTime.setEnabled(enabled);
    // Locked controls keep End, the one way to unlock them.
    if (!enabled)
        cmdEnd.setEnabled(true);
}

void frmSim_3870::optCommand_Click(int Index) {
    selectMember(optCommand, Index);
    const bool doSetting = optCommand[1].Value();
    ComboSet.setEnabled(doSetting);
    ComboValue.setEnabled(doSetting);
    ComboReset.setEnabled(optCommand[2].Value());
}

void frmSim_3870::optInterval_Click(int Index) {
    selectMember(optInterval, Index);
    const bool repeat = optInterval[1].Value();
    lblTime[0].setEnabled(repeat);
    lblTime[1].setEnabled(repeat);
    cboTime.setEnabled(repeat);
    cboTime.setBackColor(repeat ? kWhite : kSystemMenuColor);
}

void frmSim_3870::optLog_Click(int Index) {
    selectMember(optLog, Index);
}

void frmSim_3870::cmdEnd_Click() {
    if (SendTimer.Enabled())
        SendTimer.setEnabled(false);
    setIntervalControlsEnabled(true);
    // End was left enabled for the repeat or the locked controls alone: with no connection it
    // goes grey again.
    if (platform_.winsock.State() != TcpClient::kConnected)
        cmdEnd.setEnabled(false);
}

void frmSim_3870::SendTimer_Timer() {
    if (unloaded_)
        return;
    inTick_ = true;
    cmdSend_Click();
    inTick_ = false;
}

// ---- Ping test

void frmSim_3870::cmdPingStart_Click() {
    PingTimer_Timer();
    // A second start while running keeps the one timer on its current beat.
    if (!PingTimer.Enabled())
        PingTimer.setEnabled(true);
    txtDestIP.setEnabled(false);
}

void frmSim_3870::cmdPingStop_Click() {
    if (!PingTimer.Enabled())
        return;
    PingTimer.setEnabled(false);
    txtDestIP.setEnabled(true);
    AddLog(loglines::kPingTestEnd);
}

void frmSim_3870::PingTimer_Timer() {
    if (unloaded_)
        return;
    AddLog(platform_.prober.ProbeLine(txtDestIP.Text()));
}

} // namespace vm::form
