// Request frames and their SEND text.
#include "hex.h"
#include "protocol/frames.h"

#include <doctest/doctest.h>

using namespace vm;

TEST_CASE("request frames from the command and its pick-list texts") {
    struct Row {
        const char* name;
        Command command;
        const char* set;
        const char* value;
        const char* reset;
        const char* hex; // "": nothing built
    };
    const Row rows[] = {
        {"R ignores pick lists", Command::Request, "", "", "", "4E 52 45 51 "},
        {"T A 1", Command::DoSetting, "A", "1", "3", "4E 54 41 31 "},
        {"T 2 0", Command::DoSetting, "2", "0", "A", "4E 54 32 30 "},
        {"T ALL is A", Command::DoSetting, "ALL", "1", "", "4E 54 41 31 "},
        {"C 6", Command::CountReset, "", "", "6", "4E 43 36 30 "},
        {"C A", Command::CountReset, "1", "1", "A", "4E 43 41 30 "},
        {"C ALL is A", Command::CountReset, "", "", "ALL", "4E 43 41 30 "},
        {"C first character only", Command::CountReset, "", "", "12", "4E 43 31 30 "},
        {"T e acute is its code", Command::DoSetting, "\u00e9", "1", "", "4E 54 E9 31 "},
        {"T empty channel", Command::DoSetting, "", "1", "1", ""},
        {"T empty value", Command::DoSetting, "1", "", "1", ""},
        {"C empty channel", Command::CountReset, "1", "1", "", ""},
        {"T wide character", Command::DoSetting, "\u3042", "1", "1", ""},
        {"T malformed text", Command::DoSetting, "\xC3", "1", "1", ""},
    };
    for (const Row& row : rows) {
        CAPTURE(row.name);
        const auto built = buildRequestFrame(row.command, row.set, row.value, row.reset);
        REQUIRE(built.has_value() == (*row.hex != 0));
        if (built)
            CHECK(hexText(*built) == row.hex);
    }
}

TEST_CASE("the SEND line is the stamp and the frame's bytes, each followed by a blank") {
    CHECK(sendLine("[09:15:02.047]", test::bytesFromHex("4E435A30")) ==
          "[09:15:02.047] SEND : 4E 43 5A 30 ");
    CHECK(hexText(test::bytesFromHex("00FF0a")) == "00 FF 0A ");
}
