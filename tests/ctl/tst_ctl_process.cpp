// vm3870ctl as a user runs it: the real program against the real emulator on loopback, one
// table per command family (arguments -> stdout, stderr, exit code).

#define DOCTEST_CONFIG_IMPLEMENT_WITH_MAIN
#include <doctest/doctest.h>

#include "process.h"
#include "protocol/utf8.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <unistd.h>

using vm::test::Emulator;
using vm::test::Finished;

namespace {

// The emulators the tables use, started once each: a loop-back fixture (DO0 wired to DI0,
// DO1 to DI3, other inputs still, on a port the window's settings can hold) and one per fault.
Emulator& emulator(const std::string& kind) {
    static std::map<std::string, std::unique_ptr<Emulator>> running;
    static const std::map<std::string, std::vector<std::string>> options{
        {"fixture", {"--wire", "DO0=DI0,DO1=DI3", "--still"}},
        {"57", {"--frame", "57", "--still"}},
        {"silent", {"--silent"}},
        {"garbage", {"--garbage", "20"}},
        {"merge", {"--merge", "--frame", "33"}},
        {"closing", {"--close-after", "3"}},
        {"toggling", {}},
    };
    auto& slot = running[kind];
    if (!slot)
        slot = std::make_unique<Emulator>(options.at(kind), kind == "fixture");
    return *slot;
}

// A port nothing listens on: the emulator's, after it has gone.
std::uint16_t closedPort() {
    static const std::uint16_t port = Emulator({}).port();
    return port;
}

std::uint16_t fullPort() {
    static const vm::test::FullListener listener;
    return listener.port();
}

std::string configFolder() {
    static const std::string folder = [] {
        const std::string path = vm::test::temporaryPath("VM3870_SIMUL.conf");
        return path.substr(0, path.rfind('/'));
    }();
    return folder;
}

// The command that runs vm3870ctl: the one built beside the tests, or the words of
// $VM3870CTL (for example a Windows build under Wine: "wine64 /path/vm3870ctl.exe").
std::vector<std::string> program() {
    std::vector<std::string> words;
    if (const char* command = std::getenv("VM3870CTL")) {
        std::istringstream in(command);
        for (std::string word; in >> word;)
            words.push_back(word);
    }
    if (words.empty())
        words.push_back(VM_BUILD_DIR "/vm3870ctl");
    return words;
}

// Runs vm3870ctl with "{fixture}" and the like replaced by that emulator's port, and a
// settings folder of the test's own.
// `prefix` comes before the program (e.g. "ip netns exec NAME").
Finished ctl(std::vector<std::string> args, const std::string& input = {},
             const std::vector<std::string>& prefix = {}) {
    for (std::string& a : args) {
        if (a.starts_with('{') && a.ends_with('}'))
            a = std::to_string(a == "{closed}" ? closedPort()
                               : a == "{full}" ? fullPort()
                                               : emulator(a.substr(1, a.size() - 2)).port());
    }
    std::vector<std::string> command = prefix;
    const std::vector<std::string> tool = program();
    command.insert(command.end(), tool.begin(), tool.end());
    args.insert(args.begin(), command.begin(), command.end());
    Finished f = vm::test::runProgram(args, input, {"XDG_CONFIG_HOME=" + configFolder()});
    // A Windows build ends its lines with CR LF, as text on Windows does.
    for (std::string* text : {&f.out, &f.err})
        for (std::size_t at; (at = text->find("\r\n")) != std::string::npos;)
            text->erase(at, 1);
    return f;
}

// Whether the program under test is a Windows build run by Wine.
bool underWine() {
    const std::string runner = std::filesystem::path(program().front()).filename().string();
    return runner == "wine" || runner == "wine64";
}

// Where the program under test says its settings are: the settings file, or the registry key.
std::string settingsPlace() {
    return underWine() ? "HKEY_CURRENT_USER\\Software\\VM3870_SIMUL\\vm3870sim"
                       : configFolder() + "/VM3870_SIMUL.conf";
}

// Puts the window's settings where the program under test reads them, replacing what was
// there: the settings file, or for a Windows build under Wine the registry, written with
// Wine's own `reg`.
void windowSettings(const std::vector<std::pair<std::string, std::string>>& values) {
    const std::vector<std::string> command = program();
    if (!underWine()) {
        std::string text = "[vm3870sim]\n";
        for (const auto& [key, value] : values)
            text += key + "=\"" + value + "\"\n";
        vm::test::writeFile(configFolder() + "/VM3870_SIMUL.conf", text);
        return;
    }
    const std::string key = "HKCU\\Software\\VM3870_SIMUL\\vm3870sim";
    vm::test::runProgram({command.front(), "reg", "delete", key, "/f"});
    for (const auto& [name, value] : values) {
        const Finished added = vm::test::runProgram(
            {command.front(), "reg", "add", key, "/v", name, "/t", "REG_SZ", "/d", value, "/f"});
        CAPTURE(added.err);
        REQUIRE(added.code == 0);
    }
}

// Stops the test case unless the program takes its host from the settings just written: a
// build that cannot read them would reach for the default module address, off this machine.
void requireLoopbackFromSettings(std::vector<std::string> args = {}) {
    args.insert(args.begin(), "settings");
    const Finished shown = ctl(args);
    CAPTURE(shown.out);
    REQUIRE(shown.out.starts_with("host 127.0.0.1 ("));
}

struct Row {
    std::vector<std::string> args;
    int code;
    std::string out; // text stdout must hold ("" : stdout must be empty; "*": anything)
    std::string err; // text stderr must hold ("" : stderr must be empty; "*": anything)
};

void check(const Row& row, const std::string& input = {},
           const std::vector<std::string>& prefix = {}) {
    std::string shown;
    for (const auto& a : row.args)
        shown += a + " ";
    CAPTURE(shown);
    const Finished f = ctl(row.args, input, prefix);
    CAPTURE(f.out);
    CAPTURE(f.err);
    CHECK(f.code == row.code);
    for (const auto& [expected, got] : {std::pair{row.out, f.out}, std::pair{row.err, f.err}}) {
        if (expected.empty())
            CHECK(got.empty());
        else if (expected != "*")
            CHECK(got.find(expected) != std::string::npos);
    }
}

std::vector<nlohmann::json> jsonLines(const std::string& text) {
    std::vector<nlohmann::json> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(nlohmann::json::parse(line));
    return lines;
}

// Whether this process can reach nothing but loopback already: its network namespace has
// no interface but lo (as the Windows build's table runs, its Wine server inside too).
bool onlyLoopbackHere() {
    std::ifstream devices("/proc/self/net/dev"); // two lines of headings, then "  lo: ..."
    std::vector<std::string> names;
    for (std::string line; std::getline(devices, line);)
        if (const std::size_t colon = line.find(':'); colon != std::string::npos)
            names.push_back(
                line.substr(line.find_first_not_of(' '), colon - line.find_first_not_of(' ')));
    return names == std::vector<std::string>{"lo"};
}

// A network namespace with nothing but loopback, for runs that could reach for the default
// module address; deleted when this goes. Where this process is in such a namespace already,
// that one serves. Otherwise it needs root and the native build (a Windows build under Wine
// opens its sockets in the Wine server, outside a namespace made here).
class LoopbackOnly {
public:
    LoopbackOnly() {
        if (here_)
            return;
        if (geteuid() != 0 || std::getenv("VM3870CTL")) {
            unavailable_ = "needs root and the native build";
            return;
        }
        if (vm::test::runProgram({"ip", "netns", "add", name_}).code != 0) {
            unavailable_ = "ip netns add failed";
            return;
        }
        vm::test::runProgram({"ip", "-n", name_, "link", "set", "lo", "up"});
    }
    ~LoopbackOnly() {
        if (unavailable_.empty() && !here_)
            vm::test::runProgram({"ip", "netns", "del", name_});
    }
    LoopbackOnly(const LoopbackOnly&) = delete;
    LoopbackOnly& operator=(const LoopbackOnly&) = delete;

    const std::string& unavailable() const { return unavailable_; }
    std::vector<std::string> prefix() const {
        if (here_)
            return {};
        return {"ip", "netns", "exec", name_};
    }
    std::string name() const { return name_; }

private:
    bool here_ = onlyLoopbackHere();
    std::string name_ = "vm_ctl_" + std::to_string(getpid());
    std::string unavailable_;
};

const std::vector<std::string> kLoopback{"-H", "127.0.0.1", "-p"};

std::vector<std::string> at(const std::string& port, std::vector<std::string> args) {
    std::vector<std::string> all = kLoopback;
    all.push_back(port);
    all.insert(all.end(), args.begin(), args.end());
    return all;
}

} // namespace

