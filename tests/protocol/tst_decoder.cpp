// The status decoder: field values and texts, the RECV, file and wrong-length lines.
#include "hex.h"
#include "protocol/decoder.h"

#include <doctest/doctest.h>

#include <vector>

using namespace vm;
using test::bytesFromHex;

namespace {

// 34-byte frame of the worked example: counters 1, 256, 305419896, 0, 4294967295, 65536, checksum
// 0A.
const char* const kExample34 = "4E31303031303030310100000000010000785634120000000"
                               "0FFFFFFFF000001000A";

template <typename T, std::size_t N> std::vector<T> listOf(const std::array<T, N>& values) {
    return std::vector<T>(values.begin(), values.end());
}

using Texts = std::vector<std::string>;

Bytes first(const Bytes& bytes, std::size_t count) {
    return Bytes(bytes.begin(), bytes.begin() + std::ptrdiff_t(count));
}

} // namespace

TEST_CASE("ZeroPad2 pads one character and refuses other lengths") {
    CHECK(basPing::ZeroPad2("5") == "05");
    CHECK(basPing::ZeroPad2("4E") == "4E");
    CHECK(basPing::ZeroPad2("") == "");
    CHECK(basPing::ZeroPad2("100") == "");
}

TEST_CASE("DWordFromBytes takes the most significant byte first") {
    CHECK(basPing::DWordFromBytes(0x12, 0x34, 0x56, 0x78) == 305419896.0);
    CHECK(basPing::DWordFromBytes(0xFF, 0xFF, 0xFF, 0xFF) == 4294967295.0);
}

TEST_CASE("a DI or DO byte is always one visible character") {
    const std::pair<int, const char*> rows[] = {
        {0x31, "1"},      {0x00, "\u2400"}, {0x0A, "\u240A"}, {0x20, "\u2420"},
        {0x7F, "\u2421"}, {0x80, "\u20AC"}, {0x81, "\uFFFD"}, {0xA0, "\u237D"},
        {0xAD, "\u2010"}, {0xE9, "\u00E9"}, {0x9F, "\u0178"}, {0xFF, "\u00FF"},
    };
    for (const auto& [byte, shown] : rows) {
        CAPTURE(byte);
        CHECK(statusCharText(std::uint8_t(byte)) == shown);
    }
}

TEST_CASE("the checksum box shows the byte unpadded, the RECV line padded") {
    struct Row {
        int byte;
        const char* shown;
        const char* inLine;
    };
    for (const Row& row : {Row{0x00, "0", "00"}, Row{0x0A, "A", "0A"}, Row{0xFF, "FF", "FF"}}) {
        CAPTURE(row.byte);
        Bytes frame = bytesFromHex(kExample34);
        frame[33] = std::uint8_t(row.byte);
        const auto texts = statusTexts(frame);
        REQUIRE((texts && texts->checkSum));
        CHECK(*texts->checkSum == row.shown);
        CHECK(recvLine("[00:00:00.000]", frame).ends_with(row.inLine));
    }
}

TEST_CASE("only 33, 34 and 57 bytes are status frames") {
    for (const std::size_t n : {0, 1, 2, 17, 32, 35, 40, 56, 58, 66, 33, 34, 57}) {
        CAPTURE(n);
        const bool accepted = n == 33 || n == 34 || n == 57;
        CHECK(isStatusFrameLength(n) == accepted);
        CHECK(statusTexts(Bytes(n, '1')).has_value() == accepted);
        CHECK(decodeStatusFrame(Bytes(n, '1')).has_value() == accepted);
        CHECK(wrongLengthLine(n) ==
              "Different responce data length : " + std::to_string(n) + " Bytes");
    }
}

TEST_CASE("worked example: a 34-byte frame") {
    const Bytes frame = bytesFromHex(kExample34);
    REQUIRE(frame.size() == 34);
    const auto texts = statusTexts(frame);
    REQUIRE(texts);
    CHECK(listOf(texts->inputs) == Texts{"1", "0", "0", "1", "0", "0"});
    CHECK(listOf(texts->outputs) == Texts{"0", "1"});
    CHECK(listOf(texts->counters) == Texts{"1", "256", "305419896", "0", "4294967295", "65536"});
    CHECK(texts->checkSum.value_or("none") == "A");
    CHECK(!texts->gapTimes);

    const std::string line = recvLine("[09:15:02.047]", frame);
    CHECK(line == "[09:15:02.047] RECV : "
                  "4E313030313030303101000000000100007856341200000000FFFFFFFF000001000A");
    CHECK(recvFileText(line) == "\r\n" + line + "\r\n");
}

TEST_CASE("worked example: a 57-byte frame's gap times") {
    Bytes frame = first(bytesFromHex(kExample34), 33);
    for (const Bytes& tail : {bytesFromHex("DC050000"), Bytes(16, 0), bytesFromHex("00000001")})
        frame.insert(frame.end(), tail.begin(), tail.end());
    REQUIRE(frame.size() == 57);
    const auto texts = statusTexts(frame);
    REQUIRE((texts && texts->gapTimes));
    CHECK(!texts->checkSum);
    CHECK(listOf(*texts->gapTimes) == Texts{"1500", "0", "0", "0", "0", "16777216"});
    CHECK(recvLine("[00:00:00.000]", frame).size() == 14 + 8 + 2 * 57);
}

TEST_CASE("a 33-byte frame has neither checksum nor gap times") {
    const Bytes frame = first(bytesFromHex(kExample34), 33);
    const auto texts = statusTexts(frame);
    REQUIRE(texts);
    CHECK(!texts->checkSum);
    CHECK(!texts->gapTimes);
    CHECK(texts->counters[5] == "65536");
    CHECK(recvLine("[00:00:00.000]", frame).size() - 22 == 66);
}

TEST_CASE("the decoded numbers of the worked example, for callers that format their own") {
    const auto fields = decodeStatusFrame(bytesFromHex(kExample34));
    REQUIRE(fields);
    CHECK(listOf(fields->inputs) == std::vector<std::uint8_t>{'1', '0', '0', '1', '0', '0'});
    CHECK(listOf(fields->outputs) == std::vector<std::uint8_t>{'0', '1'});
    CHECK(listOf(fields->counters) ==
          std::vector<std::uint32_t>{1, 256, 305419896, 0, 4294967295u, 65536});
    CHECK(fields->checkSum == std::optional<std::uint8_t>(0x0A));
    CHECK(!fields->gapTimes);
}
