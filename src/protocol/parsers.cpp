#include "protocol/parsers.h"

#include "protocol/utf8.h"

#include <algorithm>

namespace vm {

namespace {

// Magnitudes stop growing here, well inside int64 and far above any accepted value.
constexpr std::int64_t kSaturation = kIntervalSaturation;

struct LeadingDecimal {
    bool negative = false;
    std::string_view whole;
    std::string_view fraction;
    std::size_t end = 0; // index after the number
    bool hasDigits() const { return !whole.empty() || !fraction.empty(); }
};

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

std::size_t digitsEnd(std::string_view text, std::size_t from) {
    while (from < text.size() && isDigit(text[from]))
        ++from;
    return from;
}

// The longest decimal number at the start of the text: [sign] digits [. digits]. Every
// character of it is ASCII, so the UTF-8 bytes can be read one by one.
LeadingDecimal leadingDecimal(std::string_view text) {
    LeadingDecimal number;
    std::size_t pos = 0;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        number.negative = text[pos] == '-';
        ++pos;
    }
    const std::size_t wholeEnd = digitsEnd(text, pos);
    number.whole = text.substr(pos, wholeEnd - pos);
    pos = wholeEnd;
    if (pos < text.size() && text[pos] == '.') {
        const std::size_t fractionEnd = digitsEnd(text, pos + 1);
        number.fraction = text.substr(pos + 1, fractionEnd - pos - 1);
        if (!number.whole.empty() || !number.fraction.empty())
            pos = fractionEnd;
    }
    number.end = number.hasDigits() ? pos : 0;
    return number;
}

std::int64_t appendDigit(std::int64_t magnitude, char digit) {
    const int value = digit - '0';
    if (magnitude > (kSaturation - value) / 10)
        return kSaturation;
    return magnitude * 10 + value;
}

// The number times 10^scale, rounded to the nearest integer with halves to even.
std::int64_t scaledRoundHalfEven(const LeadingDecimal& number, std::size_t scale) {
    std::int64_t magnitude = 0;
    for (const char digit : number.whole)
        magnitude = appendDigit(magnitude, digit);
    for (std::size_t i = 0; i < scale; ++i)
        magnitude = appendDigit(magnitude, i < number.fraction.size() ? number.fraction[i] : '0');
    if (magnitude < kSaturation && number.fraction.size() > scale) {
        const std::string_view rest = number.fraction.substr(scale);
        const char first = rest.front();
        const bool aboveHalf =
            first > '5' || (first == '5' && std::any_of(rest.begin() + 1, rest.end(),
                                                        [](char c) { return c != '0'; }));
        const bool tie = first == '5' && !aboveHalf;
        if (aboveHalf || (tie && magnitude % 2 != 0))
            ++magnitude;
    }
    return number.negative ? -magnitude : magnitude;
}

// The text without the white space at either end.
std::string_view trimmed(std::string_view text) {
    std::size_t begin = text.size();
    std::size_t end = 0;
    for (std::size_t pos = 0; pos < text.size();) {
        const utf8::Decoded c = utf8::decodeFirst(text.substr(pos));
        if (!(c.valid && utf8::isSpace(c.code))) {
            begin = std::min(begin, pos);
            end = pos + c.length;
        }
        pos += c.length;
    }
    return begin < end ? text.substr(begin, end - begin) : std::string_view();
}

} // namespace

PortText parsePort(std::string_view text) {
    const std::string_view number = trimmed(text);
    if (number.empty())
        return {0, PortProblem::Empty};
    const LeadingDecimal decimal = leadingDecimal(number);
    if (!decimal.hasDigits() || decimal.end != number.size())
        return {0, PortProblem::NotANumber};
    const std::int64_t value = scaledRoundHalfEven(decimal, 0);
    if (value < 0 || value > kMaxPort)
        return {0, PortProblem::OutOfRange};
    return {int(value), PortProblem::None};
}

std::string portProblemText(PortProblem problem) {
    switch (problem) {
    case PortProblem::None:
        break;
    case PortProblem::Empty:
        return "Port is empty";
    case PortProblem::NotANumber:
        return "Port is not a number";
    case PortProblem::OutOfRange:
        return "Port is out of range (0 to " + std::to_string(kMaxPort) + ")";
    }
    return std::string();
}

std::optional<std::string> hostProblem(std::string_view text) {
    if (text.empty())
        return "Host is empty";
    for (std::size_t pos = 0; pos < text.size();) {
        const utf8::Decoded c = utf8::decodeFirst(text.substr(pos));
        if (c.valid && (utf8::isSpace(c.code) || utf8::isControl(c.code)))
            return "Host is not valid";
        pos += c.length;
    }
    return std::nullopt;
}

std::int64_t parseIntervalMs(std::string_view text) {
    const std::size_t start = std::min(text.find_first_not_of(' '), text.size());
    return scaledRoundHalfEven(leadingDecimal(text.substr(start)), 3);
}

} // namespace vm