TEST_CASE("status, set and reset print the decoded reply; faults give their exit codes") {
    const std::vector<Row> table{
        {at("{fixture}", {"reset", "A"}), 0, "DI 000000  DO 00  counters          0", ""},
        {at("{fixture}", {"set", "1", "1", "-f", "json"}), 0, "\"di\":\"100000\",\"do\":\"10\"",
         ""},
        {at("{fixture}", {"set", "a", "0"}), 0, "DI 000000  DO 00  counters          1", ""},
        {at("{fixture}", {"status", "-f", "csv"}), 0, "time,length,hex,di0,", ""},
        {{"status", "-f", "csv", "-p", "{57}", "-H", "127.0.0.1"}, 0, ",57,4E30", ""},
        {{"-p", "{57}", "status", "-H", "127.0.0.1", "-f", "json"},
         0,
         "\"checksum\":null,\"gaps\":[",
         ""},
        {at("{merge}", {"status", "-f", "json"}), 0, "\"length\":33", ""},
        {at("{garbage}", {"status"}), 1, "not a status frame: 20 bytes", ""},
        {at("{silent}", {"-t", "200", "status"}), 4, "", "no reply within 200 ms"},
        {at("{closed}", {"status"}), 3, "", "cannot connect to 127.0.0.1:"},
        {at("{full}", {"-t", "200", "status"}), 3, "", "Connection timed out after 200 ms"},
        {at("{fixture}", {"set", "3", "1"}), 2, "", "CH is 1, 2 or A"},
        {at("{fixture}", {"reset", "0"}), 2, "", "CH is 1 to 6 or A"},
        {at("{fixture}", {"set", "1"}), 2, "", "V is required"},
        {at("{fixture}", {"-f", "xml", "status"}), 2, "", "--format"},
        {at("{fixture}", {}), 2, "", "A subcommand is required"},
        {{"--version"}, 0, "vm3870ctl " VM_VERSION, ""},
        {{"--help"}, 0, "4  connection lost, or no reply within the timeout", ""},
        {{"watch", "--help"}, 0, "vm3870ctl watch -n 500 --vcd trace.vcd", ""},
    };
    for (const Row& row : table)
        check(row);
    // The merged write holds two frames: one answers the request, the other is no record.
    const Finished merged = ctl(at("{merge}", {"status", "-f", "json"}));
    CHECK(jsonLines(merged.out).size() == 1);
}

TEST_CASE("host and port come from the window's settings when not given") {
    const std::string port = std::to_string(emulator("fixture").port());
    windowSettings({{"ADDRESS", " 127.0.0.1"}, {"PORT", port}, {"INTERVAL", "0.01"}});
    // Nothing connects unless the settings were read: the default host is not on loopback.
    requireLoopbackFromSettings();
    check({{"status", "-f", "json"}, 0, "\"length\":34", ""});
    check({{"watch", "-n", "3"}, 0, "*", "rate: "});
    check({{"watch", "-n", "3"}, 0, "*", " of 100.0 asked"});
    check({{"-p", port, "status"}, 0, "DO ", ""});
    windowSettings({{"PORT", "40x"}});
    check({{"status"}, 2, "", "\"40x\" is not usable: PORT in "});
    check({{"-H", "127.0.0.1", "-p", port, "status"}, 0, "DO ", ""});
    windowSettings({});
}

TEST_CASE("watch keeps its rhythm, writes every reply and sums up") {
    const std::vector<Row> table{
        {at("{fixture}", {"watch", "-i", "0.01", "-n", "3", "-q"}), 0, "34 B  DI 0", ""},
        {at("{fixture}", {"watch", "-i", "0.01", "-n", "3"}), 0, "  DO ",
         "3 requests, 3 replies (0 invalid), 0 timeouts, 0 late, 0 skipped slots, 0 reconnects"},
        {at("{garbage}", {"watch", "-i", "0.01", "-n", "2"}), 1, "not a status frame",
         "2 replies (2 invalid)"},
        {at("{silent}", {"watch", "-i", "0.01", "-n", "2", "-t", "50", "-d", "0.2"}), 2, "",
         "watch takes -n or -d, not both"},
        {at("{silent}", {"watch", "-i", "0.01", "-t", "50", "-d", "0.2"}), 4,
         "0 B  no reply within 50 ms", "0 replies (0 invalid), 4 timeouts"},
        {at("{closing}", {"watch", "-i", "0.01", "-n", "5"}), 4, "*",
         "connection lost: closed by the module"},
        {at("{fixture}", {"watch", "-i", "0.0005"}), 2, "", "--interval wants 0 (back to back)"},
        {at("{fixture}", {"watch", "-d", "0"}), 2, "", "--duration wants"},
    };
    for (const Row& row : table)
        check(row);

    const Finished json = ctl(at("{fixture}", {"watch", "-i", "0", "-n", "50", "-f", "json"}));
    CHECK(json.code == 0);
    CHECK(json.err.empty());
    const auto lines = jsonLines(json.out);
    REQUIRE(lines.size() == 51);
    CHECK(lines[0]["time"].get<std::string>().ends_with("Z"));
    CHECK(lines[0]["rtt_ms"].is_number());
    const auto& summary = lines.back()["summary"];
    CHECK(summary["requests"] == 50);
    CHECK(summary["replies"] == 50);
    CHECK(summary["asked_rate"].is_null());

    const Finished csv =
        ctl(at("{fixture}", {"watch", "-i", "0.002", "-n", "20", "-f", "csv", "-q"}));
    CHECK(csv.code == 0);
    CHECK(std::count(csv.out.begin(), csv.out.end(), '\n') == 21);
}

TEST_CASE("watch --reconnect rides out a module that closes, and --vcd writes a trace") {
    const std::string vcd = vm::test::temporaryPath("watch.vcd");
    const Finished f = ctl(at("{closing}", {"watch", "-i", "0.01", "-n", "7", "--reconnect", "-f",
                                            "json", "--vcd", vcd}));
    CHECK(f.code == 4); // the connection was lost, even if regained
    const auto lines = jsonLines(f.out);
    REQUIRE(lines.size() == 8);
    CHECK(lines.back()["summary"]["reconnects"] == 2);
    CHECK(f.err.find("reconnected") != std::string::npos);
    const std::string trace = vm::test::readFile(vcd);
    CHECK(trace.find("$var integer 32 ) counter0 $end") != std::string::npos);
    CHECK(vm::test::runProgram({"/usr/bin/vcd2fst", vcd, vcd + ".fst"}).code == 0);
}

TEST_CASE("decode reads frames from arguments, stdin and files") {
    const std::string frame =
        "4E313030313030303101000000000100007856341200000000FFFFFFFF00000100E4";
    const std::string log = "\r\n[09:15:02.047] RECV : " + frame + "\r\n\r\n" +
                            "Different responce data length : 20 Bytes\r\n" +
                            "[09:15:03.000] RECV : " + frame + frame + "\r\n";
    const std::string file = vm::test::temporaryPath("20261207.txt");
    vm::test::writeFile(file, log);
    const std::vector<Row> table{
        {{"decode", frame}, 0, "DI 100100  DO 01  counters          1        256  305419896", ""},
        {{"decode", "-f", "json", "4E", "31", "30", "30"}, 1, "\"length\":4,", ""},
        {{"decode", "-f", "json", "4E 31 30 30", "31 30 30 30 31"}, 1, "\"length\":5,", ""},
        {{"decode", "4E3"}, 2, "", "\"4E3\" is not hexadecimal"},
        {{"decode", "--file", file, "-f", "csv"}, 0, "09:15:03.000Z,34,", ""},
        {{"decode", "--file", "/nonexistent/file"}, 2, "", "--file"},
    };
    for (const Row& row : table)
        check(row);
    const Finished fromStdin = ctl({"decode", "-f", "json"}, log + "what\n");
    CHECK(fromStdin.code == 1);
    CHECK(fromStdin.err.find("line 6: neither a RECV line nor hexadecimal") != std::string::npos);
    const auto records = jsonLines(fromStdin.out);
    REQUIRE(records.size() == 3);
    CHECK(records[0]["time"] == "09:15:02.047Z");
    CHECK(records[2]["counters"][2] == 305419896);
}

TEST_CASE("run prints TAP, writes JUnit, and exits by what the checks found") {
    const std::string passing = vm::test::temporaryPath("pass.chk");
    vm::test::writeFile(passing, "set A 0\nreset A\nset 1 1\nexpect DI0 == 1 within 50ms\nset 1 0\n"
                                 "expect DI0 == 0 within 50ms\nexpect counter0 >= 1\n"
                                 "wait 20ms\nstatus\n");
    const std::string failing = vm::test::temporaryPath("fail.chk");
    vm::test::writeFile(failing, "set 2 0\nexpect DI3 == 1 within 30ms\nexpect gap0 == 0\n"
                                 "expect counter3 == 0\n");
    const std::string broken = vm::test::temporaryPath("broken.chk");
    vm::test::writeFile(broken, "status\n# fine so far\nexpect DI9 == 1\n");
    const std::string junit = vm::test::temporaryPath("report.xml");
    const std::string passed = vm::test::temporaryPath("passed.xml");
    const std::vector<Row> table{
        {at("{fixture}", {"run", passing, "--junit", passed}), 0,
         "ok 4 - expect DI0 == 1 within 50ms (", ""},
        {at("{fixture}", {"run", passing}), 0,
         "TAP version 13\n1..9\nok 1 - set A 0\nok 2 - reset A\n", ""},
        {at("{fixture}", {"run", failing, "--junit", junit}), 1,
         "not ok 2 - expect DI3 == 1 within 30ms # DI3 was 0 after ", ""},
        {at("{fixture}", {"run", failing}), 1,
         "not ok 3 - expect gap0 == 0 # gap0 was absent (34-byte frames)\nok 4", ""},
        {at("{fixture}", {"run", broken}), 2, "", "broken.chk:3: unknown field \"DI9\""},
        {at("{closed}", {"run", passing}), 3, "Bail out!", "cannot connect"},
        {at("{closed}", {"run", passing, "--junit", "/nonexistent/r.xml"}), 2, "",
         "cannot write /nonexistent/r.xml"},
        {at("{silent}", {"-t", "100", "run", failing}), 4,
         "not ok 1 - set 2 0 # no reply within 100 ms", ""},
    };
    for (const Row& row : table)
        check(row);
    const std::string xml = vm::test::readFile(junit);
    CHECK(xml.find("tests=\"4\" failures=\"2\"") != std::string::npos);
    CHECK(vm::test::readFile(passed).find("tests=\"9\" failures=\"0\"") != std::string::npos);
    // A script with a syntax error sends nothing.
    CHECK(emulator("fixture").log().find("DI9") == std::string::npos);
}

