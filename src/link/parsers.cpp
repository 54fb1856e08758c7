#include "link/parsers.h"

#include <algorithm>

namespace vm {

namespace {

// Magnitudes stop growing here, well inside qint64 and far above any accepted value.
constexpr qint64 kSaturation = 1'000'000'000'000'000'000LL;

struct LeadingDecimal {
    bool negative = false;
    QStringView whole;
    QStringView fraction;
    qsizetype end = 0; // index after the number
    bool hasDigits() const { return !whole.isEmpty() || !fraction.isEmpty(); }
};

bool isDigit(QChar c) {
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

qsizetype digitsEnd(QStringView text, qsizetype from) {
    while (from < text.size() && isDigit(text[from]))
        ++from;
    return from;
}

// The longest decimal number at the start of the text: [sign] digits [. digits].
LeadingDecimal leadingDecimal(QStringView text) {
    LeadingDecimal number;
    qsizetype pos = 0;
    if (pos < text.size() && (text[pos] == QLatin1Char('+') || text[pos] == QLatin1Char('-'))) {
        number.negative = text[pos] == QLatin1Char('-');
        ++pos;
    }
    const qsizetype wholeEnd = digitsEnd(text, pos);
    number.whole = text.sliced(pos, wholeEnd - pos);
    pos = wholeEnd;
    if (pos < text.size() && text[pos] == QLatin1Char('.')) {
        const qsizetype fractionEnd = digitsEnd(text, pos + 1);
        number.fraction = text.sliced(pos + 1, fractionEnd - pos - 1);
        if (!number.whole.isEmpty() || !number.fraction.isEmpty())
            pos = fractionEnd;
    }
    number.end = number.hasDigits() ? pos : 0;
    return number;
}

qint64 appendDigit(qint64 magnitude, QChar digit) {
    const int value = digit.unicode() - '0';
    if (magnitude > (kSaturation - value) / 10)
        return kSaturation;
    return magnitude * 10 + value;
}

// The number times 10^scale, rounded to the nearest integer with halves to even.
qint64 scaledRoundHalfEven(const LeadingDecimal& number, int scale) {
    qint64 magnitude = 0;
    for (const QChar digit : number.whole)
        magnitude = appendDigit(magnitude, digit);
    for (int i = 0; i < scale; ++i)
        magnitude = appendDigit(magnitude,
                                i < number.fraction.size() ? number.fraction[i] : QLatin1Char('0'));
    if (magnitude < kSaturation && number.fraction.size() > scale) {
        const QStringView rest = number.fraction.sliced(scale);
        const QChar first = rest.front();
        const bool aboveHalf =
            first > QLatin1Char('5') ||
            (first == QLatin1Char('5') && std::any_of(rest.begin() + 1, rest.end(), [](QChar c) {
                 return c != QLatin1Char('0');
             }));
        const bool tie = first == QLatin1Char('5') && !aboveHalf;
        if (aboveHalf || (tie && magnitude % 2 != 0))
            ++magnitude;
    }
    return number.negative ? -magnitude : magnitude;
}

} // namespace

PortText parsePort(const QString& text) {
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return {0, PortProblem::Empty};
    const LeadingDecimal number = leadingDecimal(trimmed);
    if (!number.hasDigits() || number.end != trimmed.size())
        return {0, PortProblem::NotANumber};
    const qint64 value = scaledRoundHalfEven(number, 0);
    if (value < 0 || value > kMaxPort)
        return {0, PortProblem::OutOfRange};
    return {int(value), PortProblem::None};
}

QString portProblemText(PortProblem problem) {
    switch (problem) {
    case PortProblem::None:
        break;
    case PortProblem::Empty:
        return QStringLiteral("Port is empty");
    case PortProblem::NotANumber:
        return QStringLiteral("Port is not a number");
    case PortProblem::OutOfRange:
        return QStringLiteral("Port is out of range (0 to %1)").arg(kMaxPort);
    }
    return QString();
}

std::optional<QString> hostProblem(const QString& text) {
    if (text.isEmpty())
        return QStringLiteral("Host is empty");
    const bool unusable = std::any_of(text.begin(), text.end(), [](QChar c) {
        return c.isSpace() || c.category() == QChar::Other_Control;
    });
    if (unusable)
        return QStringLiteral("Host is not valid");
    return std::nullopt;
}

qint64 parseIntervalMs(const QString& text) {
    qsizetype start = 0;
    while (start < text.size() && text[start] == QLatin1Char(' '))
        ++start;
    return scaledRoundHalfEven(leadingDecimal(QStringView(text).sliced(start)), 3);
}

} // namespace vm
