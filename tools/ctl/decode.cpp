#include "ctl/decode.h"

#include "ctl/commands.h"
#include "ctl/native.h"
#include "ctl/output.h"
#include "ctl/textinput.h"
#include "protocol/loglines.h"

#include <cstdio>
#include <ctime>
#include <memory>
#include <utility>

namespace vm::ctl {

namespace {

// Texts the log writes that carry no reply bytes.
bool isOtherLogLine(std::string_view line) {
    for (const std::string_view mark : loglines::kOtherLineMarks)
        if (line.find(mark) != std::string_view::npos)
            return true;
    return false;
}

// The longest input line decoded: a RECV line of the largest arrival the window takes (64 KiB)
// is 128 KiB of hexadecimal; longer lines are skipped without being held.
constexpr std::size_t kMaxLine = 1 << 20;
// Unreadable lines said one by one; after these only their count, at the end.
constexpr std::uint64_t kShownBadLines = 10;

struct Decoder {
    Decoder(Format format, bool header, bool quiet)
        : out(format, header)
        , quiet(quiet) {}

    Emitter out;
    bool quiet = false;
    std::optional<DailyFile> daily; // the input is a daily log file
    int code = kExitOk;
    std::uint64_t lineNumber = 0;
    std::uint64_t badLines = 0;
    std::string carry;    // the start of a line whose end has not come yet
    bool tooLong = false; // the line being read is over kMaxLine: its bytes are dropped

    void arrival(std::vector<std::uint8_t> bytes, std::string time) {
        Arrival a;
        a.bytes = std::move(bytes);
        for (Record& r : recordsOf(a, std::nullopt)) {
            r.time = time;
            if (!r.ok())
                code = kExitCheckFailed;
            out.record(r);
        }
    }

    void bad(const std::string& why) {
        code = kExitCheckFailed;
        if (++badLines <= kShownBadLines && !quiet)
            say("line " + std::to_string(lineNumber) + ": " + why + ", skipped");
    }

    void line(std::string_view text) {
        ++lineNumber;
        if (std::exchange(tooLong, false))
            return bad("longer than " + std::to_string(kMaxLine / 1024) + " KiB");
        InputLine in = readInputLine(text);
        if (in.kind == InputLine::Kind::Frame) {
            if (daily && in.msOfDay)
                in.time = isoTime(daily->stamp(*in.msOfDay));
            arrival(std::move(in.bytes), std::move(in.time));
        } else if (in.kind == InputLine::Kind::Unreadable) {
            bad(in.problem);
        }
    }

    // Text as it comes, cut into lines; a line cut by a chunk's end waits for the next chunk.
    void feed(std::string_view data) {
        for (std::size_t end; (end = data.find('\n')) != std::string_view::npos;) {
            if (carry.empty()) {
                line(data.substr(0, end));
            } else {
                hold(data.substr(0, end));
                line(carry);
                carry.clear();
            }
            data.remove_prefix(end + 1);
        }
        hold(data);
    }

    void hold(std::string_view part) {
        if (tooLong || carry.size() + part.size() > kMaxLine) {
            tooLong = true;
            carry.clear();
            carry.shrink_to_fit();
            return;
        }
        carry.append(part);
    }

    void finish() {
        if (!carry.empty() || tooLong)
            line(std::exchange(carry, {}));
        if (badLines > kShownBadLines && !quiet)
            say(std::to_string(badLines - kShownBadLines) + " more lines skipped (" +
                std::to_string(badLines) + " in all): neither RECV lines nor hexadecimal");
    }
};

// "HH:MM:SS.mmm" as milliseconds since midnight, if it is a time of day.
std::optional<std::int64_t> timeOfDay(std::string_view stamp) {
    if (stamp.size() != 12 || stamp[2] != ':' || stamp[5] != ':' || stamp[8] != '.')
        return std::nullopt;
    const auto number = [&stamp](std::size_t at, std::size_t digits) -> int {
        int value = 0;
        for (std::size_t i = at; i < at + digits; ++i) {
            if (stamp[i] < '0' || stamp[i] > '9')
                return -1;
            value = value * 10 + (stamp[i] - '0');
        }
        return value;
    };
    const int h = number(0, 2), m = number(3, 2), sec = number(6, 2), ms = number(9, 3);
    if (h < 0 || h > 23 || m < 0 || m > 59 || sec < 0 || sec > 59 || ms < 0)
        return std::nullopt;
    return ((h * 60 + m) * 60 + sec) * std::int64_t{1000} + ms;
}

std::string_view trimmedLeft(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    return text;
}

} // namespace

std::optional<std::vector<std::uint8_t>> parseHex(std::string_view text) {
    std::vector<std::uint8_t> bytes;
    bytes.reserve(text.size() / 2);
    int high = -1;
    for (const char c : text) {
        if (c == ' ' || c == '\t')
            continue;
        const int v = hexDigitValue(c);
        if (v < 0)
            return std::nullopt;
        if (high < 0) {
            high = v;
        } else {
            bytes.push_back(static_cast<std::uint8_t>(high * 16 + v));
            high = -1;
        }
    }
    if (high >= 0)
        return std::nullopt;
    return bytes;
}

InputLine readInputLine(std::string_view line) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
        line.remove_suffix(1);
    line = trimmedLeft(line);
    InputLine in;
    if (line.empty())
        return in;
    // "[HH:MM:SS.mmm] RECV : 4E31...", the blanks between the parts any number.
    std::string_view rest = line;
    std::string_view stamp; // between the brackets of a stamp
    bool stamped = false;
    if (rest.starts_with('[')) {
        if (const std::size_t close = rest.find(']'); close != std::string_view::npos) {
            stamp = rest.substr(1, close - 1);
            stamped = true;
            rest = trimmedLeft(rest.substr(close + 1));
        }
    }
    bool recv = false;
    if (rest.starts_with("RECV") && trimmedLeft(rest.substr(4)).starts_with(':')) {
        recv = true;
        rest = trimmedLeft(rest.substr(4)).substr(1);
    } else if (const std::size_t at = line.find(loglines::kRecv); at != std::string_view::npos) {
        recv = true; // a RECV line after other text: its bytes, without a time
        stamped = false;
        rest = line.substr(at + std::string_view(loglines::kRecv).size());
    } else if (isOtherLogLine(line)) {
        return in;
    } else {
        stamped = false;
        rest = line;
    }
    if (recv && stamped) {
        in.msOfDay = timeOfDay(stamp);
        if (!in.msOfDay) {
            in.kind = InputLine::Kind::Unreadable;
            in.problem = "[" + std::string(stamp.substr(0, 20)) + "] is not a time of day";
            return in;
        }
        in.time = std::string(stamp) + "Z";
    }
    auto bytes = parseHex(rest);
    if (!bytes || bytes->empty()) {
        in.kind = InputLine::Kind::Unreadable;
        in.problem = "neither a RECV line nor hexadecimal";
        return in;
    }
    in.kind = InputLine::Kind::Frame;
    in.bytes = std::move(*bytes);
    return in;
}