TEST_CASE("ping prints the window's line per probe and exits by what came back") {
    // The first label of this name is longer than DNS allows (the look-up takes its first 64
    // characters), so it fails before any query could leave the machine.
    const std::string unknown = std::string(70, 'x') + ".invalid";
    check({{"-H", unknown, "ping", "-n", "1"},
           3,
           "Ping: Unknown Host " + unknown + "\n",
           "1 probe, 0 replies, 0 without an answer, 1 not sent"});
    check({{"ping", "-n", "0"}, 2, "", "--count"});

    const Finished first = ctl({"-H", "127.0.0.1", "ping", "-n", "1", "-q"});
    if (first.out.starts_with("Ping: Not permitted")) {
        MESSAGE("ICMP rows skipped: this user may not send ICMP here (net.ipv4.ping_group_range, "
                "CAP_NET_RAW)");
        return;
    }
    if (std::getenv("VM3870CTL") && geteuid() != 0) {
        MESSAGE("ICMP rows skipped: under Wine the echo needs root");
        return;
    }
    const std::vector<Row> table{
        {{"-H", "127.0.0.1", "ping", "-n", "2"},
         0,
         "Reply From 127.0.0.1: Bytes=0 Time=",
         "2 probes, 2 replies, 0 without an answer, 0 not sent"},
        {{"-H", "127.0.0.1", "ping", "-n", "1", "-f", "csv"},
         0,
         "time,result,address,bytes,time_ms,ttl\n",
         "1 probe, 1 reply, 0 without an answer, 0 not sent"},
        {{"-H", "127.0.0.1", "ping", "-n", "1", "-f", "csv", "-q"}, 0, "Z,reply,127.0.0.1,0,", ""},
    };
    for (const Row& row : table)
        check(row);
    // The host from the window's settings; their port, which ping does not use, may be bad.
    // (Not for another build: one that keeps its settings elsewhere would probe the default.)
    if (!std::getenv("VM3870CTL")) {
        vm::test::writeFile(configFolder() + "/VM3870_SIMUL.conf",
                            "[vm3870sim]\nADDRESS=\" 127.0.0.1\"\nPORT=40x\n");
        requireLoopbackFromSettings({"-p", "4000"}); // the bad PORT is ping's to ignore
        check({{"ping", "-n", "1"}, 0, "Reply From 127.0.0.1: Bytes=0 Time=", "*"});
        vm::test::writeFile(configFolder() + "/VM3870_SIMUL.conf", "");
    }
    const Finished json = ctl({"-H", "127.0.0.2", "ping", "-n", "2", "-f", "json"});
    CHECK(json.code == 0);
    const auto records = jsonLines(json.out);
    REQUIRE(records.size() == 3);
    CHECK(records[1]["address"] == "127.0.0.2");
    CHECK(records[1]["ttl"].is_number());
    // One probe a second: the second one second after the first, not at once.
    const auto seconds = [&](int i) {
        return std::stod(records[i]["time"].get<std::string>().substr(17, 6)); // SS.mmm
    };
    const double gap = std::fmod(seconds(1) - seconds(0) + 60.0, 60.0);
    CHECK(gap >= 0.95);
    CHECK(gap < 1.5);
    CHECK(records[2]["summary"]["replies"] == 2);
    CHECK(records[2]["type"] == "summary");

    // A host that does not answer: loopback of a namespace that ignores echo requests. A
    // Windows build sends through the Wine server, which lives outside the namespace.
    if (geteuid() != 0 || std::getenv("VM3870CTL") || onlyLoopbackHere()) {
        MESSAGE("no-answer row skipped: needs root, the native build and a namespace to make");
        return;
    }
    const LoopbackOnly ns;
    REQUIRE(ns.unavailable().empty());
    vm::test::runProgram(
        {"ip", "netns", "exec", ns.name(), "sysctl", "-q", "net.ipv4.icmp_echo_ignore_all=1"});
    const Finished silent = ctl({"-H", "127.0.0.1", "ping", "-n", "1"}, {}, ns.prefix());
    CHECK(silent.code == 4);
    CHECK(silent.out == "No answer from 127.0.0.1\n");
}

// Folder names a Western code page lacks (en dash), holds (u umlaut), and a Korean one. A
// Windows build finds its files there and writes their paths and the system's messages in
// UTF-8, whatever the code page: scripts/test runs this case again under a Korean one.
TEST_CASE("paths and system messages outside ASCII, whatever the code page") {
    const auto validUtf8 = [](std::string_view text) {
        for (vm::utf8::Decoded c; !text.empty(); text.remove_prefix(c.length))
            if (!(c = vm::utf8::decodeFirst(text)).valid)
                return false;
        return true;
    };
    for (const std::string name : {"Line \u2013 A", "Pr\u00fcfung", "\uac80\uc0ac"}) {
        CAPTURE(name);
        const std::string folder = vm::test::temporaryPath(name);
        std::filesystem::create_directory(folder);
        const std::string script = folder + "/check.chk";
        const std::string report = folder + "/" + name + ".xml";
        const std::string daily = folder + "/20261207.txt";
        const std::string trace = folder + "/" + name + ".vcd";
        vm::test::writeFile(script, "set 1 0\nexpect DO0 == 0\n");
        vm::test::writeFile(daily, "[09:15:02.047] RECV : "
                                   "4E313030313030303101000000000100007856341200000000FFFFFFFF"
                                   "00000100E4\r\n");
        const std::vector<Row> table{
            {at("{fixture}", {"run", script, "--junit", report}), 0, "ok 2 - expect DO0 == 0", ""},
            {at("{fixture}", {"run", folder + "/none.chk"}), 2, "",
             "File does not exist: " + folder + "/none.chk"},
            {{"decode", "--file", daily}, 0, "DI 100100  DO 01", ""},
            {at("{fixture}", {"watch", "-n", "2", "-i", "0.01", "-q", "--vcd", trace}), 0, "*", ""},
        };
        for (const Row& row : table)
            check(row);
        CHECK(vm::test::readFile(report).find("<testsuite name=\"" + script + "\"") !=
              std::string::npos);
        CHECK(vm::test::readFile(trace).find("$enddefinitions $end") != std::string::npos);
        // A console (Wine's, on a terminal) shows the path as it is, not byte by byte.
        if (std::getenv("VM3870CTL")) {
            std::string command;
            for (const std::string& word : program())
                command += word + " ";
            Finished shown = vm::test::runProgram(
                {"script", "-qc", command + "run '" + folder + "/none.chk'", "/dev/null"});
            for (std::size_t at; (at = shown.out.find("\x1b[")) != std::string::npos;)
                shown.out.erase(at, shown.out.find_first_of("ABCDHJKhlm", at) + 1 - at);
            CHECK(shown.out.find(name + "/none.chk") != std::string::npos);
        }
    }
    // Windows words its reasons in the user's language.
    const Finished refused = ctl(at("{closed}", {"status"}));
    CHECK(refused.code == 3);
    CAPTURE(refused.err);
    CHECK(refused.err.starts_with("vm3870ctl: cannot connect to 127.0.0.1:"));
    CHECK(validUtf8(refused.err));
}

namespace {

// The program run through the shell with its stdout sent to `target` (a file or /dev/full),
// or, with `signal`, ended by that signal after `seconds`.
std::vector<std::string> stdoutTo(const std::string& target) {
    return {"/bin/sh", "-c", "exec \"$@\" > " + target, "sh"};
}
std::vector<std::string> endedBy(const std::string& signal, const std::string& seconds) {
    return {"timeout", "--preserve-status", "-s", signal, seconds};
}

bool validJunit(const std::string& path) {
    const Finished lint = vm::test::runProgram(
        {"xmllint", "--noout", "--schema", VM_SOURCE_DIR "/tests/ctl/junit.xsd", path});
    CAPTURE(lint.err);
    return lint.code == 0;
}

// What `prove` makes of TAP: its exit code and report.
Finished prove(const std::string& tap) {
    const std::string file = vm::test::temporaryPath("run.tap");
    vm::test::writeFile(file, tap);
    return vm::test::runProgram({"prove", "--exec", "cat", file});
}

// A small file system that is full, for the time of a test case (root only).
struct FullDisk {
    std::string folder = vm::test::temporaryPath("full");
    bool mounted = false;
    FullDisk() {
        folder = folder.substr(0, folder.rfind('/'));
        mounted = geteuid() == 0 &&
                  vm::test::runProgram({"mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", folder})
                          .code == 0;
    }
    void fill() const {
        vm::test::runProgram({"dd", "if=/dev/zero", "of=" + folder + "/filler", "bs=4k"});
    }
    ~FullDisk() {
        if (mounted)
            vm::test::runProgram({"umount", folder});
    }
};

} // namespace

