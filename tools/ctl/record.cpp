#include "ctl/record.h"

#include <nlohmann/json.hpp>

#include "protocol/decoder.h"
#include "protocol/hex.h"
#include "protocol/utf8.h"

#include <cstdio>

namespace vm::ctl {

namespace {

void appendLatin1AsUtf8(std::string& out, unsigned char c) {
    utf8::append(out, c);
}

std::string number(double value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.3f", value);
    return buffer;
}

// " " and the number right-aligned in `width` characters.
void appendAligned(std::string& out, std::uint32_t value, std::size_t width) {
    const std::string digits = std::to_string(value);
    out += ' ';
    if (digits.size() < width)
        out.append(width - digits.size(), ' ');
    out += digits;
}

std::string csvField(std::string_view latin1) {
    std::string text;
    bool quote = false;
    for (const char c : latin1) {
        quote = quote || c == ',' || c == '"' || c == '\n' || c == '\r';
        if (c == '"')
            text += '"';
        appendLatin1AsUtf8(text, static_cast<unsigned char>(c));
    }
    return quote ? "\"" + text + "\"" : text;
}

// A DI or DO character as the window shows it: always visible, never a line break.
std::string visible(char c) {
    return vm::statusCharText(static_cast<std::uint8_t>(c));
}

// Keys after `type` in every JSON record, in order; a record leaves out none of them.
constexpr std::string_view kJsonKeys[] = {"time",   "length",   "hex",      "di",
                                          "do",     "counters", "checksum", "gaps",
                                          "rtt_ms", "late",     "error",    "summary"};

std::string numbers(const auto& values) {
    std::string out = "[";
    for (std::size_t i = 0; i < values.size(); ++i)
        out += (i ? "," : "") + std::to_string(values[i]);
    return out + "]";
}

// A JSON record from the values of its keys (JSON text; absent ones are null).
std::string jsonRecord(std::string_view type,
                       const std::vector<std::pair<std::string_view, std::string>>& values) {
    std::string out = "{\"type\":\"" + std::string(type) + "\"";
    for (const std::string_view key : kJsonKeys) {
        std::string value = "null";
        for (const auto& [name, text] : values)
            if (name == key)
                value = text;
        out += ",\"" + std::string(key) + "\":" + value;
    }
    return out + "}\n";
}

std::string json(const Record& r) {
    std::vector<std::pair<std::string_view, std::string>> values{
        {"length", std::to_string(r.bytes.size())}, {"hex", "\"" + hexUpper(r.bytes) + "\""}};
    if (!r.time.empty())
        values.emplace_back("time", "\"" + r.time + "\"");
    if (r.fields) {
        const Fields& f = *r.fields;
        values.emplace_back("di", jsonString(f.inputs));
        values.emplace_back("do", jsonString(f.outputs));
        values.emplace_back("counters", numbers(f.counters));
        if (f.checksum)
            values.emplace_back("checksum", std::to_string(*f.checksum));
        if (f.gaps)
            values.emplace_back("gaps", numbers(*f.gaps));
    }
    if (r.rttMs)
        values.emplace_back("rtt_ms", number(*r.rttMs));
    values.emplace_back("late", std::to_string(r.late));
    if (isError(r))
        values.emplace_back("error", jsonString(recordError(r)));
    return jsonRecord(isError(r) ? "error" : "reply", values);
}

std::string csv(const Record& r) {
    std::string out = r.time + "," + std::to_string(r.bytes.size()) + "," + hexUpper(r.bytes);
    if (r.fields) {
        const Fields& f = *r.fields;
        for (const char c : f.inputs)
            out += "," + csvField(std::string_view(&c, 1));
        for (const char c : f.outputs)
            out += "," + csvField(std::string_view(&c, 1));
        for (const std::uint32_t counter : f.counters)
            out += "," + std::to_string(counter);
        out += "," + (f.checksum ? std::to_string(*f.checksum) : std::string());
        for (std::size_t i = 0; i < kCounters; ++i)
            out += "," + (f.gaps ? std::to_string((*f.gaps)[i]) : std::string());
    } else {
        out += std::string(kInputs + kOutputs + kCounters + 1 + kCounters, ',');
    }
    out += "," + (r.rttMs ? number(*r.rttMs) : std::string());
    out += "," + csvField(recordError(r));
    return out + "," + std::to_string(r.late) + "\n";
}

std::string text(const Record& r) {
    std::string out;
    out.reserve(256);
    out += r.time.empty() ? std::string(24, '-') : r.time;
    appendAligned(out, static_cast<std::uint32_t>(r.bytes.size()), 3);
    out += " B";
    if (!r.fields) {
        out += "  " + recordError(r);
        if (!r.bytes.empty())
            out += ": " + hexUpper(r.bytes);
    } else {
        const Fields& f = *r.fields;
        out += "  DI ";
        for (const char c : f.inputs)
            out += visible(c);
        out += "  DO ";
        for (const char c : f.outputs)
            out += visible(c);
        out += "  counters";
        for (const std::uint32_t counter : f.counters) {
            appendAligned(out, counter, 10);
        }
        if (f.checksum)
            out += "  checksum " + hexUpper({*f.checksum});
        if (f.gaps) {
            out += "  gaps";
            for (const std::uint32_t gap : *f.gaps) {
                appendAligned(out, gap, 10);
            }
        }
    }
    if (r.fields && !r.error.empty())
        out += "  error: " + r.error;
    if (r.rttMs)
        out += "  rtt " + number(*r.rttMs) + " ms";
    if (r.late > 0)
        out += "  (" + counted(r.late, "late reply", "late replies") + " dropped)";
    return out + "\n";
}

std::string lengthFault(std::size_t length) {
    return "not a status frame: " + counted(length, "byte") + " (33, 34 or 57 expected)";
}

} // namespace

Record unreachedRecord(const std::string& why) {
    Record r;
    r.time = isoTime(std::chrono::system_clock::now());
    r.at = std::chrono::steady_clock::now().time_since_epoch();
    r.error = "cannot connect: " + why;
    return r;
}

bool isError(const Record& record) {
    return !record.fields || !record.error.empty();
}

std::string recordError(const Record& record) {
    if (!record.error.empty())
        return record.error;
    if (record.fields)
        return {};
    return lengthFault(record.bytes.size());
}

std::string frameFault(const std::vector<std::uint8_t>& bytes) {
    if (!vm::isStatusFrameLength(bytes.size()))
        return lengthFault(bytes.size());
    if (bytes[0] != vm::kStatusFrameMark)
        return "not a status frame: first byte " + hexUpper({bytes[0]}) + ", not 4E (N)";
    if (bytes.size() == 34) {
        const std::uint8_t sum = vm::statusCheckSum(bytes);
        if (bytes[33] != sum)
            return "checksum " + hexUpper({bytes[33]}) + " is wrong: bytes 0 to 32 sum to " +
                   hexUpper({sum});
    }
    return {};
}

std::string counted(std::uint64_t count, std::string_view singular, std::string_view plural) {
    if (count == 1)
        return "1 " + std::string(singular);
    return std::to_string(count) + " " +
           (plural.empty() ? std::string(singular) + "s" : std::string(plural));
}

std::string jsonSummaryRecord(std::string_view time, std::string_view summary) {
    return jsonRecord(
        "summary", {{"time", "\"" + std::string(time) + "\""}, {"summary", std::string(summary)}});
}

std::string formatRecord(const Record& record, Format format, std::string_view unit) {
    if (unit.empty()) {
        switch (format) {
        case Format::Json:
            return json(record);
        case Format::Csv:
            return csv(record);
        case Format::Text:
            break;
        }
        return text(record);
    }
    // The name is UTF-8 as the units file or the command line gave it.
    const std::string name(unit);
    switch (format) {
    case Format::Json:
        return "{\"unit\":" +
               nlohmann::json(name).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) +
               "," + json(record).substr(1);
    case Format::Csv: {
        const bool quote = name.find_first_of(",\"\r\n") != std::string::npos;
        std::string field = name;
        for (std::size_t at = 0; (at = field.find('"', at)) != std::string::npos; at += 2)
            field.insert(at, 1, '"');
        return (quote ? "\"" + field + "\"" : field) + "," + csv(record);
    }
    case Format::Text:
        break;
    }
    return name + "  " + text(record);
}

