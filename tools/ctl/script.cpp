#include "ctl/script.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>

namespace vm::ctl {

namespace {

// The longest wait or `within` a script may ask for: one day.
constexpr double kMaxSeconds = 86400.0;

std::string_view trim(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

std::vector<std::string_view> words(std::string_view text) {
    std::vector<std::string_view> result;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
            ++i;
        const std::size_t start = i;
        while (i < text.size() && text[i] != ' ' && text[i] != '\t')
            ++i;
        if (i > start)
            result.push_back(text.substr(start, i - start));
    }
    return result;
}

bool parseField(std::string_view word, Field& field) {
    struct Family {
        std::string_view prefix;
        Field::Kind kind;
        int channels;
    };
    static constexpr std::array<Family, 4> families{{{"DI", Field::Kind::Input, 6},
                                                     {"DO", Field::Kind::Output, 2},
                                                     {"counter", Field::Kind::Counter, 6},
                                                     {"gap", Field::Kind::Gap, 6}}};
    if (word == "checksum" || word == "length") {
        field.kind = word == "length" ? Field::Kind::Length : Field::Kind::Checksum;
        return true;
    }
    for (const Family& f : families) {
        if (word.size() != f.prefix.size() + 1 || !word.starts_with(f.prefix))
            continue;
        const int channel = word.back() - '0';
        if (channel < 0 || channel >= f.channels)
            return false;
        field.kind = f.kind;
        field.index = channel;
        return true;
    }
    return false;
}

bool parseCompare(std::string_view word, Compare& op) {
    static constexpr std::array<std::string_view, 6> texts{"==", "!=", "<", "<=", ">", ">="};
    const auto it = std::find(texts.begin(), texts.end(), word);
    if (it == texts.end())
        return false;
    op = static_cast<Compare>(it - texts.begin());
    return true;
}

// A whole number, decimal or 0x-hexadecimal (for the checksum byte).
bool parseNumber(std::string_view word, std::int64_t& value) {
    int base = 10;
    if (word.size() > 2 && (word.starts_with("0x") || word.starts_with("0X"))) {
        word.remove_prefix(2);
        base = 16;
    }
    const auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), value, base);
    return ec == std::errc() && end == word.data() + word.size() && value >= 0;
}

bool isOneOf(std::string_view word, std::string_view allowed) {
    return word.size() == 1 && allowed.find(word[0]) != std::string_view::npos;
}

} // namespace

std::string Field::name() const {
    switch (kind) {
    case Kind::Input:
        return "DI" + std::to_string(index);
    case Kind::Output:
        return "DO" + std::to_string(index);
    case Kind::Counter:
        return "counter" + std::to_string(index);
    case Kind::Gap:
        return "gap" + std::to_string(index);
    case Kind::Checksum:
        return "checksum";
    case Kind::Length:
        break;
    }
    return "length";
}

std::string_view compareText(Compare op) {
    static constexpr std::array<std::string_view, 6> texts{"==", "!=", "<", "<=", ">", ">="};
    return texts[static_cast<std::size_t>(op)];
}

bool holds(std::int64_t left, Compare op, std::int64_t right) {
    switch (op) {
    case Compare::Equal:
        return left == right;
    case Compare::NotEqual:
        return left != right;
    case Compare::Less:
        return left < right;
    case Compare::LessOrEqual:
        return left <= right;
    case Compare::Greater:
        return left > right;
    case Compare::GreaterOrEqual:
        break;
    }
    return left >= right;
}

bool parseDuration(std::string_view text, Micros& out) {
    double scale = 1.0;
    if (text.ends_with("ms")) {
        text.remove_suffix(2);
        scale = 0.001;
    } else if (text.ends_with("s")) {
        text.remove_suffix(1);
    } else {
        return false;
    }
    if (text.empty() || text.front() == '-' || text.front() == '+')
        return false;
    double number = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (ec != std::errc() || end != text.data() + text.size())
        return false;
    const double seconds = number * scale;
    if (!std::isfinite(seconds) || seconds > kMaxSeconds)
        return false;
    out = Micros(std::llround(seconds * 1e6));
    return true;
}