TEST_CASE("a write that fails ends with exit 5 and the system's reason, whatever the output") {
    const std::string script = vm::test::temporaryPath("short.chk");
    vm::test::writeFile(script, "status\n");
    const std::string frame =
        "4E313030313030303101000000000100007856341200000000FFFFFFFF00000100E4";
    // The system's reason, in its words: Linux's, or Windows' as Wine gives them.
    const std::string noSpace =
        std::string("cannot write standard output: ") +
        (std::getenv("VM3870CTL") ? "Disk full" : "No space left on device");
    const std::vector<std::vector<std::string>> commands{
        at("{fixture}", {"status"}),
        at("{fixture}", {"watch", "-i", "0.01", "-n", "3", "-f", "csv", "-q"}),
        at("{fixture}", {"run", script}),
        at("{closed}", {"status", "-f", "csv"}), // the header is written even so
        {"decode", frame},
        {"--help"},
    };
    for (const auto& args : commands) {
        CAPTURE(args);
        const Finished f = ctl(args, {}, stdoutTo("/dev/full"));
        CAPTURE(f.err);
        CHECK(f.code == 5);
        CHECK(f.err.find(noSpace) != std::string::npos);
    }

    FullDisk disk;
    if (!disk.mounted) {
        MESSAGE("full-disk rows skipped: mounting a tmpfs needs root");
        return;
    }
    const std::string report = disk.folder + "/report.xml";
    vm::test::writeFile(report, "<testsuite tests=\"1\" failures=\"0\"/>"); // an earlier unit's
    disk.fill();
    // A report larger than the page the earlier one frees.
    std::string steps;
    for (int i = 0; i < 100; ++i)
        steps += "status\n";
    vm::test::writeFile(script, steps);
    // Wine completes a write that fits in part and fails the rest with no error code, which
    // its C runtime calls "Invalid argument": only the file is checked there.
    const std::string reason =
        std::getenv("VM3870CTL") ? std::string() : noSpace.substr(noSpace.find(": ") + 2);
    const std::vector<Row> table{
        {at("{fixture}", {"watch", "-i", "0", "-n", "100000", "-f", "csv", "-q", "--vcd",
                          disk.folder + "/trace.vcd"}),
         5, "*", "cannot write " + disk.folder + "/trace.vcd: " + reason},
        {at("{fixture}", {"run", script, "--junit", report}), 5, "ok 1 - status",
         "cannot write " + report + ": " + reason},
    };
    for (const Row& row : table)
        check(row);
    // The earlier unit's pass is gone rather than standing for this unit.
    CHECK(vm::test::readFile(report).empty());
    const Finished csv = ctl(at("{fixture}", {"watch", "-i", "0", "-n", "100000", "-f", "csv"}), {},
                             stdoutTo(disk.folder + "/watch.csv"));
    CAPTURE(csv.err);
    CHECK(csv.code == 5);
    CHECK(csv.err.find("cannot write standard output: " + reason) != std::string::npos);
    CHECK(csv.err.find(" replies (0 invalid)") != std::string::npos); // and its summary
}

TEST_CASE("the JUnit report is whole on every ending, and CI readers accept it and the TAP") {
    const std::string passing = vm::test::temporaryPath("pass.chk");
    vm::test::writeFile(passing, "set 1 1\nexpect DI0 == 1 within 50ms\nset 1 0\n");
    const std::string failing = vm::test::temporaryPath("fail.chk");
    vm::test::writeFile(failing, "set 2 0\nexpect DI3 == 1\n");
    const std::string waiting = vm::test::temporaryPath("wait.chk");
    vm::test::writeFile(waiting, "status\nwait 20s\nstatus\nstatus\n");
    struct Ending {
        std::string name;
        std::vector<std::string> args;
        std::vector<std::string> prefix;
        int code;
        std::string report; // what the report holds
        std::string prove;  // what prove says
    };
    const std::vector<Ending> endings{
        {"pass",
         at("{fixture}", {"run", passing}),
         {},
         0,
         "failures=\"0\" errors=\"0\"",
         "Result: PASS"},
        {"fail",
         at("{fixture}", {"run", failing}),
         {},
         1,
         "<failure message=\"DI3 was 0\" type=\"check\">",
         "Failed test:  2"},
        {"timeout",
         at("{silent}", {"-t", "100", "run", failing}),
         {},
         4,
         "<error message=\"no reply within 100 ms\" type=\"timeout\">",
         "Result: FAIL"},
        {"refused",
         at("{closed}", {"run", passing}),
         {},
         3,
         "<error message=\"cannot connect to 127.0.0.1:",
         "Bailout called"},
        {"SIGTERM", at("{fixture}", {"run", waiting}), endedBy("TERM", "2"), 4,
         "message=\"interrupted; steps 3 to 4 not run\" type=\"bail-out\"", "Bailout called"},
        {"SIGINT", at("{fixture}", {"run", waiting}), endedBy("INT", "2"), 4,
         "Bail out! interrupted", "Bailout called"},
    };
    const bool wine = std::getenv("VM3870CTL") != nullptr;
    for (const Ending& ending : endings) {
        CAPTURE(ending.name);
        if (wine && ending.name == "SIGTERM")
            continue; // Wine ends its process on SIGTERM without a word to it
        const std::string report = vm::test::temporaryPath("report.xml");
        vm::test::writeFile(report, "stale"); // an earlier unit's report
        std::vector<std::string> args = ending.args;
        args.insert(args.end(), {"--junit", report});
        const Finished f = ctl(args, {}, ending.prefix);
        CAPTURE(f.out);
        CAPTURE(f.err);
        CHECK(f.code == ending.code);
        const std::string xml = vm::test::readFile(report);
        CAPTURE(xml);
        CHECK(xml.find(ending.report) != std::string::npos);
        CHECK(xml.find("<property name=\"port\" value=\"") != std::string::npos);
        CHECK(validJunit(report));
        const Finished proved = prove(f.out);
        CAPTURE(proved.out);
        CHECK((proved.code == 0) == (ending.code == 0));
        CHECK(proved.out.find(ending.prove) != std::string::npos);
        // Nothing is left beside the report.
        const std::string folder = report.substr(0, report.rfind('/'));
        CHECK(vm::test::runProgram({"ls", folder}).out == "report.xml\n");
    }
    // The script is never the report.
    check({at("{fixture}", {"run", passing, "--junit", passing}), 2, "", "is the script itself"});
    CHECK(vm::test::readFile(passing).starts_with("set 1 1\n"));
    // A script that cannot run says so in the report too, in place of an earlier unit's.
    const std::string broken = vm::test::temporaryPath("broken.chk");
    vm::test::writeFile(broken, "set 1 1\nexpect DI9 == 1\n");
    const std::string report = vm::test::temporaryPath("report.xml");
    vm::test::writeFile(report, "stale");
    check({at("{fixture}", {"run", broken, "--junit", report}), 2, "", "broken.chk:2:"});
    CHECK(vm::test::readFile(report).find("type=\"bail-out\"") != std::string::npos);
    CHECK(validJunit(report));
}

TEST_CASE("a watch ended by a signal sums up, and its trace is on disk as it goes") {
    const std::string vcd = vm::test::temporaryPath("ended.vcd");
    const bool wine = std::getenv("VM3870CTL") != nullptr;
    for (const std::string signal : {"TERM", "HUP", "INT"}) {
        CAPTURE(signal);
        if (wine && signal != "INT") {
            MESSAGE("SIGTERM and SIGHUP rows skipped under Wine: it ends the process unasked");
            continue;
        }
        const Finished f =
            ctl(at("{toggling}", {"watch", "-i", "0.01", "-f", "json", "--vcd", vcd}), {},
                endedBy(signal, "1.5"));
        CHECK(f.code == 0);
        const auto lines = jsonLines(f.out);
        REQUIRE(lines.size() > 10);
        CHECK(lines.back()["type"] == "summary");
        CHECK(lines.back()["summary"]["replies"] == lines.size() - 1);
        CHECK(vm::test::runProgram({"/usr/bin/vcd2fst", vcd, vcd + ".fst"}).code == 0);
    }

    // Killed outright: the trace holds all but the last second of what stdout shows.
    const Finished killed =
        ctl(at("{toggling}", {"watch", "-i", "0.01", "-f", "csv", "--vcd", vcd}), {},
            endedBy("KILL", "2.5"));
    std::vector<std::string> rows;
    std::istringstream in(killed.out);
    for (std::string line; std::getline(in, line);)
        rows.push_back(line);
    REQUIRE(rows.size() > 3);
    const auto seconds = [](const std::string& row) { // SS.mmm of the ISO time
        return std::stod(row.substr(17, 6));
    };
    const double shown = std::fmod(seconds(rows.back()) - seconds(rows[1]) + 60.0, 60.0);
    const std::string trace = vm::test::readFile(vcd);
    const std::size_t last = trace.rfind("\n#");
    REQUIRE(last != std::string::npos);
    const double traced = std::stod(trace.substr(last + 2)) / 1e6;
    CAPTURE(shown);
    CAPTURE(traced);
    CHECK(traced > shown - 1.3);
}

