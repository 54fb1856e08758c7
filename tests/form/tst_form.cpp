// The window's behaviour on the fake platform: each row drives the form as a user and the
// network would (clicks, keys, pastes, timer ticks, connects, closes, arrivals) and compares
// what the user sees: the buttons, the value boxes, the log list, the daily file, the store.

#include "fake_platform.h"

#include "protocol/loglines.h"

#include <doctest/doctest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace vm::test {
namespace {

using Actions = std::function<void(Rig&)>;
constexpr char kStamp[] = "[09:05:03.042]";

// "@" stands for the fake clock's stamp; lines are joined with "|".
std::string expand(std::string_view text) {
    std::string out;
    for (const char c : text)
        out += c == '@' ? std::string(kStamp) : std::string(1, c);
    return out;
}

std::string joined(const auto& items) {
    std::string out;
    bool first = true;
    for (const auto& item : items) {
        out += (first ? "" : "|") + std::string(item);
        first = false;
    }
    return out;
}

// The enabled controls of the device link, and the repeat timer when it runs.
std::string states(Rig& rig) {
    const frmSim_3870& f = *rig.form;
    std::string out;
    const auto add = [&](bool on, const char* name) {
        if (on)
            out += (out.empty() ? "" : " ") + std::string(name);
    };
    add(f.cmdConnect.Enabled(), "Connect");
    add(f.cmdDisconnect.Enabled(), "Disconnect");
    add(f.cmdSend.Enabled(), "Send");
    add(f.cmdEnd.Enabled(), "End");
    add(f.optInterval[0].Enabled(), "OneTime");
    add(f.optInterval[1].Enabled(), "Repeat");
    add(f.cboTime.Enabled(), "cboTime");
    add(f.lblTime[0].Enabled() && f.lblTime[1].Enabled(), "lblTime");
    if (rig.sendTimer.running)
        out += " timer=" + std::to_string(rig.sendTimer.interval.count());
    return out;
}

// The value boxes: inputs, outputs, counters, checksum, gap times.
std::string values(const frmSim_3870& f) {
    const auto texts = [](const auto& boxes) {
        std::vector<std::string> out;
        for (const auto& box : boxes)
            out.push_back(box.Text());
        return out;
    };
    std::string out = joined(texts(f.txt_Input)) + " " + joined(texts(f.txt_Output)) + " " +
                      joined(texts(f.txtCounter)) + " " + f.txt_CheckSum.Text() + " " +
                      joined(texts(f.txtGapTime));
    return out;
}

// A status frame of 33, 34 or 57 bytes: inputs 101010, outputs 10, counters 1 to 6, checksum
// 0xD5, gap times 100 to 600. `first` is counter 0, so two frames can differ.
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
    if (length == 57)
        for (std::uint32_t gap = 100; gap <= 600; gap += 100)
            dword(gap);
    return frame;
}

std::string hexOf(const Bytes& bytes) {
    std::string hex;
    for (const std::uint8_t byte : bytes) {
        static constexpr char digits[] = "0123456789ABCDEF";
        hex += digits[byte >> 4];
        hex += digits[byte & 15];
    }
    return hex;
}

void connected(Rig& rig) {
    rig.form->cmdConnect_Click();
    rig.pump();
}

void repeatEvery(Rig& rig, const std::string& seconds) {
    rig.form->optInterval_Click(1);
    rig.form->cboTime.userSetText(seconds);
}

struct LinkRow {
    const char* name;
    Actions actions;
    const char* lines; // "@" is the stamp, "|" separates lines
    const char* states;
    const char* calls = nullptr; // the client's calls, when the row is about them
};

const std::string kConnectedLine = "@ Socket Connected!!";
const std::string kClosedLine = "@ Socket Closed!!";

