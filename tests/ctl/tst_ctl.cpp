// The command line's parts without a network: the check-script grammar, the window's
// settings file, decode's input lines, the record formats, the VCD file (read back by
// GTKWave's converter), the JUnit report and the watch's arithmetic.

#define DOCTEST_CONFIG_IMPLEMENT_WITH_MAIN
#include <doctest/doctest.h>

#include "ctl/decode.h"
#include "ctl/record.h"
#include "ctl/report.h"
#include "ctl/script.h"
#include "ctl/settings.h"
#include "ctl/textinput.h"
#include "ctl/vcd.h"
#include "ctl/watch.h"
#include "process.h"

#include <nlohmann/json.hpp>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <variant>

using namespace vm::ctl;

namespace {

// A step as one line of text, so that a table can say what each line parses to.
std::string describe(const std::variant<Step, Blank, std::string>& parsed) {
    if (std::holds_alternative<Blank>(parsed))
        return "blank";
    if (const auto* error = std::get_if<std::string>(&parsed))
        return "error: " + *error;
    const Step& s = std::get<Step>(parsed);
    const auto ms = std::to_string(s.duration.count()) + "us";
    switch (s.kind) {
    case Step::Kind::Status:
        return "status";
    case Step::Kind::Set:
        return std::string("set ") + s.channel + " " + s.value;
    case Step::Kind::Reset:
        return std::string("reset ") + s.channel;
    case Step::Kind::Wait:
        return "wait " + ms;
    case Step::Kind::Expect:
        break;
    }
    return "expect " + s.field.name() + " " + std::string(compareText(s.op)) + " " +
           std::to_string(s.expected) + (s.within ? " within " + ms : "");
}

Record sampleRecord(std::size_t length) {
    Record r;
    r.time = "2026-12-07T09:15:02.047Z";
    r.bytes.assign(length, 0x30);
    r.bytes[0] = 'N';
    r.rttMs = 0.25;
    if (length == 33 || length == 34 || length == 57) {
        Fields f;
        f.inputs = "10x101";
        f.outputs = "0\"";
        f.counters = {1, 256, 305419896, 0, 4294967295u, 65536};
        if (length == 34)
            f.checksum = 0x0A;
        if (length == 57)
            f.gaps = std::array<std::uint32_t, 6>{1500, 0, 0, 0, 0, 16777216};
        r.fields = f;
    }
    return r;
}

} // namespace

TEST_CASE("check-script lines parse to steps or say what is wrong") {
    const std::vector<std::pair<std::string, std::string>> table{
        {"", "blank"},
        {"   # only a comment", "blank"},
        {"status", "status"},
        {"  status   # trailing comment", "status"},
        {"set 1 1", "set 1 1"},
        {"set A 0", "set A 0"},
        {"set 3 1", "error: expected \"set CH V\" with CH 1, 2 or A and V 0 or 1"},
        {"set 1 2", "error: expected \"set CH V\" with CH 1, 2 or A and V 0 or 1"},
        {"set 1", "error: expected \"set CH V\" with CH 1, 2 or A and V 0 or 1"},
        {"reset 6", "reset 6"},
        {"reset 7", "error: expected \"reset CH\" with CH 1 to 6 or A"},
        {"wait 200ms", "wait 200000us"},
        {"wait 1.5s", "wait 1500000us"},
        {"wait 0.5ms", "wait 500us"},
        {"wait 200", "error: expected \"wait DURATION\", a duration such as 200ms or 1.5s"},
        {"wait -1s", "error: expected \"wait DURATION\", a duration such as 200ms or 1.5s"},
        {"wait 100000s", "error: expected \"wait DURATION\", a duration such as 200ms or 1.5s"},
        {"expect DI0 == 1 within 50ms", "expect DI0 == 1 within 50000us"},
        {"expect counter5 >= 0x10", "expect counter5 >= 16"},
        {"expect DO1 != 0", "expect DO1 != 0"},
        {"expect gap2 < 1000", "expect gap2 < 1000"},
        {"expect checksum <= 255", "expect checksum <= 255"},
        {"expect length > 33", "expect length > 33"},
        {"expect DI6 == 1", "error: unknown field \"DI6\" (DI0..DI5, DO0, DO1, counter0..counter5, "
                            "gap0..gap5, checksum, length)"},
        {"expect DO2 == 1", "error: unknown field \"DO2\" (DI0..DI5, DO0, DO1, counter0..counter5, "
                            "gap0..gap5, checksum, length)"},
        {"expect DI0 = 1", "error: unknown comparison \"=\" (== != < <= > >=)"},
        {"expect DI0 == -1", "error: \"-1\" is not a whole number of 0 or more"},
        {"expect DI0 == 1 within", "error: expected \"expect FIELD OP VALUE [within DURATION]\""},
        {"expect DI0 == 1 during 5ms",
         "error: expected \"within DURATION\" after the value, a duration such as 50ms"},
        {"Status", "error: unknown step \"Status\" (status, set, reset, wait, expect)"},
    };
    for (const auto& [line, expected] : table) {
        CAPTURE(line);
        CHECK(describe(parseStepLine(line)) == expected);
    }
}