TEST_CASE("records keep their shape: csv header always, json keys always, singular counts") {
    const Finished none = ctl(at("{silent}", {"-t", "100", "status", "-f", "csv"}));
    CHECK(none.code == 4);
    CHECK(none.out.starts_with("time,length,hex,di0,"));
    const Finished appended = ctl(at("{fixture}", {"status", "-f", "csv", "--no-header"}));
    CHECK(appended.code == 0);
    CHECK(std::count(appended.out.begin(), appended.out.end(), '\n') == 1);
    CHECK_FALSE(appended.out.starts_with("time,"));

    const Finished json = ctl(at("{garbage}", {"watch", "-i", "0.01", "-n", "2", "-f", "json"}));
    const auto lines = jsonLines(json.out);
    REQUIRE(lines.size() == 3);
    for (const auto& line : lines)
        CHECK(line.size() == lines[0].size());
    CHECK(lines[0]["type"] == "error");
    CHECK(lines[0]["di"].is_null());
    CHECK(lines[2]["type"] == "summary");
    check({{"decode", "4E"}, 1, "not a status frame: 1 byte (", ""});
    check({at("{fixture}", {"watch", "-n", "1"}), 0, "*", "1 request, 1 reply (0 invalid)"});
}

TEST_CASE("check scripts: any line ends, every fault said, stdin, finally, --var") {
    const std::string script = vm::test::temporaryPath("unit.chk");
    const auto write = [&script](const std::string& text) {
        vm::test::writeFile(script, text);
        return script;
    };
    // Notepad's UTF-8 with a mark, Windows PowerShell's UTF-16 LE, and UTF-16 BE.
    const auto utf16 = [](const std::string& text, bool little) {
        std::string out = little ? "\xFF\xFE" : "\xFE\xFF";
        for (const char c : text)
            out += little ? std::string{c, '\0'} : std::string{'\0', c};
        return out;
    };
    const std::string steps = "# fixture\r\nreset A\r\nset 1 1\r\nexpect DI0 == 1 within 50ms\r\n";
    const std::vector<std::pair<std::string, Row>> table{
        {"reset A\rset 1 1\rexpect DI0 == 1 within 50ms\r",
         {at("{fixture}", {"run", script}), 0, "1..3\nok 1 - reset A\nok 2 - set 1 1\nok 3", ""}},
        {"\xEF\xBB\xBF" + steps, {at("{fixture}", {"run", script}), 0, "ok 3 - expect DI0", ""}},
        {utf16(steps, true), {at("{fixture}", {"run", script}), 0, "ok 3 - expect DI0", ""}},
        {utf16(steps, false), {at("{fixture}", {"run", script}), 0, "ok 3 - expect DI0", ""}},
        {"", {at("{fixture}", {"run", script}), 2, "", "unit.chk: no steps"}},
        {"# only a comment\r# and another\r",
         {at("{fixture}", {"run", script}), 2, "", "unit.chk: no steps"}},
        {"stat\nset 1 1\nset 3 1\n",
         {at("{fixture}", {"run", script}), 2, "", "unit.chk:1: unknown step \"stat\""}},
        {"stat\nset 1 1\nset 3 1\n",
         {at("{fixture}", {"run", script}), 2, "", "unit.chk:3: expected \"set CH V\""}},
        {"set 1 1\nexpect DI0 == 0\nfinally\nset A 0\nexpect DI0 == 0 within 50ms\n",
         {at("{fixture}", {"run", script}), 1,
          "not ok 2 - expect DI0 == 0 # DI0 was 1\nok 3 - set A 0\nok 4", ""}},
        {"set 1 1\nfinally\nset A 0\n",
         {at("{closed}", {"run", script}), 3, "not ok 1 - set A 0 # not connected: ", "*"}},
        {"status\n",
         {at("{fixture}", {"run", script, "--var", "serial=SN-0042", "--var", "lot=7"}), 0,
          "1..1\n# serial=SN-0042\n# lot=7\nok 1 - status\n# PASS serial=SN-0042 lot=7: 1 of 1 "
          "steps ok\n",
          ""}},
        {"status\n", {at("{fixture}", {"run", script, "--var", "serial="}), 2, "", "empty value"}},
    };
    for (const auto& [text, row] : table) {
        write(text);
        check(row);
    }
    // Twenty faults are said, then how many more; nothing is sent.
    std::string broken;
    for (int i = 0; i < 25; ++i)
        broken += "expect DI9 == 1\n";
    const Finished many = ctl(at("{fixture}", {"run", write(broken)}));
    CHECK(many.code == 2);
    CHECK(std::count(many.err.begin(), many.err.end(), '\n') == 21);
    CHECK(many.err.find("unit.chk:20: unknown field") != std::string::npos);
    CHECK(many.err.find("5 more faulty lines not shown") != std::string::npos);
    // The script from standard input; the JUnit report carries the --var.
    const std::string junit = vm::test::temporaryPath("unit.xml");
    const Finished piped =
        ctl(at("{fixture}", {"run", "-", "--junit", junit, "--var", "serial=SN-0042"}), steps);
    CHECK(piped.code == 0);
    CHECK(piped.out.find("ok 3 - expect DI0 == 1 within 50ms") != std::string::npos);
    CHECK(vm::test::readFile(junit).find("<property name=\"serial\" value=\"SN-0042\"/>") !=
          std::string::npos);
}

TEST_CASE("decode: stamps, long lines, binary input, daily files and byte-order marks") {
    const std::string frame =
        "4E313030313030303101000000000100007856341200000000FFFFFFFF00000100E4";
    const std::string input = vm::test::temporaryPath("in.txt");
    // Named after a local date; a stamp at noon UTC falls on that date in every time zone
    // from UTC-12 to UTC+11.
    const std::string daily = vm::test::temporaryPath("20261207.txt");
    const std::string noon = "[12:00:00.250] RECV : " + frame + "\r\n";
    std::string utf16le = "\xFF\xFE";
    for (const char c : noon)
        utf16le += std::string{c, '\0'};
    struct DecodeRow {
        std::string file; // the input file
        std::string text; // its content
        Row row;
    };
    std::string binary;
    for (int i = 0; i < 100; ++i)
        binary += "\x01\xFE\x80zz\n";
    const std::vector<DecodeRow> table{
        {input,
         "[09:15:02.047]  RECV :  " + frame + "\r\n",
         {{"decode", "--file", input, "-f", "csv"}, 0, "\n09:15:02.047Z,34,", ""}},
        {input,
         "[99:99:99.999] RECV : " + frame + "\r\n",
         {{"decode", "--file", input}, 1, "", "line 1: [99:99:99.999] is not a time of day"}},
        {daily,
         noon,
         {{"decode", "--file", daily, "-f", "csv"}, 0, "\n2026-12-07T12:00:00.250Z,", ""}},
        {daily,
         utf16le,
         {{"decode", "--file", daily, "-f", "json"},
          0,
          "\"time\":\"2026-12-07T12:00:00.250Z\"",
          ""}},
        {input, "\xEF\xBB\xBF" + frame + "\n", {{"decode", "--file", input}, 0, "DI 100100", ""}},
        {input,
         std::string(2 << 20, '4') + "\n" + frame + "\n",
         {{"decode", "--file", input, "-f", "csv"},
          1,
          ",34,4E31",
          "line 1: longer than 1024 KiB, skipped"}},
        {input, binary, {{"decode", "--file", input}, 1, "", "90 more lines skipped (100 in all)"}},
    };
    for (const DecodeRow& r : table) {
        vm::test::writeFile(r.file, r.text);
        check(r.row);
    }
    // The first ten bad lines are said one by one, then their count: not a line each.
    const Finished bad = ctl({"decode"}, binary);
    CHECK(std::count(bad.err.begin(), bad.err.end(), '\n') == 11);
}

TEST_CASE("settings: each value with its source, an unusable one marked; decode reads none") {
    const std::string port = std::to_string(emulator("fixture").port());
    windowSettings({{"ADDRESS", " 127.0.0.1"}, {"PORT", "40x"}, {"INTERVAL", "abc"}});
    requireLoopbackFromSettings();
    const std::vector<Row> table{
        {{"settings"}, 0, "host 127.0.0.1 (ADDRESS in ", ""},
        {{"settings"}, 0, "\nport \"40x\" unusable: PORT in ", ""},
        {{"settings"}, 0, "\ninterval \"abc\" unusable: INTERVAL in ", ""},
        {{"-p", port, "settings"}, 0, "\nport " + port + " (-p)\n", ""},
        {{"decode", "4E"}, 1, "not a status frame", ""},
        {{"-p", port, "watch", "-n", "1"}, 2, "", "\"abc\" is not usable: INTERVAL in "},
        {{"-p", port, "watch", "-n", "1", "-i", "0.01", "-q"}, 0, "34 B", ""},
    };
    for (const Row& row : table)
        check(row);
    // A port set as a number in the registry (reg add ... /t REG_DWORD) is read as one.
    const std::vector<std::string> command = program();
    if (underWine()) {
        const Finished added = vm::test::runProgram(
            {command.front(), "reg", "add", "HKCU\\Software\\VM3870_SIMUL\\vm3870sim", "/v", "PORT",
             "/t", "REG_DWORD", "/d", port, "/f"});
        REQUIRE(added.code == 0);
        check({{"settings"}, 0, "\nport " + port + " (PORT in HKEY_CURRENT_USER", ""});
        check({{"status"}, 0, "DO ", ""});
    }
    windowSettings({});
}