TEST_CASE("Connect, Disconnect and a close by the module switch the buttons and log once") {
    const std::vector<LinkRow> rows{
        {"start-up", [](Rig&) {}, "", "Connect Send OneTime Repeat"},
        {"connect to a listening module", connected, "@ Socket Connected!!",
         "Disconnect Send End OneTime Repeat", "Close|Connect 192.168.1.110:4000"},
        {"connect where nothing listens",
         [](Rig& r) {
             r.tcp.peer = FakeTcp::Peer::Refusing;
             connected(r);
         },
         "@ Connect Failed!! 192.168.1.110:4000 : Connection refused",
         "Connect Send OneTime Repeat"},
        {"Disconnect",
         [](Rig& r) {
             connected(r);
             r.form->cmdDisconnect_Click();
             r.pump();
         },
         "@ Socket Connected!!|@ Socket Closed!!", "Connect Send OneTime Repeat"},
        {"the module closes",
         [](Rig& r) {
             connected(r);
             r.tcp.peerCloses();
             r.pump();
         },
         "@ Socket Connected!!|@ Socket Closed!!", "Connect Send OneTime Repeat"},
        {"Disconnect after the module closed, before its event",
         [](Rig& r) {
             connected(r);
             r.tcp.peerCloses();
             r.form->cmdDisconnect_Click();
             r.pump();
         },
         "@ Socket Connected!!|@ Socket Closed!!", "Connect Send OneTime Repeat"},
        {"Connect again while pending takes the new port",
         [](Rig& r) {
             r.tcp.peer = FakeTcp::Peer::Silent;
             r.form->cmdConnect_Click();
             r.form->txtDestPort.userSetText("4001");
             r.form->cmdConnect_Click();
         },
         "", "Connect Send OneTime Repeat",
         "Close|Connect 192.168.1.110:4000|Close|Connect 192.168.1.110:4001"},
        {"a port text above 32767",
         [](Rig& r) {
             r.form->txtDestPort.userSetText("99999");
             r.form->cmdConnect_Click();
         },
         "@ Connect Error!! Port is out of range (0 to 32767) : \"99999\"",
         "Connect Send OneTime Repeat", "Close"},
        {"an empty address",
         [](Rig& r) {
             r.form->txtDestIP.userSetText("");
             r.form->cmdConnect_Click();
         },
         "@ Connect Error!! Host is empty : \"\"", "Connect Send OneTime Repeat", "Close"},
        {"a port with a fraction rounds halves to even",
         [](Rig& r) {
             r.form->txtDestPort.userSetText("40.5");
             r.form->cmdConnect_Click();
         },
         "", "Connect Send OneTime Repeat", "Close|Connect 192.168.1.110:40"},
    };
    for (const LinkRow& row : rows) {
        const std::string name = row.name;
        CAPTURE(name);
        Rig rig;
        rig.load();
        row.actions(rig);
        CHECK(joined(rig.form->List1.Lines()) == expand(row.lines));
        CHECK(states(rig) == row.states);
        if (row.calls)
            CHECK(joined(rig.tcp.calls) == row.calls);
    }
}

