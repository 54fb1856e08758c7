// vm3870ctl as a user runs it: the real program against the real emulator on loopback, one
// table per command family (arguments -> stdout, stderr, exit code).

#define DOCTEST_CONFIG_IMPLEMENT_WITH_MAIN
#include <doctest/doctest.h>

#include "process.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdlib>
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

// Puts the window's settings where the program under test reads them, replacing what was
// there: the settings file, or for a Windows build under Wine the registry, written with
// Wine's own `reg`.
void windowSettings(const std::vector<std::pair<std::string, std::string>>& values) {
    const std::vector<std::string> command = program();
    const std::string runner = command.front().substr(command.front().rfind('/') + 1);
    if (runner != "wine" && runner != "wine64") {
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
    REQUIRE(shown.out.starts_with("host 127.0.0.1\n"));
}

struct Row {
    std::vector<std::string> args;
    int code;
    std::string out; // text stdout must hold ("" : stdout must be empty; "*": anything)
    std::string err; // text stderr must hold ("" : stderr must be empty; "*": anything)
};

void check(const Row& row, const std::string& input = {}) {
    std::string shown;
    for (const auto& a : row.args)
        shown += a + " ";
    CAPTURE(shown);
    const Finished f = ctl(row.args, input);
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
        {{"--version"}, 0, "vm3870ctl 2.0.0", ""},
        {{"--help"}, 0, "4  connection lost, or no reply within the timeout", ""},
        {{"watch", "--help"}, 0, "vm3870ctl run fixture.chk --junit report.xml", ""},
    };
    for (const Row& row : table)
        check(row);
    // The merged write holds two frames: both are records.
    const Finished merged = ctl(at("{merge}", {"status", "-f", "json"}));
    CHECK(jsonLines(merged.out).size() == 2);
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
    check({{"status"}, 2, "", "PORT \"40x\" in "});
    check({{"-H", "127.0.0.1", "-p", port, "status"}, 0, "DO ", ""});
    windowSettings({});
}

TEST_CASE("watch keeps its rhythm, writes every reply and sums up") {
    const std::vector<Row> table{
        {at("{fixture}", {"watch", "-i", "0.01", "-n", "3", "-q"}), 0, "34 B  DI 0", ""},
        {at("{fixture}", {"watch", "-i", "0.01", "-n", "3"}), 0, "  DO ",
         "3 requests, 3 replies (0 wrong length), 0 timeouts, 0 skipped slots, 0 reconnects"},
        {at("{garbage}", {"watch", "-i", "0.01", "-n", "2"}), 1, "not a status frame",
         "2 replies (2 wrong length)"},
        {at("{silent}", {"watch", "-i", "0.01", "-n", "2", "-t", "50", "-d", "0.2"}), 2, "",
         "watch takes -n or -d, not both"},
        {at("{silent}", {"watch", "-i", "0.01", "-t", "50", "-d", "0.2"}), 4, "",
         "0 replies (0 wrong length), 4 timeouts"},
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
    CHECK(f.code == 0);
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
        "4E313030313030303101000000000100007856341200000000FFFFFFFF000001000A";
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
           "1 probes, 0 replies, 0 without an answer, 1 not sent"});
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
         "1 probes, 1 replies, 0 without an answer, 0 not sent"},
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

    // A host that does not answer: loopback of a namespace that ignores echo requests. A
    // Windows build sends through the Wine server, which lives outside the namespace.
    if (geteuid() != 0 || std::getenv("VM3870CTL")) {
        MESSAGE("no-answer row skipped: needs root and the native build");
        return;
    }
    const std::string ns = "vm_ctl_ping_" + std::to_string(getpid());
    REQUIRE(vm::test::runProgram({"ip", "netns", "add", ns}).code == 0);
    vm::test::runProgram({"ip", "-n", ns, "link", "set", "lo", "up"});
    vm::test::runProgram(
        {"ip", "netns", "exec", ns, "sysctl", "-q", "net.ipv4.icmp_echo_ignore_all=1"});
    const Finished silent =
        ctl({"-H", "127.0.0.1", "ping", "-n", "1"}, {}, {"ip", "netns", "exec", ns});
    vm::test::runProgram({"ip", "netns", "del", ns});
    CHECK(silent.code == 4);
    CHECK(silent.out == "No answer from 127.0.0.1\n");
}