TEST_CASE("the module's address: never empty, never with a port, the default said aloud") {
    const std::vector<Row> refused{
        {{"-H", "", "status"}, 2, "", "-H is empty"},
        {{"-H", " ", "watch", "-n", "1"}, 2, "", "-H is empty"},
        {{"-H", "", "decode", "4E"}, 2, "", "-H is empty"},
        {{"-H", "", "settings"}, 2, "", "-H is empty"},
        {{"-H", "", "ping", "-n", "1"}, 2, "", "-H is empty"},
        {{"-H", "", "run", "-"}, 2, "", "-H is empty"},
        {{"-H", "127.0.0.1:4000", "status"},
         2,
         "",
         "-H takes the address alone, not \"127.0.0.1:4000\": give the port with -p (-H "
         "127.0.0.1 -p 4000)"},
        {{"ping", "127.0.0.1:4000"}, 2, "", "HOST takes the address alone"},
        {{"ping", "", "-n", "1"}, 2, "", "HOST is empty"},
        {{"-H", "127.0.0.1", "ping", "127.0.0.2"}, 2, "", "ping takes its host once"},
        {{"/?"}, 0, "Exit codes:", ""},
        {{"run", "-?"}, 0, "--var NAME=VALUE", ""},
    };
    // Each could reach for the default address were it taken: only where nothing but
    // loopback can be reached.
    const LoopbackOnly ns;
    if (!ns.unavailable().empty()) {
        MESSAGE("address rows skipped: " << ns.unavailable());
        return;
    }
    windowSettings({});
    for (const Row& row : refused)
        check(row, "status\n", ns.prefix());
    check({{"-t", "200", "status"},
           3,
           "",
           "no -H and no ADDRESS in " + settingsPlace() +
               ": using the default address 192.168.1.110\n"},
          {}, ns.prefix());
    check({{"ping", "127.0.0.1", "-n", "1"}, 0, "Reply From 127.0.0.1", "*"}, {}, ns.prefix());
    // Each command's help shows its own example, not every command's.
    const Finished help = ctl({"run", "--help"});
    CHECK(help.out.find("vm3870ctl run fixture.chk --var serial=A123") != std::string::npos);
    CHECK(help.out.find("vm3870ctl watch") == std::string::npos);
}

namespace {

// Seconds since midnight of an ISO time "2026-12-07T10:00:04.123Z" or a stamp "[10:00:04.123]".
double secondsOfDay(const std::string& text) {
    const std::size_t at = text.find(':') - 2;
    return std::stod(text.substr(at, 2)) * 3600 + std::stod(text.substr(at + 3, 2)) * 60 +
           std::stod(text.substr(at + 6, 6));
}

// The emulator's report line that contains `mark`.
std::string logLine(const Emulator& emu, const std::string& mark) {
    const std::string log = emu.log();
    const std::size_t at = log.find(mark);
    REQUIRE(at != std::string::npos);
    const std::size_t begin = log.rfind('\n', at) + 1;
    return log.substr(begin, log.find('\n', at) - begin);
}

} // namespace

TEST_CASE("every reply is checked: first byte, checksum, length, whole frames and set's effect") {
    const std::string badSum =
        "4E313030313030303101000000000100007856341200000000FFFFFFFF000001000A";
    const std::string notN = "41313030313030303101000000000100007856341200000000FFFFFFFF00000100";
    const Emulator letterA({"--first-byte", "A", "--frame", "33"});
    const Emulator wrongSum({"--bad-checksum"});
    const Emulator random34({"--garbage", "34"});
    const Emulator split({"--split", "10", "--split-delay", "20"});
    const Emulator stuck({"--ignore-set"});
    const Emulator trickle({"--trickle", "2"});
    const auto on = [](const Emulator& e, std::vector<std::string> args) {
        return at(std::to_string(e.port()), std::move(args));
    };
    const std::vector<Row> table{
        {on(letterA, {"status"}), 1, "error: not a status frame: first byte 41, not 4E (N)", ""},
        {on(wrongSum, {"status", "-f", "json"}), 1, "is wrong: bytes 0 to 32 sum to", ""},
        {on(wrongSum, {"--frame", "34", "watch", "-i", "0.01", "-n", "2"}), 1, "*",
         "2 replies (2 invalid)"},
        {on(random34, {"watch", "-i", "0.01", "-n", "2"}), 1, "not a status frame", "(2 invalid)"},
        {{"decode", badSum}, 1, "checksum 0A is wrong: bytes 0 to 32 sum to E4", ""},
        {{"decode", notN}, 1, "first byte 41, not 4E (N)", ""},
        {on(split, {"status"}), 0, " 34 B  DI ", ""},
        {on(split, {"--frame", "34", "status", "-f", "csv"}), 0, ",34,4E", ""},
        {on(trickle, {"status"}), 0, " 34 B  DI ", ""},
        {on(trickle, {"--frame", "35", "status"}), 2, "", "--frame is 33, 34 or 57"},
        {on(trickle, {"--frame", "57", "-t", "300", "status"}), 1,
         "error: incomplete: 34 of 57 bytes within 300 ms", ""},
        {on(stuck, {"set", "1", "1"}), 1, "error: DO0 is 0 in the reply, not 1 as set", ""},
        {on(stuck, {"set", "A", "0"}), 0, " DO 00 ", ""},
    };
    for (const Row& row : table)
        check(row);
    // A reply in two pieces is one record of one request.
    const Finished pieces = ctl(on(split, {"watch", "-i", "0.1", "-n", "3", "-f", "json"}));
    CHECK(pieces.code == 0);
    const auto lines = jsonLines(pieces.out);
    REQUIRE(lines.size() == 4);
    for (std::size_t i = 0; i < 3; ++i)
        CHECK(lines[i]["length"] == 34);
    const std::string script = vm::test::temporaryPath("stuck.chk");
    vm::test::writeFile(script, "set 1 1\nset 1 0\n");
    check({on(stuck, {"run", script}), 1,
           "not ok 1 - set 1 1 # DO0 is 0 in the reply, not 1 as set\nok 2 - set 1 0\n", ""});
}

TEST_CASE("a late reply answers no later request, and expect ... within keeps its time") {
    const Emulator late({"--delay", "300"});
    const Emulator slow({"--delay", "80", "--wire", "DO0=DI0", "--still"});
    const std::string script = vm::test::temporaryPath("late.chk");
    vm::test::writeFile(script, "set 1 1\nset 1 0\nexpect DO0 == 1\n");
    const Finished run = ctl(at(std::to_string(late.port()), {"-t", "200", "run", script}));
    CAPTURE(run.out);
    CHECK(run.code == 4);
    CHECK(run.out.find("\nok ") == std::string::npos); // every step was judged on its own reply
    CHECK(run.out.find("# reconnected: the request before had no whole reply") !=
          std::string::npos);
    // A module that closes the connection after 3 replies: the run goes on, and says so.
    const std::string five = vm::test::temporaryPath("five.chk");
    vm::test::writeFile(five, "status\nstatus\nstatus\nstatus\nstatus\n");
    const Finished closing = ctl(at("{closing}", {"run", five}));
    CHECK(closing.code == 0);
    CHECK(closing.out.find("ok 3 - status\n# reconnected after the connection was lost (") !=
          std::string::npos);
    CHECK(closing.out.find("ok 5 - status\n") != std::string::npos);

    const Finished watch = ctl(at(std::to_string(late.port()),
                                  {"-t", "200", "watch", "-i", "0.5", "-n", "3", "-f", "json"}));
    CAPTURE(watch.out);
    CHECK(watch.code == 4);
    const auto lines = jsonLines(watch.out);
    REQUIRE(lines.size() == 4);
    for (std::size_t i = 0; i < 3; ++i)
        CHECK(lines[i]["error"] == "no reply within 200 ms");
    CHECK(lines[1]["late"] == 1);
    CHECK(lines[3]["summary"]["late"] >= 2);

    const std::string within = vm::test::temporaryPath("within.chk");
    vm::test::writeFile(within, "set 1 1\nexpect DI0 == 1 within 50ms\nset 1 0\n"
                                "expect DI0 == 0 within 300ms\n");
    check({at(std::to_string(slow.port()), {"run", within}), 1,
           "not ok 2 - expect DI0 == 1 within 50ms # DI0 == 1 first seen after ", ""});
    check({at(std::to_string(slow.port()), {"run", within}), 1, "ok 4 - expect DI0 == 0", ""});
}