TEST_CASE("Send writes the chosen frame, connecting first when needed, and Repeat and End") {
    const std::vector<LinkRow> rows{
        {"R on an open connection",
         [](Rig& r) {
             connected(r);
             r.form->cmdSend_Click();
         },
         "@ Socket Connected!!|@ SEND : 4E 52 45 51 ", "Disconnect Send End",
         "Close|Connect 192.168.1.110:4000|Send 4E524551"},
        {"T with channel A and value 1",
         [](Rig& r) {
             connected(r);
             r.form->optCommand_Click(1);
             r.form->ComboSet.userSetListIndex(2);
             r.form->ComboValue.userSetListIndex(1);
             r.form->cmdSend_Click();
         },
         "@ Socket Connected!!|@ SEND : 4E 54 41 31 ", "Disconnect Send End"},
        {"C with channel 6",
         [](Rig& r) {
             connected(r);
             r.form->optCommand_Click(2);
             r.form->ComboReset.userSetListIndex(5);
             r.form->cmdSend_Click();
         },
         "@ Socket Connected!!|@ SEND : 4E 43 36 30 ", "Disconnect Send End"},
        {"on a closed connection: connects, waits, writes; the connect line follows",
         [](Rig& r) {
             r.form->cmdSend_Click();
             r.pump();
         },
         "@ SEND : 4E 52 45 51 |@ Socket Connected!!", "Disconnect Send End",
         "Close|Connect 192.168.1.110:4000|Send 4E524551"},
        {"where nothing listens: no frame, End stays to unlock",
         [](Rig& r) {
             r.tcp.peer = FakeTcp::Peer::Refusing;
             r.form->cmdSend_Click();
             r.pump();
         },
         "@ Connect Failed!! 192.168.1.110:4000 : Connection refused", "Connect Send End"},
        {"where nothing listens, then End unlocks and greys itself",
         [](Rig& r) {
             r.tcp.peer = FakeTcp::Peer::Refusing;
             r.form->cmdSend_Click();
             r.pump();
             r.form->cmdEnd_Click();
         },
         "@ Connect Failed!! 192.168.1.110:4000 : Connection refused",
         "Connect Send OneTime Repeat cboTime"},
        {"to a silent host: the wait runs out",
         [](Rig& r) {
             r.tcp.peer = FakeTcp::Peer::Silent;
             r.form->cmdSend_Click();
             r.pump();
         },
         "@ Connect Failed!! 192.168.1.110:4000 : Connection timed out after 1000 ms",
         "Connect Send End"},
        {"a write that fails",
         [](Rig& r) {
             connected(r);
             r.tcp.writeFailure = "Broken pipe";
             r.form->cmdSend_Click();
         },
         "@ Socket Connected!!|@ Send Failed!! : Broken pipe", "Disconnect Send End"},
        {"Disconnect after a Send keeps End to unlock",
         [](Rig& r) {
             connected(r);
             r.form->cmdSend_Click();
             r.form->cmdDisconnect_Click();
         },
         "@ Socket Connected!!|@ SEND : 4E 52 45 51 |@ Socket Closed!!", "Connect Send End"},
        {"Repeat 1.5 s: sends at once, then one frame a tick on the same beat",
         [](Rig& r) {
             connected(r);
             repeatEvery(r, "1.5");
             r.form->cmdSend_Click();
             r.tick();
             r.tick();
         },
         "@ Socket Connected!!|@ SEND : 4E 52 45 51 |@ SEND : 4E 52 45 51 |@ SEND : 4E 52 45 "
         "51 ",
         "Disconnect Send End lblTime timer=1500"},
        {"Repeat, then End",
         [](Rig& r) {
             connected(r);
             repeatEvery(r, "15");
             r.form->cmdSend_Click();
             r.form->cmdEnd_Click();
         },
         "@ Socket Connected!!|@ SEND : 4E 52 45 51 ",
         "Disconnect Send End OneTime Repeat cboTime lblTime"},
        {"the module closes while Repeat runs: End stays, the next tick reconnects",
         [](Rig& r) {
             connected(r);
             repeatEvery(r, "1");
             r.form->cmdSend_Click();
             r.tcp.peerCloses();
             r.pump();
             r.tick();
             r.pump();
         },
         "@ Socket Connected!!|@ SEND : 4E 52 45 51 |@ Socket Closed!!|@ SEND : 4E 52 45 51 "
         "|@ Socket Connected!!",
         "Disconnect Send End lblTime timer=1000"},
        {"INTERVAL abc and PORT 99999: nothing runs, End unlocks so both can be mended",
         [](Rig& r) {
             repeatEvery(r, "abc");
             r.form->txtDestPort.userSetText("99999");
             r.form->cmdSend_Click();
             r.form->cmdEnd_Click();
         },
         "@ Repeat Error!! Interval out of range (0.001 to 2147483.647 Second) : \"abc\"|@ "
         "Connect Error!! Port is out of range (0 to 32767) : \"99999\"",
         "Connect Send OneTime Repeat cboTime lblTime"},
    };
    for (const LinkRow& row : rows) {
        const std::string name = row.name;
        CAPTURE(name);
        Rig rig;
        rig.load();
        row.actions(rig);
        CHECK(joined(rig.form->List1.Lines()) == expand(row.lines));
        CHECK(states(rig) == row.states);
        if (row.calls)
            CHECK(joined(rig.tcp.calls) == row.calls);
    }
}