TEST_CASE("a script names the file and line of its first fault, or keeps each step's line") {
    const auto bad = parseScript("reset A\n\nset 1 1\nexpect DI0 == 1 within 50 ms\n", "fix.chk");
    REQUIRE(std::holds_alternative<ScriptError>(bad));
    CHECK(std::get<ScriptError>(bad).messages.at(0).starts_with("fix.chk:4: "));

    const auto good =
        parseScript("# fixture\r\nreset A\r\n\r\nwait 1s # settle\r\nstatus", "fix.chk");
    REQUIRE(std::holds_alternative<Script>(good));
    const auto& steps = std::get<Script>(good).steps;
    REQUIRE(steps.size() == 3);
    CHECK(steps[0].line == 2);
    CHECK(steps[1].text == "wait 1s");
    CHECK(steps[2].line == 5);
}

TEST_CASE("the window's settings file reads as the window reads it") {
    struct Row {
        std::string file;
        std::optional<std::string> address, port, interval;
    };
    const std::vector<Row> table{
        {"[vm3870sim]\nADDRESS=127.0.0.1\nPORT=4000\nINTERVAL=0.5\n", "127.0.0.1", "4000", "0.5"},
        {"[General]\nADDRESS=elsewhere\n[vm3870sim]\nPORT=4001\n", std::nullopt, "4001",
         std::nullopt},
        {"[vm3870sim]\r\nADDRESS=\r\n", "", std::nullopt, std::nullopt},
        {"[vm3870sim]\nADDRESS=\" 127.0.0.1 \"\n", " 127.0.0.1 ", std::nullopt, std::nullopt},
        {"[vm3870sim]\nADDRESS=\"a;b=c\"\n", "a;b=c", std::nullopt, std::nullopt},
        {"[vm3870sim]\nADDRESS=say \\\"hi\\\"\\\\ \\t\\x41\\x263a\n",
         "say \"hi\"\\ \tA\xE2\x98\xBA", std::nullopt, std::nullopt},
        {"[vm3870sim]\nADDRESS=@@home\n", "@home", std::nullopt, std::nullopt},
        {"[vm3870sim]\nINTERVAL=1, 2\n", std::nullopt, std::nullopt, "1, 2"},
        {"[vm3870sim]\nPORT=40\\\n00\n", std::nullopt, "4000", std::nullopt},
    };
    for (const Row& row : table) {
        CAPTURE(row.file);
        const WindowSettings s = parseWindowSettings(row.file);
        CHECK(s.address == row.address);
        CHECK(s.port == row.port);
        CHECK(s.interval == row.interval);
    }
}

