#include "ctl/settings.h"

#include "ctl/record.h"
#include "ctl/textinput.h"
#include "protocol/utf8.h"

#include <sstream>

namespace vm::ctl {

namespace {

std::string_view trimBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

} // namespace

std::string unescapeSettingValue(std::string_view raw) {
    raw = trimBlanks(raw);
    std::string out;
    bool quoted = false;
    std::size_t blanksHeld = 0; // blanks outside quotes count only when text follows them
    for (std::size_t i = 0; i < raw.size(); ++i) {
        const char c = raw[i];
        if (c == '"') {
            quoted = !quoted;
            continue;
        }
        if (c == ',' && !quoted)
            return std::string(raw); // the window keeps such a value as it stands
        if (!quoted && (c == ' ' || c == '\t')) {
            ++blanksHeld;
            continue;
        }
        out.append(blanksHeld, ' ');
        blanksHeld = 0;
        if (c != '\\' || i + 1 >= raw.size()) {
            out += c;
            continue;
        }
        const char e = raw[++i];
        switch (e) {
        case 'a':
            out += '\a';
            break;
        case 'b':
            out += '\b';
            break;
        case 'f':
            out += '\f';
            break;
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        case 't':
            out += '\t';
            break;
        case 'v':
            out += '\v';
            break;
        case 'x': {
            unsigned code = 0;
            while (i + 1 < raw.size() && hexDigitValue(raw[i + 1]) >= 0 && code < 0x1000)
                code = code * 16 + static_cast<unsigned>(hexDigitValue(raw[++i]));
            appendUtf8(out, code);
            break;
        }
        default:
            if (e >= '0' && e <= '7') {
                unsigned code = static_cast<unsigned>(e - '0');
                while (i + 1 < raw.size() && raw[i + 1] >= '0' && raw[i + 1] <= '7' &&
                       code < 0x1000)
                    code = code * 8 + static_cast<unsigned>(raw[++i] - '0');
                appendUtf8(out, code);
            } else {
                out += e; // \" \\ \' \? and any other character stand for themselves
            }
        }
    }
    if (out.starts_with("@@"))
        out.erase(0, 1);
    return out;
}

WindowSettings parseWindowSettings(std::string_view fileText) {
    WindowSettings settings;
    bool inSection = false;
    std::istringstream lines{std::string(fileText)};
    std::string line;
    while (std::getline(lines, line)) {
        // A backslash at the end of a line continues the value on the next line.
        while (!line.empty() && line.back() == '\\' && lines.peek() != EOF) {
            std::string next;
            std::getline(lines, next);
            line.pop_back();
            line += next;
        }
        const std::string_view text = trimBlanks(line);
        if (text.starts_with('[')) {
            inSection = text == "[" + std::string(kSettingsSection) + "]";
            continue;
        }
        const std::size_t equals = text.find('=');
        if (!inSection || equals == std::string_view::npos || text.starts_with(';'))
            continue;
        const std::string_view key = trimBlanks(text.substr(0, equals));
        std::string value = unescapeSettingValue(text.substr(equals + 1));
        if (key == vm::settings::kAddressKey)
            settings.address = std::move(value);
        else if (key == vm::settings::kPortKey)
            settings.port = std::move(value);
        else if (key == vm::settings::kIntervalKey)
            settings.interval = std::move(value);
    }
    return settings;
}

} // namespace vm::ctl