TEST_CASE("Repeat ticks keep the timer's beat; a Send press starts it again") {
    Rig rig;
    rig.load();
    connected(rig);
    repeatEvery(rig, "0.001");
    rig.form->cmdSend_Click();
    for (int i = 0; i < 5; ++i)
        rig.tick();
    CHECK(rig.sendTimer.starts == 1);
    rig.form->cmdSend_Click();
    CHECK(rig.sendTimer.starts == 2);
    CHECK(rig.form->List1.ListCount() == 8);
}

struct ArrivalRow {
    const char* name;
    std::vector<Bytes> arrivals;
    bool toFile;
    std::vector<std::string> lines; // without the stamp; "@" prefix added when stamped
    const char* values;
    const char* file; // the daily file's content, "@" the stamp
};

TEST_CASE("Arrivals of every length show their values, log their line and file it") {
    const std::string f33 = hexOf(statusFrame(33)), f34 = hexOf(statusFrame(34)),
                      f57 = hexOf(statusFrame(57)), f34b = hexOf(statusFrame(34, 9));
    Bytes merged = statusFrame(34);
    const Bytes second = statusFrame(34, 9);
    merged.insert(merged.end(), second.begin(), second.end());
    const std::vector<ArrivalRow> rows{
        {"33 bytes", {statusFrame(33)}, false, {"@ RECV : " + f33},
         "1|0|1|0|1|0 1|0 1|2|3|4|5|6  |||||", ""},
        {"34 bytes", {statusFrame(34)}, false, {"@ RECV : " + f34},
         "1|0|1|0|1|0 1|0 1|2|3|4|5|6 D5 |||||", ""},
        {"57 bytes", {statusFrame(57)}, false, {"@ RECV : " + f57},
         "1|0|1|0|1|0 1|0 1|2|3|4|5|6  100|200|300|400|500|600", ""},
        {"34, then 57: the checksum empties",
         {statusFrame(34), statusFrame(57)},
         false,
         {"@ RECV : " + f34, "@ RECV : " + f57},
         "1|0|1|0|1|0 1|0 1|2|3|4|5|6  100|200|300|400|500|600",
         ""},
        {"57, then 33: the gap times empty",
         {statusFrame(57), statusFrame(33)},
         false,
         {"@ RECV : " + f57, "@ RECV : " + f33},
         "1|0|1|0|1|0 1|0 1|2|3|4|5|6  |||||",
         ""},
        {"one byte: dropped", {Bytes{'N'}}, false, {}, "||||| | |||||  |||||", ""},
        {"20 bytes: the wrong-length line, no value changes",
         {Bytes(20, 0x31)},
         true,
         {"Different responce data length : 20 Bytes"},
         "||||| | |||||  |||||",
         ""},
        {"two 34-byte replies read together",
         {merged},
         false,
         {"@ RECV : " + f34, "@ RECV : " + f34b},
         "1|0|1|0|1|0 1|0 9|2|3|4|5|6 D5 |||||",
         ""},
        {"List + File: the entry with a blank line before and after",
         {statusFrame(34)},
         true,
         {"@ RECV : " + f34},
         "1|0|1|0|1|0 1|0 1|2|3|4|5|6 D5 |||||",
         "\r\n@ RECV : "},
    };
    for (const ArrivalRow& row : rows) {
        const std::string name = row.name;
        CAPTURE(name);
        Rig rig;
        rig.load();
        if (row.toFile)
            rig.form->optLog_Click(1);
        for (const Bytes& arrival : row.arrivals)
            rig.tcp.arrives(arrival);
        rig.pump();
        std::vector<std::string> expected;
        for (const std::string& line : row.lines)
            expected.push_back(expand(line));
        CHECK(joined(rig.form->List1.Lines()) == joined(expected));
        CHECK(values(*rig.form) == row.values);
        const std::string file = rig.memoryFiles.files["Log/20240301.txt"];
        if (*row.file)
            CHECK(file == "\r\n" + expected.front() + "\r\n\r\n");
        else
            CHECK(file.empty());
    }
}

