// The window's behaviour on the fake platform. Each row is a script of what a user and the
// network do (clicks, texts, ticks, connects, closes, arrivals) and what the user then sees:
// the log list, the buttons, the value boxes, the daily file, the settings.

#include "fake_platform.h"

#include "protocol/decoder.h"

#include <doctest/doctest.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace vm::test {
namespace {

// A status frame of 33, 34 or 57 bytes: inputs 101010, outputs 10, counters `first` and 2 to
// 6, checksum 0xD5, gap times 100 to 600.
Bytes statusFrame(std::size_t length, std::uint8_t first = 1) {
    Bytes frame{'N', '1', '0', '1', '0', '1', '0', '1', '0'};
    const auto dword = [&](std::uint32_t value) {
        for (int i = 0; i < 4; ++i)
            frame.push_back(std::uint8_t(value >> (8 * i)));
    };
    dword(first);
    for (std::uint32_t counter = 2; counter <= 6; ++counter)
        dword(counter);
    if (length == 34)
        frame.push_back(0xD5);
    for (std::uint32_t gap = 100; length == 57 && gap <= 600; gap += 100)
        dword(gap);
    return frame;
}

// Runs the script's words in order: one user action or network event each.
void run(Rig& r, const std::string& script) {
    frmSim_3870& f = *r.form;
    std::istringstream words(script);
    for (std::string word; words >> word;) {
        const std::size_t eq = word.find('=');
        const std::string key = word.substr(0, eq);
        std::string value = eq == std::string::npos ? "" : word.substr(eq + 1);
        const auto digit = [&](std::size_t i) { return int(value.at(i) - '0'); };
        // clang-format off
        if (key == "connect") f.cmdConnect_Click();
        else if (key == "disconnect") f.cmdDisconnect_Click();
        else if (key == "send") f.cmdSend_Click();
        else if (key == "end") f.cmdEnd_Click();
        else if (key == "tick") r.tick();
        else if (key == "pump") r.pump();
        else if (key == "closes") r.tcp.peerCloses();
        else if (key == "refusing") r.tcp.peer = FakeTcp::Peer::Refusing;
        else if (key == "silent") r.tcp.peer = FakeTcp::Peer::Silent;
        else if (key == "writefails") r.tcp.writeFailure = "Broken pipe";
        else if (key == "repeat") { f.optInterval_Click(1); f.cboTime.userSetText(value); }
        else if (key == "onetime") f.optInterval_Click(0);
        else if (key == "pick") { f.cboTime.userSetListIndex(digit(0)); f.cboTime_Click(); }
        else if (key == "port") f.txtDestPort.userSetText(value);
        else if (key == "ip") f.txtDestIP.userSetText(value);
        else if (key == "T") { f.optCommand_Click(1); f.ComboSet.userSetListIndex(digit(0));
                               f.ComboValue.userSetListIndex(digit(1)); }
        else if (key == "C") { f.optCommand_Click(2); f.ComboReset.userSetListIndex(digit(0)); }
        else if (key == "file") f.optLog_Click(1);
        else if (key == "filefails") r.memoryFiles.failure = "No space left on device";
        else if (key == "fileok") r.memoryFiles.failure.reset();
        else if (key == "frame") r.tcp.arrives(statusFrame(std::size_t(std::stoi(value))));
        else if (key == "frame9") r.tcp.arrives(statusFrame(34, 9));
        else if (key == "bytes") r.tcp.arrives(Bytes(std::size_t(std::stoi(value)), '1'));
        else if (key == "merged") { Bytes two = statusFrame(34), b = statusFrame(34, 9);
                                    two.insert(two.end(), b.begin(), b.end());
                                    r.tcp.arrives(two); }
        else if (key == "paste") { // into the port box's end; "_" stands for a blank
            std::replace(value.begin(), value.end(), '_', ' ');
            const std::string before = f.txtDestPort.Text(), kept = f.PasteFilter(value);
            f.txtDestPort.userSetText(form::limitUserEdit(before + kept, before.size() +
                kept.size(), before.size(), f.txtDestPort.MaxLength()).text); }
        else if (key == "ping") f.cmdPingStart_Click();
        else if (key == "pingtick") f.PingTimer_Timer();
        else if (key == "pingstop") f.cmdPingStop_Click();
        else FAIL("unknown word " << word);
        // clang-format on
    }
}

// "@" is the fake clock's stamp, "{34}" a RECV line of statusFrame(34) ("{34b}": counter 9),
// "{R}" the fake probe's reply line.
std::string expand(std::string text) {
    const std::vector<std::pair<std::string, std::string>> marks{
        {"{33}", recvLine("@", statusFrame(33))},
        {"{34}", recvLine("@", statusFrame(34))},
        {"{57}", recvLine("@", statusFrame(57))},
        {"{34b}", recvLine("@", statusFrame(34, 9))},
        {"{R}", "Reply From 192.168.1.110: Bytes=0 Time=1ms TTL=64"},
        {"{c}", "Connect 192.168.1.110:"},
        {"@", "[09:05:03.042]"}};
    for (const auto& [mark, replacement] : marks)
        for (std::size_t at; (at = text.find(mark)) != std::string::npos;)
            text.replace(at, mark.size(), replacement);
    return text;
}

std::string joined(const auto& items, const char* separator = "|") {
    std::string out;
    for (const auto& item : items)
        out += (&item == &*std::begin(items) ? "" : separator) + std::string(item);
    return out;
}

std::string texts(const auto& boxes) {
    std::vector<std::string> out;
    for (const auto& box : boxes)
        out.push_back(box.Text());
    return joined(out, ",");
}

// What the user sees of the link: the enabled buttons and interval controls, and the timer.
std::string states(Rig& r) {
    const frmSim_3870& f = *r.form;
    std::vector<std::string> on;
    for (const auto& [enabled, name] : std::vector<std::pair<bool, const char*>>{
             {f.cmdConnect.Enabled(), "Connect"},
             {f.cmdDisconnect.Enabled(), "Disconnect"},
             {f.cmdSend.Enabled(), "Send"},
             {f.cmdEnd.Enabled(), "End"},
             {f.optInterval[0].Enabled() && f.optInterval[1].Enabled(), "Mode"},
             {f.cboTime.Enabled(), "cboTime"},
             {f.lblTime[0].Enabled(), "lblTime"}})
        if (enabled)
            on.push_back(name);
    if (r.sendTimer.running)
        on.push_back("timer=" + std::to_string(r.sendTimer.interval.count()));
    return joined(on, " ");
}

// The value boxes: inputs outputs counters checksum gap-times.
std::string values(Rig& r) {
    const frmSim_3870& f = *r.form;
    return texts(f.txt_Input) + " " + texts(f.txt_Output) + " " + texts(f.txtCounter) + " " +
           f.txt_CheckSum.Text() + " " + texts(f.txtGapTime);
}

struct Row {
    const char* script;
    const char* lines; // the log list, "|" between lines
    const char* seen;  // what the table's view shows after the script
};

void check(const std::vector<Row>& rows, std::string (*view)(Rig&)) {
    for (const Row& row : rows) {
        const std::string script = row.script;
        CAPTURE(script);
        Rig rig;
        rig.load();
        run(rig, script);
        // Paths in the lines are the platform's own; only their separators may differ.
        std::string lines = joined(rig.form->List1.Lines());
        std::replace(lines.begin(), lines.end(), '\\', '/');
        CHECK(lines == expand(row.lines));
        CHECK(view(rig) == expand(row.seen));
    }
}

TEST_CASE("Connect, Disconnect, a close by the module, and their failures") {
    const char* closed = "Connect Send Mode";
    const char* open = "Disconnect Send End Mode";
    check(
        {{"", "", closed},
         {"connect pump", "@ Socket Connected!!", open},
         {"refusing connect pump", "@ Connect Failed!! 192.168.1.110:4000 : Connection refused",
          closed},
         {"connect pump disconnect pump", "@ Socket Connected!!|@ Socket Closed!!", closed},
         {"connect pump closes pump", "@ Socket Connected!!|@ Socket Closed!!", closed},
         // The module's close waits in the queue when Disconnect is pressed: one line.
         {"connect pump closes disconnect pump", "@ Socket Connected!!|@ Socket Closed!!", closed},
         {"port=99999 connect", "@ Connect Error!! Port is out of range (0 to 32767) : \"99999\"",
          closed},
         {"port=abc connect", "@ Connect Error!! Port is not a number : \"abc\"", closed},
         {"ip= connect", "@ Connect Error!! Host is empty : \"\"", closed}},
        states);
    // Connect while an attempt is pending starts anew with the current texts; a port with a
    // fraction rounds halves to the even neighbour.
    Rig rig;
    rig.load();
    run(rig, "silent connect port=40.5 connect");
    CHECK(joined(rig.tcp.calls) ==
          "Close|Connect 192.168.1.110:4000|Close|Connect 192.168.1.110:40");
}

TEST_CASE("Send in each mode and with each failure; Repeat and End") {
    check(
        {{"connect pump send", "@ Socket Connected!!|@ SEND : 4E 52 45 51 ", "Disconnect Send End"},
         {"connect pump T=21 send", "@ Socket Connected!!|@ SEND : 4E 54 41 31 ",
          "Disconnect Send End"},
         {"connect pump C=5 send", "@ Socket Connected!!|@ SEND : 4E 43 36 30 ",
          "Disconnect Send End"},
         // Send connects and waits; the connect event is handled after it.
         {"send pump", "@ SEND : 4E 52 45 51 |@ Socket Connected!!", "Disconnect Send End"},
         // Locked controls keep End, which unlocks them and greys itself without a link.
         {"refusing send pump", "@ Connect Failed!! 192.168.1.110:4000 : Connection refused",
          "Connect Send End"},
         {"refusing send pump end", "@ Connect Failed!! 192.168.1.110:4000 : Connection refused",
          "Connect Send Mode cboTime"},
         {"silent send pump",
          "@ Connect Failed!! 192.168.1.110:4000 : Connection timed out after 1000 ms",
          "Connect Send End"},
         {"connect pump writefails send", "@ Socket Connected!!|@ Send Failed!! : Broken pipe",
          "Disconnect Send End"},
         {"connect pump send disconnect",
          "@ Socket Connected!!|@ SEND : 4E 52 45 51 |@ Socket Closed!!", "Connect Send End"},
         {"connect pump repeat=1.5 send tick tick",
          "@ Socket Connected!!|@ SEND : 4E 52 45 51 |@ SEND : 4E 52 45 51 |@ SEND : 4E 52 45 51 ",
          "Disconnect Send End lblTime timer=1500"},
         {"connect pump repeat=15 send end", "@ Socket Connected!!|@ SEND : 4E 52 45 51 ",
          "Disconnect Send End Mode cboTime lblTime"},
         {"connect pump send end onetime", "@ Socket Connected!!|@ SEND : 4E 52 45 51 ",
          "Disconnect Send End Mode"},
         // The module closes while Repeat runs: End stays, the next tick connects again.
         {"connect pump repeat=1 send closes pump tick pump",
          "@ Socket Connected!!|@ SEND : 4E 52 45 51 |@ Socket Closed!!|@ SEND : 4E 52 45 51 "
          "|@ Socket Connected!!",
          "Disconnect Send End lblTime timer=1000"},
         // INTERVAL=abc and PORT=99999: End unlocks both boxes for mending.
         {"repeat=abc port=99999 send end",
          "@ Repeat Error!! Interval out of range (0.001 to 2147483.647 Second) : \"abc\"|@ "
          "Connect Error!! Port is out of range (0 to 32767) : \"99999\"",
          "Connect Send Mode cboTime lblTime"}},
        states);
    // Ticks keep the timer's beat; a press of Send starts its count again.
    Rig rig;
    rig.load();
    run(rig, "connect pump repeat=0.001 send tick tick tick");
    CHECK(rig.sendTimer.starts == 1);
    run(rig, "send");
    CHECK(rig.sendTimer.starts == 2);
    CHECK(joined(rig.tcp.calls).ends_with("Send 4E524551|Send 4E524551|Send 4E524551"));
}

std::string valuesAndFile(Rig& r) {
    return values(r) + " file:" + r.memoryFiles.files["Log/20240301.txt"];
}

TEST_CASE("Arrivals of every length, merged ones, and the daily file") {
    check({{"frame=33 pump", "{33}", "1,0,1,0,1,0 1,0 1,2,3,4,5,6  ,,,,, file:"},
           {"frame=34 pump", "{34}", "1,0,1,0,1,0 1,0 1,2,3,4,5,6 D5 ,,,,, file:"},
           {"frame=57 pump", "{57}", "1,0,1,0,1,0 1,0 1,2,3,4,5,6  100,200,300,400,500,600 file:"},
           // A frame without a checksum or without gap times empties those boxes.
           {"frame=34 frame=57 frame=33 pump", "{34}|{57}|{33}",
            "1,0,1,0,1,0 1,0 1,2,3,4,5,6  ,,,,, file:"},
           {"frame=57 frame=34 pump", "{57}|{34}", "1,0,1,0,1,0 1,0 1,2,3,4,5,6 D5 ,,,,, file:"},
           {"bytes=1 pump", "", ",,,,, , ,,,,,  ,,,,, file:"},
           {"file bytes=20 pump", "Different responce data length : 20 Bytes",
            ",,,,, , ,,,,,  ,,,,, file:"},
           {"merged pump", "{34}|{34b}", "1,0,1,0,1,0 1,0 9,2,3,4,5,6 D5 ,,,,, file:"},
           {"file frame=34 pump", "{34}",
            "1,0,1,0,1,0 1,0 1,2,3,4,5,6 D5 ,,,,, file:\r\n{34}\r\n\r\n"},
           // The first entry that is lost says so, once until an entry is written again.
           {"file filefails frame=33 frame=33 pump fileok frame=33 pump filefails frame=33 pump",
            "{33}|@ Log File Error!! Log/20240301.txt : No space left on device|{33}|{33}|{33}|"
            "@ Log File Error!! Log/20240301.txt : No space left on device",
            "1,0,1,0,1,0 1,0 1,2,3,4,5,6  ,,,,, file:\r\n{33}\r\n\r\n"}},
          valuesAndFile);
}

std::string pingState(Rig& r) {
    return std::string(r.pingTimer.running ? "running" : "idle") +
           (r.form->txtDestIP.Enabled() ? "" : " locked") +
           " starts=" + std::to_string(r.pingTimer.starts);
}

TEST_CASE("Ping start, tick and stop") {
    check({{"ping", "{R}", "running locked starts=1"},
           {"ping pingtick", "{R}|{R}", "running locked starts=1"},
           {"ping pingstop", "{R}|Ping Test End~!!", "idle starts=1"},
           {"ping pingstop pingstop", "{R}|Ping Test End~!!", "idle starts=1"},
           {"pingstop", "", "idle starts=0"},
           {"ping ping", "{R}|{R}", "running locked starts=1"}},
          pingState);
}

TEST_CASE("The daily file on the real file system: written, or its failure named") {
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / "vm_form_log";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    const std::filesystem::path log = folder / "Log";
    for (const bool plainFile : {false, true}) {
        CAPTURE(plainFile);
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        if (plainFile)
            std::ofstream(log) << "not a folder"; // start-up goes on: a Log entry exists
        REQUIRE_FALSE(form::MakeLogFolder(log, false));
        form::FolderLogFiles files(log);
        Rig rig;
        rig.files = &files;
        rig.load();
        run(rig, "file frame=34 frame=34 pump");
        const auto& lines = rig.form->List1.Lines();
        const std::u8string path = (log / "20240301.txt").u8string();
        if (plainFile) {
            REQUIRE(lines.size() == 3);
            const std::string error =
                expand("@ Log File Error!! ") + std::string(path.begin(), path.end()) + " : ";
            CHECK((lines[1].starts_with(error) && lines[1].size() > error.size()));
        } else {
            std::ifstream in(log / "20240301.txt", std::ios::binary);
            CHECK(std::string(std::istreambuf_iterator<char>(in), {}) ==
                  expand("\r\n{34}\r\n\r\n\r\n{34}\r\n\r\n"));
            CHECK(lines.size() == 2);
        }
    }
    std::filesystem::remove_all(folder);
}

TEST_CASE("The log list keeps at most 1001 lines, the newest selected; the front end follows") {
    Rig rig;
    rig.load();
    std::deque<std::string> shown; // what a front end that follows the changes shows
    rig.form->List1.setLinesListener([&](const form::ListBox::Change& change) {
        using Kind = form::ListBox::Change::Kind;
        if (change.kind == Kind::Added)
            shown.emplace_back(change.line);
        else
            change.kind == Kind::RemovedFirst ? shown.pop_front() : shown.clear();
    });
    const form::ListBox& list = rig.form->List1;
    for (int i = 0; i <= 1001; ++i) {
        rig.form->AddLog(std::to_string(i));
        const std::string first = i < 1001 ? "0" : "1";
        if (i >= 1000)
            CHECK((list.ListCount() == 1001 && list.Lines().front() == first &&
                   list.ListIndex() == 1000 && shown == list.Lines()));
    }
    rig.form->cmdClear_Click();
    rig.form->cmdClear_Click();
    rig.form->AddLog("after");
    CHECK((list.ListCount() == 1 && list.ListIndex() == 0 && shown == list.Lines()));
}

std::string portBox(Rig& r) {
    return r.form->txtDestPort.Text() + " beeps=" + std::to_string(r.desktop.beeps) +
           " saved=" + r.settings.values["PORT"] + " " +
           (r.tcp.calls.empty() ? "" : r.tcp.calls.back());
}

TEST_CASE("Every key class into every entry field; pastes pass the same rule, then the limit") {
    // Digits, the point and Backspace pass; letters, blank, minus, colon, Enter, Escape,
    // Ctrl+V, DEL and a character beyond ASCII beep and are cancelled (codes: 0 9 . BS a Z
    // blank - : CR ESC ^V DEL é).
    for (const auto handler : {&frmSim_3870::txtDestIP_KeyPress, &frmSim_3870::txtDestPort_KeyPress,
                               &frmSim_3870::cboTime_KeyPress})
        for (const int key : {48, 57, 46, 8, 97, 90, 32, 45, 58, 13, 27, 22, 127, 0xE9}) {
            CAPTURE(key);
            const bool accepted = key == 8 || key == '.' || (key >= '0' && key <= '9');
            Rig rig;
            rig.load();
            int code = key;
            ((*rig.form).*handler)(code);
            CHECK(code == (accepted ? key : 0));
            CHECK(rig.desktop.beeps == (accepted ? 0 : 1));
        }
    check({{"port= paste=_20001 silent connect", "", "20001 beeps=1 saved=20001 {c}20001"},
           {"port= paste=+20001 silent connect", "", "20001 beeps=1 saved=20001 {c}20001"},
           {"port= paste=1a2b3 silent connect", "", "123 beeps=1 saved=123 {c}123"},
           {"port= paste=123456 silent connect", "", "12345 beeps=0 saved=12345 {c}12345"},
           {"port=400 paste=99", "", "40099 beeps=0 saved=40099 "},
           {"port=40000 paste=7", "", "40000 beeps=0 saved=40000 "}},
          portBox);
    // A longer text the program set may be edited but not grown; lengths in characters.
    CHECK(form::limitUserEdit("12x3456", 3, 6, 5).text == "123456");
    CHECK(form::limitUserEdit("ééééééé", 7, 0, 5).text == "ééééé");
}

TEST_CASE("Settings: restored at load, saved on every change, shown at the next start") {
    struct Setting {
        std::map<std::string, std::string, std::less<>> stored;
        const char* script;
        const char* seen; // ADDRESS|INTERVAL|PORT stored ("-": missing), then the next start's
    };
    for (const Setting& row :
         {Setting{{}, "", "192.168.1.110|-|4000 192.168.1.110|1|4000"},
          Setting{{{"ADDRESS", "127.0.0.1"}, {"PORT", "20001"}, {"INTERVAL", "0.5"}},
                  "",
                  "127.0.0.1|0.5|20001 127.0.0.1|0.5|20001"},
          Setting{{{"ADDRESS", ""}}, "", "|-|4000 |1|4000"},
          Setting{{}, "ip=127.0.0.2 port=4 repeat=7", "127.0.0.2|7|4 127.0.0.2|7|4"},
          Setting{{}, "pick=4", "192.168.1.110|5|4000 192.168.1.110|5|4000"}}) {
        CAPTURE(std::string(row.script));
        Rig rig, next;
        rig.settings.values = row.stored;
        rig.load();
        run(rig, row.script);
        std::vector<std::string> stored;
        for (const char* key : {"ADDRESS", "INTERVAL", "PORT"})
            stored.push_back(rig.settings.Read(key).value_or("-"));
        next.settings.values = rig.settings.values;
        next.load();
        const frmSim_3870& f = *next.form;
        CHECK(joined(stored) + " " + f.txtDestIP.Text() + "|" + f.cboTime.Text() + "|" +
                  f.txtDestPort.Text() ==
              row.seen);
    }
}

TEST_CASE("Start-up picks, mode colours, command options, vendor link, closing") {
    Rig rig;
    rig.load();
    frmSim_3870& f = *rig.form;
    CHECK(f.ComboSet.Text() + f.ComboValue.Text() + f.ComboReset.Text() == "101");
    CHECK_FALSE(f.cboTime.BackColor());
    run(rig, "repeat=1");
    CHECK(f.cboTime.BackColor() == form::kWhite);
    run(rig, "onetime C=0");
    CHECK(f.cboTime.BackColor() == form::kSystemMenuColor);
    CHECK((!f.ComboSet.Enabled() && !f.ComboValue.Enabled() && f.ComboReset.Enabled()));
    f.Label1_Click(1);
    CHECK(joined(rig.desktop.opened) == form::kVendorAddress);
    rig.desktop.openThrows = true;
    f.Label1_Click(1);
    CHECK(joined(rig.desktop.errorBoxes) == "The shell cannot be reached");
    run(rig, "connect pump repeat=1 send ping closes frame=34");
    const std::size_t lines = f.List1.ListCount();
    f.Form_Unload();
    run(rig, "pump tick pingtick");
    CHECK(f.List1.ListCount() == lines); // what was on its way when the window closed
    CHECK((!rig.sendTimer.running && !rig.pingTimer.running));
    CHECK(rig.tcp.State() == form::TcpClient::kClosed);
}

} // namespace
} // namespace vm::test