std::variant<Step, Blank, std::string> parseStepLine(std::string_view line) {
    if (const std::size_t hash = line.find('#'); hash != std::string_view::npos)
        line = line.substr(0, hash);
    line = trim(line);
    if (line.empty())
        return Blank{};
    const std::vector<std::string_view> w = words(line);
    Step step;
    step.text = std::string(line);
    const std::string_view verb = w[0];
    const auto usage = [](std::string_view form) {
        return "expected \"" + std::string(form) + "\"";
    };

    if (verb == "status") {
        if (w.size() != 1)
            return usage("status");
        step.kind = Step::Kind::Status;
        return step;
    }
    if (verb == "set") {
        if (w.size() != 3 || !isOneOf(w[1], "12A") || !isOneOf(w[2], "01"))
            return usage("set CH V") + " with CH 1, 2 or A and V 0 or 1";
        step.kind = Step::Kind::Set;
        step.channel = w[1][0];
        step.value = w[2][0];
        return step;
    }
    if (verb == "reset") {
        if (w.size() != 2 || !isOneOf(w[1], "123456A"))
            return usage("reset CH") + " with CH 1 to 6 or A";
        step.kind = Step::Kind::Reset;
        step.channel = w[1][0];
        return step;
    }
    if (verb == "wait") {
        if (w.size() != 2 || !parseDuration(w[1], step.duration))
            return usage("wait DURATION") + ", a duration such as 200ms or 1.5s";
        step.kind = Step::Kind::Wait;
        return step;
    }
    if (verb == "expect") {
        step.kind = Step::Kind::Expect;
        if (w.size() != 4 && w.size() != 6)
            return usage("expect FIELD OP VALUE [within DURATION]");
        if (!parseField(w[1], step.field))
            return "unknown field \"" + std::string(w[1]) +
                   "\" (DI0..DI5, DO0, DO1, counter0..counter5, gap0..gap5, checksum, length)";
        if (!parseCompare(w[2], step.op))
            return "unknown comparison \"" + std::string(w[2]) + "\" (== != < <= > >=)";
        if (!parseNumber(w[3], step.expected))
            return "\"" + std::string(w[3]) + "\" is not a whole number of 0 or more";
        if (w.size() == 6) {
            if (w[4] != "within" || !parseDuration(w[5], step.duration))
                return usage("within DURATION") + " after the value, a duration such as 50ms";
            step.within = true;
        }
        return step;
    }
    return "unknown step \"" + std::string(verb) + "\" (status, set, reset, wait, expect)";
}

std::variant<Script, ScriptError> parseScript(std::string_view text, std::string_view fileName) {
    Script script;
    ScriptError error;
    std::size_t faults = 0;
    const auto fault = [&](int line, const std::string& what) {
        if (++faults <= kMaxScriptErrors)
            error.messages.push_back(std::string(fileName) + ":" + std::to_string(line) + ": " +
                                     what);
    };
    bool cleanup = false;
    int number = 0;
    while (!text.empty()) {
        ++number;
        const std::size_t end = text.find_first_of("\r\n");
        const std::string_view line = text.substr(0, end);
        std::size_t next = end == std::string_view::npos ? text.size() : end + 1;
        if (end != std::string_view::npos && text[end] == '\r' && next < text.size() &&
            text[next] == '\n')
            ++next;
        text.remove_prefix(next);
        std::string_view bare = line.substr(0, line.find('#'));
        if (trim(bare) == "finally") {
            if (cleanup)
                fault(number, "a second \"finally\"; the steps after the first one always run");
            cleanup = true;
            script.cleanupFrom = script.steps.size();
            continue;
        }
        auto parsed = parseStepLine(line);
        if (auto* what = std::get_if<std::string>(&parsed))
            fault(number, *what);
        if (auto* step = std::get_if<Step>(&parsed)) {
            step->line = number;
            script.steps.push_back(std::move(*step));
        }
    }
    if (!cleanup)
        script.cleanupFrom = script.steps.size();
    if (faults > kMaxScriptErrors)
        error.messages.push_back(std::string(fileName) + ": " +
                                 std::to_string(faults - kMaxScriptErrors) +
                                 " more faulty lines not shown");
    if (faults == 0 && script.steps.empty())
        error.messages.push_back(std::string(fileName) +
                                 ": no steps (only blank lines and comments); nothing to check");
    if (!error.messages.empty())
        return error;
    return script;
}

} // namespace vm::ctl