std::optional<std::chrono::year_month_day> dailyFileDate(std::string_view path) {
    const std::size_t slash = path.find_last_of("/\\");
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    if (name.size() != 12 || (name.substr(8) != ".txt" && name.substr(8) != ".TXT"))
        return std::nullopt;
    int digits[8];
    for (std::size_t i = 0; i < 8; ++i) {
        if (name[i] < '0' || name[i] > '9')
            return std::nullopt;
        digits[i] = name[i] - '0';
    }
    const std::chrono::year_month_day date{
        std::chrono::year(digits[0] * 1000 + digits[1] * 100 + digits[2] * 10 + digits[3]),
        std::chrono::month(static_cast<unsigned>(digits[4] * 10 + digits[5])),
        std::chrono::day(static_cast<unsigned>(digits[6] * 10 + digits[7]))};
    if (!date.ok())
        return std::nullopt;
    return date;
}

DailyFile::DailyFile(std::chrono::year_month_day date)
    : date_(date) {
    using namespace std::chrono;
    const auto midnight = [](year_month_day d) -> std::time_t {
        std::tm tm{};
        tm.tm_year = static_cast<int>(d.year()) - 1900;
        tm.tm_mon = static_cast<int>(static_cast<unsigned>(d.month())) - 1;
        tm.tm_mday = static_cast<int>(static_cast<unsigned>(d.day()));
        tm.tm_isdst = -1;
        return std::mktime(&tm);
    };
    const std::time_t start = midnight(date);
    const std::time_t end = midnight(year_month_day{date_ + days(1)});
    if (start != -1 && end != -1)
        day_ = std::pair{start, end};
}

std::chrono::system_clock::time_point DailyFile::stamp(std::int64_t msOfDay) const {
    using namespace std::chrono;
    for (const int shift : {0, -1, 1}) {
        const auto at = sys_time<milliseconds>(date_ + days(shift)) + milliseconds(msOfDay);
        const std::time_t second = floor<seconds>(at).time_since_epoch().count();
        if (day_ && second >= day_->first && second < day_->second)
            return time_point_cast<system_clock::duration>(at);
    }
    // A zone this machine cannot say: the date of the name.
    return time_point_cast<system_clock::duration>(sys_time<milliseconds>(date_) +
                                                   milliseconds(msOfDay));
}

int runDecode(const Invocation& inv) {
    Decoder decoder(inv.format, inv.header, inv.quiet);
    if (!inv.hex.empty()) {
        // Arguments that each hold a frame are one arrival each; arguments of single bytes
        // ("4E 31 30 ...") make one arrival together.
        std::vector<std::vector<std::uint8_t>> arguments;
        bool allLong = true;
        for (const std::string& text : inv.hex) {
            auto bytes = parseHex(text);
            if (!bytes) {
                say("\"" + text + "\" is not hexadecimal (two digits a byte)");
                return kExitUsage;
            }
            allLong = allLong && bytes->size() > 1;
            arguments.push_back(std::move(*bytes));
        }
        if (!allLong) {
            std::vector<std::uint8_t> joined;
            for (const auto& bytes : arguments)
                joined.insert(joined.end(), bytes.begin(), bytes.end());
            arguments = {std::move(joined)};
        }
        for (auto& bytes : arguments)
            decoder.arrival(std::move(bytes), {});
        decoder.out.flush();
        return exitAfterOutput(decoder.code);
    }

    std::FILE* input = binaryStdin();
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(nullptr, &std::fclose);
    if (!inv.inputFile.empty()) {
        file.reset(openFile(inv.inputFile, "rb"));
        if (!file) {
            say("cannot read " + inv.inputFile + ": " + lastReason());
            return kExitUsage;
        }
        input = file.get();
        if (const auto date = dailyFileDate(inv.inputFile))
            decoder.daily.emplace(*date);
    }
    TextDecoder text; // UTF-8 and UTF-16 files with a byte-order mark read as text
    std::vector<char> chunk(1 << 20);
    // Reading stops once the output has failed: the rest would go nowhere.
    for (std::size_t n = 0;
         !decoder.out.failed() && (n = std::fread(chunk.data(), 1, chunk.size(), input)) > 0;)
        decoder.feed(text.feed(std::string_view(chunk.data(), n)));
    decoder.feed(text.finish());
    decoder.finish();
    decoder.out.flush();
    return exitAfterOutput(decoder.code);
}

} // namespace vm::ctl