TEST_CASE("watch ends after N requests whatever came back, and shows every slot of an outage") {
    check({at("{silent}", {"watch", "-i", "0.01", "-t", "50", "-n", "3", "-q"}), 4,
           "no reply within 50 ms", ""});
    // One record per request, whether none or two frames came back: 5 and the summary.
    for (const std::string kind : {"{silent}", "{merge}"}) {
        CAPTURE(kind);
        const Finished f =
            ctl(at(kind, {"watch", "-i", "0.01", "-t", "50", "-n", "5", "-f", "json"}));
        const auto lines = jsonLines(f.out);
        REQUIRE(lines.size() == 6);
        CHECK(lines.back()["summary"]["late"] == (kind == "{merge}" ? 5 : 0));
    }

    // The module answers 3 requests, is away for 1.5 s, then listens on its port again.
    const Emulator away({"--outage", "3:1500"});
    const std::string vcd = vm::test::temporaryPath("outage.vcd");
    const Finished f =
        ctl(at(std::to_string(away.port()),
               {"watch", "-i", "0.1", "-d", "3", "--reconnect", "-f", "json", "--vcd", vcd}));
    CAPTURE(f.err);
    CHECK(f.code == 4);
    const auto lines = jsonLines(f.out);
    REQUIRE(lines.size() > 20);
    const auto& summary = lines.back()["summary"];
    CHECK(summary["outages"] == 1);
    CHECK(summary["disconnected"] >= 12);
    // A record every slot, no hole where the module was away.
    std::size_t disconnected = 0;
    for (std::size_t i = 0; i + 2 < lines.size(); ++i) {
        const double gap = secondsOfDay(lines[i + 1]["time"]) - secondsOfDay(lines[i]["time"]);
        CHECK(gap < 0.35); // 0.1 s slots; a slow machine may skip one or two
        disconnected += lines[i]["error"].is_string() &&
                        lines[i]["error"].get<std::string>().starts_with("disconnected");
    }
    CHECK(disconnected == summary["disconnected"]);
    CHECK(lines[lines.size() - 2]["error"].is_null()); // back before the end
    CHECK(vm::test::readFile(vcd).find("\nx!\n") != std::string::npos);
    // Connected again within half a second of the module's return.
    const double back = secondsOfDay(logLine(away, "BACK: listening"));
    const double again = secondsOfDay(logLine(away, "client 2 CONNECTED"));
    CHECK(again - back < 0.5);
}