std::string csvHeader(bool unitColumn) {
    std::string header = unitColumn ? "unit,time,length,hex" : "time,length,hex";
    for (int i = 0; i < kInputs; ++i)
        header += ",di" + std::to_string(i);
    header += ",do0,do1";
    for (int i = 0; i < kCounters; ++i)
        header += ",counter" + std::to_string(i);
    header += ",checksum";
    for (int i = 0; i < kCounters; ++i)
        header += ",gap" + std::to_string(i);
    return header + ",rtt_ms,error,late\n";
}

std::string isoTime(std::chrono::system_clock::time_point time) {
    using namespace std::chrono;
    const auto ms = floor<milliseconds>(time);
    const auto day = floor<days>(ms);
    const year_month_day date{day};
    const hh_mm_ss clock{ms - day};
    char buffer[40];
    std::snprintf(
        buffer, sizeof buffer, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(date.year()),
        static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
        static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
        static_cast<int>(clock.seconds().count()), static_cast<int>(clock.subseconds().count()));
    return buffer;
}

std::string hexUpper(const std::vector<std::uint8_t>& bytes) {
    return hex::upper(bytes);
}

int hexDigitValue(char c) {
    return hex::digitValue(c);
}

std::string jsonString(std::string_view latin1) {
    std::string out = "\"";
    for (const char ch : latin1) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c < 0x20 || c == 0x7F) {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\u%04X", c);
            out += buffer;
        } else {
            appendLatin1AsUtf8(out, c);
        }
    }
    return out + "\"";
}

} // namespace vm::ctl
