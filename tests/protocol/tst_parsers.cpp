// The port, interval and host texts of the connect and the repeat timer.
#include "protocol/parsers.h"

#include <doctest/doctest.h>

#include <climits>

using namespace vm;

TEST_CASE("port texts") {
    struct Row {
        const char* text;
        int port;
        PortProblem problem;
    };
    const auto none = PortProblem::None;
    const auto range = PortProblem::OutOfRange;
    const auto nan = PortProblem::NotANumber;
    const Row rows[] = {
        {"4000", 4000, none},
        {"32767", 32767, none},
        {"40.5", 40, none}, // halves to even
        {"41.5", 42, none},
        {"40.51", 41, none},
        {" 80 ", 80, none},
        {"\t80\u3000", 80, none}, // any white space around, as the text field trims it
        {".6", 1, none},
        {"-0.4", 0, none},
        {"32767.5", 0, range}, // rounds to the even 32768
        {"32768", 0, range},
        {"-1", 0, range},
        {"99999999999999999999999", 0, range},
        {"", 0, PortProblem::Empty},
        {" \u00a0 ", 0, PortProblem::Empty},
        {"abc", 0, nan},
        {"40a", 0, nan},
        {"1.2.3", 0, nan},
        {"8\u00a00", 0, nan},
        {"\xff"
         "80",
         0, nan},
    };
    for (const Row& row : rows) {
        CAPTURE(row.text);
        const PortText parsed = parsePort(row.text);
        CHECK(parsed.problem == row.problem);
        CHECK(parsed.port == row.port);
        CHECK(portProblemText(parsed.problem).empty() == parsed.ok());
    }
    CHECK(portProblemText(range) == "Port is out of range (0 to 32767)");
}

TEST_CASE("interval texts in milliseconds") {
    const std::pair<const char*, std::int64_t> rows[] = {
        {"1", 1000},
        {"1.5", 1500},
        {"1.2.3", 1200},
        {"0.05", 50},
        {"", 0},
        {"abc", 0},
        {"  2", 2000},
        {"3s", 3000},
        {"-1", -1000},
        {"0.0005", 0},    // half a millisecond to even, down
        {"0.0015", 2},    // and up
        {"1.0005", 1000}, // exact where a double is not
        {"2147483.647", INT_MAX},
        {"2147483.648", std::int64_t(INT_MAX) + 1},
        {"99999999999999999999999999", kIntervalSaturation},
        {"-99999999999999999999999999", -kIntervalSaturation},
        {"\t2", 0}, // only blanks are skipped
    };
    for (const auto& [text, ms] : rows) {
        CAPTURE(text);
        CHECK(parseIntervalMs(text) == ms);
    }
}

TEST_CASE("host texts refused before any connect") {
    const std::pair<const char*, const char*> rows[] = {
        {"192.168.1.110", nullptr},
        {"module.local", nullptr},
        {"m\u00f6dul.example", nullptr},
        {"", "Host is empty"},
        {"127.0.0 .1", "Host is not valid"},
        {"127.0.0.1\n", "Host is not valid"},
        {"127.0.0.1\u0085", "Host is not valid"},
        {"127.0.0.1\u2028", "Host is not valid"},
    };
    for (const auto& [text, problem] : rows) {
        CAPTURE(text);
        CHECK(hostProblem(text) == (problem ? std::optional<std::string>(problem) : std::nullopt));
    }
}
