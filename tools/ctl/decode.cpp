#include "ctl/decode.h"

#include "ctl/commands.h"
#include "ctl/output.h"
#include "protocol/loglines.h"

#include <cstdio>
#include <memory>

namespace vm::ctl {

namespace {

// Texts the log writes that carry no reply bytes.
bool isOtherLogLine(std::string_view line) {
    for (const std::string_view mark : loglines::kOtherLineMarks)
        if (line.find(mark) != std::string_view::npos)
            return true;
    return false;
}

struct Decoder {
    Emitter out;
    int code = kExitOk;
    std::uint64_t lineNumber = 0;
    bool quiet = false;

    void arrival(std::vector<std::uint8_t> bytes, std::string time) {
        Arrival a;
        a.bytes = std::move(bytes);
        for (Record& r : recordsOf(a, std::nullopt)) {
            r.time = time;
            if (!r.fields)
                code = kExitCheckFailed;
            out.record(r);
        }
    }

    void line(std::string_view text) {
        ++lineNumber;
        InputLine in = readInputLine(text);
        if (in.kind == InputLine::Kind::Frame) {
            arrival(std::move(in.bytes), std::move(in.time));
        } else if (in.kind == InputLine::Kind::Unreadable) {
            code = kExitCheckFailed;
            if (!quiet)
                say("line " + std::to_string(lineNumber) +
                    ": neither a RECV line nor hexadecimal, skipped");
        }
    }
};

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
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
        line.remove_prefix(1);
    InputLine in;
    if (line.empty())
        return in;
    constexpr std::string_view kRecv = loglines::kRecv;
    if (const std::size_t at = line.find(kRecv); at != std::string_view::npos) {
        // "[HH:MM:SS.mmm] RECV : 4E31..."
        if (at == 14 && line.front() == '[' && line[13] == ']')
            in.time = std::string(line.substr(1, 12)) + "Z";
        line.remove_prefix(at + kRecv.size());
    } else if (isOtherLogLine(line)) {
        return in;
    }
    auto bytes = parseHex(line);
    if (!bytes || bytes->empty()) {
        in.kind = InputLine::Kind::Unreadable;
        return in;
    }
    in.kind = InputLine::Kind::Frame;
    in.bytes = std::move(*bytes);
    return in;
}

int runDecode(const Invocation& inv) {
    Decoder decoder{Emitter(inv.format), kExitOk, 0, inv.quiet};
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
        return decoder.code;
    }

    std::FILE* input = stdin;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(nullptr, &std::fclose);
    if (!inv.inputFile.empty()) {
        file.reset(std::fopen(inv.inputFile.c_str(), "rb"));
        if (!file) {
            say("cannot read " + inv.inputFile);
            return kExitUsage;
        }
        input = file.get();
    }
    // Whole chunks are read and cut into lines here; a line cut by a chunk's end waits for
    // the next chunk.
    std::vector<char> chunk(1 << 20);
    std::string carry;
    std::size_t n = 0;
    while ((n = std::fread(chunk.data(), 1, chunk.size(), input)) > 0) {
        std::string_view data(chunk.data(), n);
        if (!carry.empty()) {
            const std::size_t end = data.find('\n');
            if (end == std::string_view::npos) {
                carry.append(data);
                continue;
            }
            carry.append(data.substr(0, end));
            decoder.line(carry);
            carry.clear();
            data.remove_prefix(end + 1);
        }
        std::size_t end = 0;
        while ((end = data.find('\n')) != std::string_view::npos) {
            decoder.line(data.substr(0, end));
            data.remove_prefix(end + 1);
        }
        carry.assign(data);
    }
    if (!carry.empty())
        decoder.line(carry);
    return decoder.code;
}

} // namespace vm::ctl