TEST_CASE("decode reads RECV lines, daily-file entries and hex lines, and skips other log lines") {
    struct Row {
        std::string line;
        InputLine::Kind kind;
        std::size_t bytes;
        std::string time;
    };
    const std::string frame =
        "4E313030313030303101000000000100007856341200000000FFFFFFFF000001000A";
    const std::vector<Row> table{
        {"[09:15:02.047] RECV : " + frame + "\r", InputLine::Kind::Frame, 34, "09:15:02.047Z"},
        {"4E 31 30 30\t31", InputLine::Kind::Frame, 5, ""},
        {"\r", InputLine::Kind::NoFrame, 0, ""},
        {"[09:15:02.047] SEND : 4E 52 45 51 ", InputLine::Kind::NoFrame, 0, ""},
        {"Different responce data length : 20 Bytes", InputLine::Kind::NoFrame, 0, ""},
        {"[09:15:02.047] Log File Error!! /opt/Log/20240301.txt : Not a directory",
         InputLine::Kind::NoFrame, 0, ""},
        {"4E3", InputLine::Kind::Unreadable, 0, ""},
        {"hello", InputLine::Kind::Unreadable, 0, ""},
    };
    for (const Row& row : table) {
        CAPTURE(row.line);
        const InputLine in = readInputLine(row.line);
        CHECK(in.kind == row.kind);
        CHECK(in.bytes.size() == row.bytes);
        CHECK(in.time == row.time);
    }
}

TEST_CASE("records in json, csv and text carry every field, and only the frame's own") {
    for (const std::size_t length : {33u, 34u, 57u, 20u}) {
        CAPTURE(length);
        const Record r = sampleRecord(length);
        const auto j = nlohmann::json::parse(formatRecord(r, Format::Json));
        CHECK(j["length"] == length);
        CHECK(j["hex"].get<std::string>().size() == 2 * length);
        CHECK(j["rtt_ms"] == 0.25);
        const std::string csvRow = formatRecord(r, Format::Csv);
        // Every row has as many fields as the header, quoted commas aside.
        std::size_t commas = 0;
        bool quoted = false;
        for (const char c : csvRow) {
            quoted = c == '"' ? !quoted : quoted;
            commas += !quoted && c == ',';
        }
        const std::string header = csvHeader();
        CHECK(commas == static_cast<std::size_t>(std::count(header.begin(), header.end(), ',')));
        // Every record has the same keys, null where not known.
        CHECK(j.size() == 13);
        CHECK(j["type"] == (length == 20 ? "error" : "reply"));
        CHECK(j["summary"].is_null());
        if (length == 20) {
            CHECK(j["error"] == "not a status frame: 20 bytes (33, 34 or 57 expected)");
            CHECK(j["di"].is_null());
            CHECK(formatRecord(r, Format::Text).find("not a status frame") != std::string::npos);
            continue;
        }
        CHECK(j["di"] == "10x101");
        CHECK(j["do"] == "0\"");
        CHECK(j["counters"] == nlohmann::json({1, 256, 305419896, 0, 4294967295u, 65536}));
        CHECK(j["checksum"] == (length == 34 ? nlohmann::json(10) : nlohmann::json(nullptr)));
        CHECK(j["gaps"].is_null() == (length != 57));
        CHECK(csvRow.find(",\"\"\"\",") != std::string::npos); // DO1 is a quote character
    }
    CHECK(jsonString(std::string("\x00\xFF", 2)) == "\"\\u0000\xC3\xBF\"");
}

TEST_CASE("a VCD of the records is read by GTKWave's converter") {
    const std::string path = vm::test::temporaryPath("trace.vcd");
    {
        Sink file(path);
        VcdWriter vcd(file, "2026-12-07T09:15:02.047Z");
        Record r = sampleRecord(57);
        for (int i = 0; i < 4; ++i) {
            r.at = std::chrono::milliseconds(10 * i);
            r.fields->inputs[0] = i % 2 ? '1' : '0';
            r.fields->counters[0] = static_cast<std::uint32_t>(i / 2);
            vcd.write(r);
            vcd.write(sampleRecord(20)); // changes nothing
        }
        vcd.finish(std::chrono::milliseconds(45));
        CHECK(file.close());
    }
    const std::string text = vm::test::readFile(path);
    CHECK(text.find("$timescale 1us $end") != std::string::npos);
    CHECK(text.find("#10000\n1!\n") != std::string::npos);
    CHECK(text.find("#20000\n0!\nb1 )\n") != std::string::npos);
    CHECK(text.find("x#") != std::string::npos); // DI2 is neither 0 nor 1
    CHECK(text.ends_with("#45000\n"));
#ifndef _WIN32 // the converter is a Linux program
    const auto converted =
        vm::test::runProgram({"/usr/bin/vcd2fst", path, path + ".fst"}, {}, {}, 20000);
    CHECK(converted.code == 0);
    CHECK(vm::test::readFile(path + ".fst").size() > 0);
#endif
}