TEST_CASE("A daily file that cannot be written says so once per run of failures") {
    Rig rig;
    rig.load();
    rig.form->optLog_Click(1);
    const std::string recv = expand("@ RECV : ") + hexOf(statusFrame(33));
    const std::string error =
        expand("@ Log File Error!! ") +
        (std::filesystem::path("Log") / "20240301.txt").generic_string() +
        " : No space left on device";
    rig.memoryFiles.failure = "No space left on device";
    rig.tcp.arrives(statusFrame(33));
    rig.tcp.arrives(statusFrame(33));
    rig.pump();
    rig.memoryFiles.failure.reset();
    rig.tcp.arrives(statusFrame(33));
    rig.pump();
    rig.memoryFiles.failure = "No space left on device";
    rig.tcp.arrives(statusFrame(33));
    rig.pump();
    const std::vector<std::string> expected{recv, error, recv, recv, recv, error};
    const auto& lines = rig.form->List1.Lines();
    REQUIRE(lines.size() == expected.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        // The path is the platform's own; only its separators may differ.
        std::string line = lines[i];
        std::replace(line.begin(), line.end(), '\\', '/');
        CHECK(line == expected[i]);
    }
    CHECK(rig.memoryFiles.files.size() == 1);
}

// The real file system in a folder of its own.
struct TempFolder {
    std::filesystem::path path;
    explicit TempFolder(const char* name)
        : path(std::filesystem::temp_directory_path() / name) {
        std::filesystem::remove_all(path);
        std::filesystem::create_directories(path);
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::permissions(path, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
        std::filesystem::remove_all(path, ignored);
    }
};

TEST_CASE("The real daily file: written beside the program, or its failure named") {
    TempFolder program("vm_form_daily_file");
    const std::filesystem::path logFolder = program.path / "Log";

    SUBCASE("a Log folder receives the entries") {
        REQUIRE_FALSE(form::MakeLogFolder(logFolder, false));
        form::FolderLogFiles files(logFolder);
        Rig rig;
        rig.files = &files;
        rig.load();
        rig.form->optLog_Click(1);
        rig.tcp.arrives(statusFrame(34));
        rig.tcp.arrives(statusFrame(34));
        rig.pump();
        std::ifstream in(logFolder / "20240301.txt", std::ios::binary);
        const std::string content((std::istreambuf_iterator<char>(in)), {});
        const std::string entry = "\r\n" + expand("@ RECV : ") + hexOf(statusFrame(34)) + "\r\n\r\n";
        CHECK(content == entry + entry);
        CHECK(rig.form->List1.ListCount() == 2);
    }
    SUBCASE("a plain file named Log: start-up goes on, the first entry names the failure") {
        std::ofstream(logFolder) << "not a folder";
        REQUIRE_FALSE(form::MakeLogFolder(logFolder, false));
        form::FolderLogFiles files(logFolder);
        Rig rig;
        rig.files = &files;
        rig.load();
        rig.form->optLog_Click(1);
        rig.tcp.arrives(statusFrame(34));
        rig.pump();
        const auto& lines = rig.form->List1.Lines();
        REQUIRE(lines.size() == 2);
        const std::u8string path = (logFolder / "20240301.txt").u8string();
        const std::string prefix =
            expand("@ Log File Error!! ") + std::string(path.begin(), path.end()) + " : ";
        CHECK(lines[1].starts_with(prefix));
        CHECK(lines[1].size() > prefix.size()); // the system's reason
    }
    SUBCASE("a read-only Log folder") {
        std::filesystem::create_directory(logFolder);
        std::filesystem::permissions(logFolder, std::filesystem::perms::owner_read |
                                                    std::filesystem::perms::owner_exec);
        if (std::ofstream(logFolder / "probe.txt")) {
            MESSAGE("skipped: this user writes into read-only folders (root, or the platform)");
            return;
        }
        form::FolderLogFiles files(logFolder);
        Rig rig;
        rig.files = &files;
        rig.load();
        rig.form->optLog_Click(1);
        rig.tcp.arrives(statusFrame(34));
        rig.pump();
        REQUIRE(rig.form->List1.ListCount() == 2);
        CHECK(rig.form->List1.Lines()[1].find(" Log File Error!! ") != std::string::npos);
    }
}

TEST_CASE("Ping start, tick and stop") {
    struct Row {
        const char* name;
        Actions actions;
        const char* lines;
        bool running;
        bool addressEnabled;
    };
    const char* reply = "Reply From 192.168.1.110: Bytes=0 Time=1ms TTL=64";
    const std::vector<Row> rows{
        {"start probes at once and locks the address",
         [](Rig& r) { r.form->cmdPingStart_Click(); }, "R", true, false},
        {"a tick probes again", [](Rig& r) {
             r.form->cmdPingStart_Click();
             r.form->PingTimer_Timer();
         }, "R|R", true, false},
        {"stop ends it with its line", [](Rig& r) {
             r.form->cmdPingStart_Click();
             r.form->cmdPingStop_Click();
         }, "R|Ping Test End~!!", false, true},
        {"stop twice: one line", [](Rig& r) {
             r.form->cmdPingStart_Click();
             r.form->cmdPingStop_Click();
             r.form->cmdPingStop_Click();
         }, "R|Ping Test End~!!", false, true},
        {"stop without a start: nothing", [](Rig& r) { r.form->cmdPingStop_Click(); }, "", false,
         true},
        {"start twice: two probes, one timer", [](Rig& r) {
             r.form->cmdPingStart_Click();
             r.form->cmdPingStart_Click();
         }, "R|R", true, false},
    };
    for (const Row& row : rows) {
        const std::string name = row.name;
        CAPTURE(name);
        Rig rig;
        rig.load();
        row.actions(rig);
        std::string expected;
        for (const char c : std::string_view(row.lines))
            expected += c == 'R' ? std::string(reply) : std::string(1, c);
        CHECK(joined(rig.form->List1.Lines()) == expected);
        CHECK(rig.pingTimer.running == row.running);
        CHECK(rig.pingTimer.starts == (row.running ? 1 : rig.pingTimer.starts));
        CHECK(rig.form->txtDestIP.Enabled() == row.addressEnabled);
    }
}

TEST_CASE("The log list keeps at most 1001 lines, the newest selected") {
    struct Row {
        std::size_t before;
        std::size_t after;
        const char* first;
    };
    for (const Row row : {Row{999, 1000, "line 0"}, Row{1000, 1001, "line 0"},
                          Row{1001, 1001, "line 1"}}) {
        CAPTURE(row.before);
        Rig rig;
        rig.load();
        for (std::size_t i = 0; i < row.before; ++i)
            rig.form->AddLog("line " + std::to_string(i));
        rig.form->AddLog("newest");
        CHECK(rig.form->List1.ListCount() == row.after);
        CHECK(rig.form->List1.Lines().front() == row.first);
        CHECK(rig.form->List1.ListIndex() == int(row.after) - 1);
    }
    Rig rig;
    rig.load();
    rig.form->AddLog("a");
    rig.form->cmdClear_Click();
    rig.form->cmdClear_Click();
    CHECK(rig.form->List1.ListCount() == 0);
    rig.form->AddLog("b");
    CHECK(rig.form->List1.ListIndex() == 0);
}

TEST_CASE("The lines the front end hears of are the list's lines") {
    Rig rig;
    rig.load();
    std::vector<std::string> shown;
    rig.form->List1.setLinesListener([&](const form::ListBox::Change& change) {
        using Kind = form::ListBox::Change::Kind;
        if (change.kind == Kind::Added)
            shown.emplace_back(change.line);
        else if (change.kind == Kind::RemovedFirst)
            shown.erase(shown.begin());
        else
            shown.clear();
    });
    for (int i = 0; i < 1005; ++i)
        rig.form->AddLog(std::to_string(i));
    CHECK(shown == std::vector<std::string>(rig.form->List1.Lines().begin(),
                                            rig.form->List1.Lines().end()));
    rig.form->cmdClear_Click();
    CHECK(shown.empty());
}

TEST_CASE("Every key class into every entry field: accepted, or refused with one beep") {
    using KeyPress = void (frmSim_3870::*)(int&);
    const std::vector<std::pair<const char*, KeyPress>> fields{
        {"txtDestIP", &frmSim_3870::txtDestIP_KeyPress},
        {"txtDestPort", &frmSim_3870::txtDestPort_KeyPress},
        {"cboTime", &frmSim_3870::cboTime_KeyPress}};
    struct Key {
        int code;
        bool accepted;
    };
    // Digits, the point and Backspace pass; letters, blank, minus, colon, Enter, Escape,
    // Ctrl+V, DEL and a character beyond ASCII do not.
    const std::vector<Key> keys{{'0', true}, {'9', true}, {'.', true}, {8, true},
                                {'a', false}, {'Z', false}, {' ', false}, {'-', false},
                                {':', false}, {13, false}, {27, false}, {22, false},
                                {127, false}, {0xE9, false}};
    for (const auto& [name, handler] : fields) {
        for (const Key key : keys) {
            const std::string field = name;
            CAPTURE(field);
            CAPTURE(key.code);
            Rig rig;
            rig.load();
            int code = key.code;
            ((*rig.form).*handler)(code);
            CHECK(code == (key.accepted ? key.code : 0));
            CHECK(rig.desktop.beeps == (key.accepted ? 0 : 1));
        }
    }
}

TEST_CASE("Pasted text passes the key rule, then the field's limit") {
    struct Row {
        const char* pasted;
        const char* before; // the port box's text; the paste goes at its end
        const char* result;
        int beeps;
    };
    const std::vector<Row> rows{
        {" 20001", "", "20001", 1}, {"+20001", "", "20001", 1}, {"4000", "", "4000", 0},
        {"1a2b3", "", "123", 1},    {"123456", "", "12345", 0}, {"99", "400", "40099", 0},
        {"7", "40000", "40000", 0}, {"\b1", "", "1", 1},         {"", "4", "4", 0},
    };
    for (const Row& row : rows) {
        const std::string pasted = row.pasted;
        CAPTURE(pasted);
        Rig rig;
        rig.load();
        rig.form->txtDestPort.userSetText(row.before);
        const std::string kept = rig.form->PasteFilter(row.pasted);
        const std::string before = row.before;
        const form::UserEdit edit =
            form::limitUserEdit(before + kept, before.size() + kept.size(), before.size(),
                                rig.form->txtDestPort.MaxLength());
        rig.form->txtDestPort.userSetText(edit.text);
        CHECK(rig.form->txtDestPort.Text() == row.result);
        CHECK(rig.desktop.beeps == row.beeps);
        CHECK(rig.settings.values["PORT"] == row.result);
    }
    // The paste that once connected to port 2000.
    Rig rig;
    rig.load();
    rig.form->txtDestPort.userSetText("");
    const std::string kept = rig.form->PasteFilter(" 20001");
    rig.form->txtDestPort.userSetText(form::limitUserEdit(kept, 6, 0, form::kPortMaxLength).text);
    rig.tcp.peer = FakeTcp::Peer::Silent;
    rig.form->cmdConnect_Click();
    CHECK(rig.tcp.calls.back() == "Connect 192.168.1.110:20001");
}

TEST_CASE("A longer text the program set may be edited but not grown") {
    struct Row {
        const char* proposed;
        std::size_t cursor;
        std::size_t before;
        const char* text;
        std::size_t cursorAfter;
    };
    const std::vector<Row> rows{
        {"1234567", 7, 6, "123456", 6}, // a character typed at the end of six
        {"12x3456", 3, 6, "123456", 2}, // typed in the middle: the typed one goes
        {"12345", 5, 6, "12345", 5},    // a deletion stays
        {"ééééééé", 7, 0, "ééééé", 5},  // characters, not bytes
    };
    for (const Row& row : rows) {
        const std::string proposed = row.proposed;
        CAPTURE(proposed);
        const form::UserEdit edit = form::limitUserEdit(row.proposed, row.cursor, row.before, 5);
        CHECK(edit.text == row.text);
        CHECK(edit.cursor == row.cursorAfter);
    }
}

TEST_CASE("Settings: restored at load, saved on every change, the same keys both ways") {
    struct Row {
        const char* name;
        std::map<std::string, std::string, std::less<>> stored;
        Actions actions;
        const char* shown; // address|port|interval
        const char* saved; // ADDRESS|INTERVAL|PORT as the store holds them, "-" when missing
    };
    const std::vector<Row> rows{
        {"an empty store gives the defaults and keeps address and port",
         {}, [](Rig&) {}, "192.168.1.110|4000|1", "192.168.1.110|-|4000"},
        {"stored values come back",
         {{"ADDRESS", "127.0.0.1"}, {"PORT", "20001"}, {"INTERVAL", "0.5"}},
         [](Rig&) {}, "127.0.0.1|20001|0.5", "127.0.0.1|0.5|20001"},
        {"an empty address stays empty",
         {{"ADDRESS", ""}}, [](Rig&) {}, "|4000|1", "|-|4000"},
        {"typing saves each text",
         {}, [](Rig& r) {
             r.form->txtDestIP.userSetText("127.0.0.2");
             r.form->txtDestPort.userSetText("4");
         }, "127.0.0.2|4|1", "127.0.0.2|-|4"},
        {"an interval picked from the list",
         {}, [](Rig& r) {
             r.form->cboTime.userSetListIndex(4);
             r.form->cboTime_Click();
         }, "192.168.1.110|4000|5", "192.168.1.110|5|4000"},
    };
    for (const Row& row : rows) {
        const std::string name = row.name;
        CAPTURE(name);
        Rig rig;
        rig.settings.values = row.stored;
        rig.load();
        row.actions(rig);
        const frmSim_3870& f = *rig.form;
        CHECK(f.txtDestIP.Text() + "|" + f.txtDestPort.Text() + "|" + f.cboTime.Text() ==
              row.shown);
        const auto saved = [&](const char* key) {
            const auto found = rig.settings.values.find(key);
            return found == rig.settings.values.end() ? std::string("-") : found->second;
        };
        CHECK(saved("ADDRESS") + "|" + saved("INTERVAL") + "|" + saved("PORT") == row.saved);
        // The next start shows what this one left.
        Rig next;
        next.settings.values = rig.settings.values;
        next.load();
        CHECK(next.form->txtDestIP.Text() == f.txtDestIP.Text());
        CHECK(next.form->txtDestPort.Text() == f.txtDestPort.Text());
        CHECK(next.form->cboTime.Text() == f.cboTime.Text());
    }
}

TEST_CASE("Start-up selections, the mode switch's colour, the command options") {
    Rig rig;
    rig.load();
    frmSim_3870& f = *rig.form;
    CHECK(f.ComboSet.Text() + f.ComboValue.Text() + f.ComboReset.Text() == "101");
    CHECK_FALSE(f.cboTime.BackColor());
    f.optInterval_Click(1);
    CHECK(f.cboTime.BackColor() == form::kWhite);
    f.optInterval_Click(0);
    CHECK(f.cboTime.BackColor() == form::kSystemMenuColor);
    CHECK(states(rig) == "Connect Send OneTime Repeat");
    f.optCommand_Click(1);
    CHECK((f.ComboSet.Enabled() && f.ComboValue.Enabled() && !f.ComboReset.Enabled()));
    f.optCommand_Click(2);
    CHECK((!f.ComboSet.Enabled() && !f.ComboValue.Enabled() && f.ComboReset.Enabled()));
    CHECK((f.optCommand[2].Value() && !f.optCommand[1].Value() && !f.optCommand[0].Value()));
}

TEST_CASE("The vendor link opens its caption; a failing call shows its reason") {
    Rig rig;
    rig.load();
    rig.form->Label1_Click(1);
    CHECK(joined(rig.desktop.opened) == rig.form->VendorLink.Caption());
    rig.desktop.openThrows = true;
    rig.form->Label1_Click(1);
    CHECK(joined(rig.desktop.errorBoxes) == "The shell cannot be reached");
}

TEST_CASE("Closing the window stops both timers and releases the connection") {
    Rig rig;
    rig.load();
    connected(rig);
    repeatEvery(rig, "1");
    rig.form->cmdSend_Click();
    rig.form->cmdPingStart_Click();
    rig.form->Form_Unload();
    CHECK_FALSE(rig.sendTimer.running);
    CHECK_FALSE(rig.pingTimer.running);
    CHECK(rig.tcp.State() == form::TcpClient::kClosed);
}

} // namespace
} // namespace vm::test