TEST_CASE("a line of units: one command, each unit's own records, subtests and testsuites") {
    // One emulator for the line: A passes (a loop-back fixture), B has a stuck output, C never
    // answers; each on its own loopback address, as fixtures on a line have.
    const Emulator line({"--units", "3", "--listen-each", "--wire", "DO0=DI0,DO1=DI3", "--still",
                         "--unit", "2:--ignore-set", "--unit", "3:--silent"},
                        true);
    const std::string port = std::to_string(line.port());
    const std::string units = vm::test::temporaryPath("line.txt");
    vm::test::writeFile(units, "# the line\nA 127.0.0.2:" + port + " serial=SN-1\n" +
                                   "B 127.0.0.3:" + port + "   # stuck DO0\nC 127.0.0.4:" + port +
                                   "\n");
    const std::string script = vm::test::temporaryPath("fixture.chk");
    vm::test::writeFile(script, "set 1 1\nexpect DI0 == 1 within 50ms\nfinally\nset A 0\n");
    const std::string junit = vm::test::temporaryPath("line.xml");
    const std::string trace = vm::test::temporaryPath("line.vcd");
    struct Case {
        std::vector<std::string> args;
        std::string prefix;                      // how a unit's line begins; %s: its name
        std::map<std::string, std::string> seen; // each unit's line holds this
        std::string failed = "2 of 3 units failed: B (exit 1), C (exit 4)";
    };
    const std::string stuck = "DO0 is 0 in the reply, not 1 as set";
    const Case cases[] = {
        {{"-f", "json", "set", "1", "1"},
         "{\"unit\":\"%s\",",
         {{"A", "\"error\":null"}, {"B", stuck}, {"C", "no reply within 300 ms"}}},
        {{"-f", "csv", "status"},
         "%s,",
         {{"A", ",1,0,"}, {"B", ",0,0,"}, {"C", "no reply"}},
         "1 of 3 units failed: C (exit 4)"},
        {{"status"},
         "%s  ",
         {{"A", "DO 10"}, {"B", "DO 00"}, {"C", "no reply"}},
         "1 of 3 units failed: C (exit 4)"},
        {{"watch", "-n", "1", "--vcd", trace},
         "%s  ",
         {{"A", "DO 10"}, {"B", "DO 00"}, {"C", "no reply"}},
         "1 of 3 units failed: C (exit 4)"},
        {{"expect", "DI0 == 1", "--within", "100ms"},
         "%s  ",
         {{"A", "holds: DI0 == 1"}, {"B", "fails: DI0 was 0 after"}, {"C", "fails: no reply"}}},
        {{"run", script, "--junit", junit},
         "%s",
         {{"ok 1 - A", ""}, {"not ok 2 - B", ""}, {"not ok 3 - C", ""}}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args{"--units", units, "-t", "300"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const Finished f = ctl(args);
        CAPTURE(c.args.back());
        CAPTURE(f.out);
        CAPTURE(f.err);
        CHECK(f.code == 4); // the worst of 0, 1 and 4
        CHECK(f.err.find(c.failed) != std::string::npos);
        for (const auto& [unit, text] : c.seen) {
            std::string begins = c.prefix;
            begins.replace(begins.find("%s"), 2, unit);
            std::istringstream lines(f.out);
            int found = 0;
            for (std::string l; std::getline(lines, l);)
                if (l.starts_with(begins)) {
                    ++found;
                    CHECK(l.find(text) != std::string::npos);
                }
            CHECK(found == 1);
        }
        if (c.args.front() == "watch") {
            CHECK(f.err.find("all 3 units: 3 requests, 2 replies (0 invalid), 1 timeout") !=
                  std::string::npos);
            // One trace, each unit's lanes under its name; A's DO0 (the 8th signal) is on.
            const std::string vcd = vm::test::readFile(trace);
            CHECK(vcd.find("$scope module A $end\n$var wire 1 ! DI0 $end") != std::string::npos);
            CHECK(vcd.find("$scope module C $end\n$var wire 1 I DI0 $end") != std::string::npos);
            CHECK(vcd.find("\n1'\n") != std::string::npos);
        }
        if (c.args.front() == "run") {
            const Finished proved = prove(f.out);
            CAPTURE(proved.out);
            CHECK(proved.out.find("Failed tests:  2-3") != std::string::npos);
            CHECK(validJunit(junit));
            const std::string xml = vm::test::readFile(junit);
            CHECK(xml.find("<testsuite name=\"A\"") != std::string::npos);
            CHECK(xml.find("<testsuite name=\"C\"") != std::string::npos);
            CHECK(xml.find("<property name=\"serial\" value=\"SN-1\"/>") != std::string::npos);
        }
    }
    // The units file is read before anything is sent; a faulty line is said with its place.
    vm::test::writeFile(units, "A 127.0.0.2:99999\n");
    const Finished bad = ctl({"--units", units, "status"});
    CHECK(bad.code == 2);
    CHECK(bad.err.find(units + ":1: the port of 127.0.0.2:99999 is not 1 to 65535") !=
          std::string::npos);
}

TEST_CASE("a unit's faults stay in its own records; a units file is checked before sending") {
    // Unit 1 answers well; each other unit has a fault of its own: a split reply, garbage,
    // replies later than the timeout, a module that goes away.
    const Emulator line({"--units", "5", "--listen-each", "--still", "--unit", "2:--split 10",
                         "--unit", "3:--garbage 20", "--unit", "4:--delay 400", "--unit",
                         "5:--outage 2:5000"},
                        true);
    const std::string port = std::to_string(line.port());
    const std::string units = vm::test::temporaryPath("faults.txt");
    std::string text;
    const char* names[] = {"good", "split", "garbage", "late", "away"};
    for (int i = 0; i < 5; ++i)
        text += std::string(names[i]) + " 127.0.0." + std::to_string(2 + i) + ":" + port + "\n";
    vm::test::writeFile(units, text);
    const Finished f = ctl({"--units", units, "-t", "200", "--frame", "34", "-f", "json", "watch",
                            "-n", "4", "-i", "0.3"});
    CAPTURE(f.out);
    CAPTURE(f.err);
    std::map<std::string, std::vector<nlohmann::json>> records;
    std::istringstream lines(f.out);
    for (std::string l; std::getline(lines, l);) {
        const nlohmann::json r = nlohmann::json::parse(l);
        if (r["type"] != "summary")
            records[r["unit"].get<std::string>()].push_back(r);
    }
    REQUIRE(records["good"].size() == 4);
    for (const nlohmann::json& r : records["good"]) {
        CHECK(r["error"].is_null());
        CHECK(r["late"] == 0);
    }
    CHECK(records["split"].back()["error"].is_null()); // a split reply is one whole record
    CHECK(records["garbage"].front()["error"].get<std::string>().starts_with("incomplete: 20"));
    CHECK(records["late"].front()["error"] == "no reply within 200 ms");
    CHECK(records["away"].back()["error"].get<std::string>().starts_with("disconnected"));
    CHECK(f.code == 4);
    CHECK(f.err.find("3 of 5 units failed: garbage (exit 1), late (exit 4), away (exit 4)") !=
          std::string::npos);

    // One unit is the command as it always was: no unit column, whether named by -H or a file.
    vm::test::writeFile(units, "only 127.0.0.2:" + port + "\n");
    for (const std::vector<std::string>& one :
         {std::vector<std::string>{"--units", units}, {"-H", "127.0.0.2", "-p", port}}) {
        std::vector<std::string> args = one;
        args.insert(args.end(), {"-f", "csv", "status"});
        const Finished s = ctl(args);
        CHECK(s.code == 0);
        CHECK(s.out.starts_with("time,length,hex,"));
    }

    struct Bad {
        std::string file;
        std::vector<std::string> more;
        std::string said;
    };
    const Bad bad[] = {
        {"A 127.0.0.2\nA 127.0.0.3\n", {}, ":2: the name A is given twice"},
        {"A\n", {}, ":1: wants NAME HOST[:PORT], not \"A\""},
        {"A 127.0.0.2 serial\n", {}, ":1: wants NAME=VALUE"},
        {"# nothing\n", {}, "names no unit"},
        {"A 127.0.0.2\n", {"-H", "127.0.0.3"}, "-H and --units exclude each other"},
    };
    for (const Bad& b : bad) {
        vm::test::writeFile(units, b.file);
        std::vector<std::string> args{"--units", units};
        args.insert(args.end(), b.more.begin(), b.more.end());
        args.push_back("status");
        const Finished s = ctl(args);
        CAPTURE(b.file);
        CAPTURE(s.err);
        CHECK(s.code == 2);
        CHECK(s.out.empty());
        CHECK(s.err.find(b.said) != std::string::npos);
    }
}

TEST_CASE("each unit keeps its own rhythm and reconnects on its own; a line's run is one run") {
    // Units A and B answer well; C has the row's fault. Every unit's records and summary are
    // read from one JSON Lines stream.
    struct Unit {
        std::vector<nlohmann::json> records;
        nlohmann::json summary;
    };
    struct Case {
        std::string fault; // unit 3's emulator flags
        std::vector<std::string> args;
        std::uint64_t slots;
        std::function<void(const Unit& c, const Unit& good)> check;
    };
    const Case cases[] = {
        // A silent unit's timeouts cost it slots, never the others theirs.
        {"--silent",
         {"-t", "200", "watch", "-n", "10", "-i", "0.05"},
         10,
         [](const Unit& c, const Unit& good) {
             CHECK(c.summary["timeouts"] == 10);
             CHECK(c.summary["skipped"].get<int>() >= 20);
             CHECK(good.summary["skipped"].get<int>() * 4 < c.summary["skipped"].get<int>());
         }},
        // A unit whose module goes away for half a second: records of the outage for it
        // alone, and it is back within half a second of the module.
        {"--outage 2:500",
         {"-t", "300", "watch", "--reconnect", "-n", "40", "-i", "0.05"},
         40,
         [](const Unit& c, const Unit&) {
             CHECK(c.summary["outages"] == 1);
             CHECK(c.summary["reconnects"] == 1);
             CHECK(c.summary["disconnected"].get<int>() >= 5);
             CHECK(c.summary["disconnected"].get<int>() <= 20);
             REQUIRE(c.records.size() == 40);
             const auto lost = std::find_if(c.records.begin(), c.records.end(),
                                            [](const auto& r) { return !r["error"].is_null(); });
             REQUIRE(lost != c.records.end());
             CHECK((*lost)["error"] == "disconnected: closed by the module");
             CHECK(c.records.back()["error"].is_null());
         }},
    };
    for (const Case& row : cases) {
        CAPTURE(row.fault);
        const Emulator line(
            {"--units", "3", "--listen-each", "--still", "--unit", "3:" + row.fault}, true);
        const std::string port = std::to_string(line.port());
        std::vector<std::string> args{"-H",        "127.0.0.2", "-H", "127.0.0.3", "-H",
                                      "127.0.0.4", "-p",        port, "-f",        "json"};
        args.insert(args.end(), row.args.begin(), row.args.end());
        const Finished f = ctl(args);
        CAPTURE(f.err);
        CHECK(f.code == 4);
        CHECK(f.err.find("1 of 3 units failed: 127.0.0.4 (exit 4)") != std::string::npos);
        std::map<std::string, Unit> units;
        for (const nlohmann::json& r : jsonLines(f.out)) {
            const std::string name = r["unit"].is_null() ? "all" : r["unit"].get<std::string>();
            if (r["type"] == "summary")
                units[name].summary = r["summary"];
            else
                units[name].records.push_back(r);
        }
        for (const std::string good : {"127.0.0.2", "127.0.0.3"}) {
            CAPTURE(good);
            const Unit& u = units[good];
            CHECK(u.records.size() == row.slots);
            for (const nlohmann::json& r : u.records)
                CHECK(r["error"].is_null());
            CHECK(u.summary["requests"] == row.slots);
            CHECK(u.summary["outages"] == 0);
            CHECK(u.summary["disconnected"] == 0);
        }
        row.check(units["127.0.0.4"], units["127.0.0.2"]);
        // The line's rate is its units' together, never more than was asked of them.
        const nlohmann::json& all = units["all"].summary;
        CHECK(all["rate"].get<double>() > 0);
        CHECK(all["rate"].get<double>() <= all["asked_rate"].get<double>());
    }

    const Emulator line({"--units", "3", "--listen-each", "--still", "--unit", "3:--silent"}, true);
    const std::string port = std::to_string(line.port());
    const std::string script = vm::test::temporaryPath("line-waiting.chk");

    // The silent unit listed first ends last; the report still reads in the units' order,
    // each subtest whole.
    vm::test::writeFile(script, "status\n");
    const Finished ordered = ctl({"-H", "127.0.0.4", "-H", "127.0.0.2", "-H", "127.0.0.3", "-p",
                                  port, "-t", "300", "run", script});
    CAPTURE(ordered.out);
    CHECK(ordered.out.find("# Subtest: 127.0.0.4\n    1..1\n    not ok 1 - status # no reply "
                           "within 300 ms\n    # FAIL: 1 of 1 steps not ok (1)\nnot ok 1 - "
                           "127.0.0.4\n# Subtest: 127.0.0.2\n") != std::string::npos);
    CHECK(ordered.out.find("\nok 2 - 127.0.0.2\n# Subtest: 127.0.0.3\n") != std::string::npos);

    // Ctrl+C a second into a line's run: every unit was under way, so every subtest shows its
    // first step done and its wait cut short, the silent unit's included; the report holds
    // every unit.
    vm::test::writeFile(script, "status\nwait 5s\nstatus\n");
    const std::string junit = vm::test::temporaryPath("line-stopped.xml");
    const Finished f = ctl({"-H", "127.0.0.2", "-H", "127.0.0.3", "-H", "127.0.0.4", "-p", port,
                            "-t", "300", "run", script, "--junit", junit},
                           {}, endedBy("INT", "1"));
    CAPTURE(f.out);
    CHECK(f.code == 4);
    CHECK(validJunit(junit));
    CHECK(vm::test::readFile(junit).find("<testsuite name=\"127.0.0.4\"") != std::string::npos);
    // A unit's "Bail out!" is a comment in its subtest: it ends that unit, not the stream.
    for (const std::string first : {"ok 1 - status", "not ok 1 - status # no reply within 300 ms"})
        CHECK(f.out.find("    " + first +
                         "\n    not ok 2 - wait 5s # interrupted\n    # Bail out! interrupted; "
                         "step 3 not run\n") != std::string::npos);
    for (const std::string unit : {"1 - 127.0.0.2\n", "2 - 127.0.0.3\n", "3 - 127.0.0.4\n"})
        CHECK(f.out.find("not ok " + unit) != std::string::npos);
    CHECK(prove(f.out).out.find("Failed tests:  1-3") != std::string::npos);
}

TEST_CASE("expect: one condition, exit 0 when it holds and 1 when not") {
    struct Case {
        std::vector<std::string> args;
        int code;
        std::string out; // the line printed
    };
    const Case cases[] = {
        {{"-p", "{fixture}", "expect", "DI1 == 0"}, 0, "holds: DI1 == 0\n"},
        {{"-p", "{fixture}", "expect", "DI1 >= 1", "--within", "50ms"},
         1,
         "fails: DI1 was 0 after"},
        {{"-p", "{fixture}", "expect", "DI0 = 1"}, 2, ""},
        {{"-p", "{fixture}", "expect", "DI0 == 1", "--within", "soon"}, 2, ""},
        {{"-p", "{silent}", "-t", "200", "expect", "DI0 == 1"}, 4, "fails: no reply"},
        {{"-p", "{closed}", "expect", "DI0 == 1"}, 3, "fails: cannot connect"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args{"-H", "127.0.0.1"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const Finished f = ctl(args);
        CAPTURE(c.args);
        CAPTURE(f.err);
        CHECK(f.code == c.code);
        CHECK(f.out.starts_with(c.out));
    }
}