TEST_CASE("JUnit XML has one testcase per step and a failure for each that failed") {
    const std::vector<StepResult> results{
        {1, "set 1 1", true, "", 0.002},
        {2, "expect DI0 == 1 within 50ms", false, "DI0 was 0 after 50 ms", 0.05}};
    const std::string xml = junitXml({"a<b>.chk", "2026-12-07T09:15:02", "", {}, results, {}, ""});
    CHECK(xml.find("tests=\"2\" failures=\"1\"") != std::string::npos);
    CHECK(xml.find("name=\"a&lt;b&gt;.chk\"") != std::string::npos);
    CHECK(xml.find("<failure message=\"DI0 was 0 after 50 ms\" type=\"check\">") !=
          std::string::npos);
    CHECK(tapLine(results[1]) ==
          "not ok 2 - expect DI0 == 1 within 50ms # DI0 was 0 after 50 ms\n");
}

TEST_CASE("watch skips the slots more than half an interval gone, and summarises round trips") {
    CHECK(missedSlots(0, 1000) == 0);
    CHECK(missedSlots(500, 1000) == 0);
    CHECK(missedSlots(501, 1000) == 1);
    CHECK(missedSlots(1500, 1000) == 1);
    CHECK(missedSlots(1501, 1000) == 2);
    CHECK(missedSlots(5000, 0) == 0);
    const auto rtt =
        rttFigures({5, 1, 4, 2, 3, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20});
    REQUIRE(rtt);
    CHECK(rtt->min == 1);
    CHECK(rtt->median == 10);
    CHECK(rtt->p95 == 19);
    CHECK(rtt->max == 20);
    CHECK_FALSE(rttFigures({}));
}

TEST_CASE("text with a byte-order mark reads as UTF-8, whatever the chunks it comes in") {
    using namespace std::string_literals; // the texts hold NUL bytes
    const std::vector<std::pair<std::string, std::string>> table{
        {"\xEF\xBB\xBFset 1 1"s, "set 1 1"s},
        {"\xFF\xFEs\0\xFC\0=\xD8\x00\xDE\r\0"s, "s\xC3\xBC\xF0\x9F\x98\x80\r"s}, // LE, a pair
        {"\xFE\xFF\0s\xD5\x5C"s, "s\xED\x95\x9C"s},                              // BE, Korean
        {"\xFF\xFE\x00\xDCs"s, "\xEF\xBF\xBD\xEF\xBF\xBD"s}, // a lone low half, an odd byte
        {"\xEF\xBBx"s, "\xEF\xBBx"s},                        // no mark: as it came
        {"\xFF"s, "\xFF"s},
    };
    for (const auto& [bytes, text] : table) {
        CAPTURE(bytes);
        CHECK(textAsUtf8(bytes) == text);
        TextDecoder oneByOne;
        std::string got;
        for (const char c : bytes)
            got += oneByOne.feed(std::string_view(&c, 1));
        CHECK(got + oneByOne.finish() == text);
    }
}

TEST_CASE("a daily file's stamps fall on the UTC date its local date gives") {
    using namespace std::chrono;
    const year_month_day named{year(2026), month(12), day(7)};
    const auto at = [&](const char* zone, std::int64_t hour) {
#ifdef _WIN32
        _putenv_s("TZ", zone);
        _tzset();
#else
        setenv("TZ", zone, 1);
        tzset();
#endif
        return isoTime(DailyFile(named).stamp(hour * 3600000 + 5));
    };
    CHECK(at("UTC0", 23) == "2026-12-07T23:00:00.005Z");
    CHECK(at("KST-9", 20) == "2026-12-06T20:00:00.005Z"); // 05:00 local on the 7th
    CHECK(at("KST-9", 9) == "2026-12-07T09:00:00.005Z");
    CHECK(at("EST5", 2) == "2026-12-08T02:00:00.005Z"); // 21:00 local on the 7th
    CHECK(dailyFileDate("Log\\20240229.txt") == year_month_day{year(2024), month(2), day(29)});
    CHECK_FALSE(dailyFileDate("Log/20230229.txt"));
    CHECK_FALSE(dailyFileDate("x20261207.txt"));
}
