// The repeat interval text as the Send operation reads it: the longest leading decimal number
// times 1000, rounded to the nearest integer with halves to even; nothing else in the text
// counts.

#include "fuzz_text.h"
#include "protocol/parsers.h"

#include <cmath>
#include <cstdlib>

namespace {

// The milliseconds by the C library, for texts made only of blanks, digits, '.', '+', '-'
// and 'z' with at most 12 digits: strtod reads the same leading number there, and moving
// the point three places in the text keeps every value below 2^53 and the halves exact.
bool libraryMs(const QString& text, double& ms) {
    int digits = 0;
    for (const QChar c : text) {
        if (c.unicode() >= '0' && c.unicode() <= '9')
            ++digits;
        else if (!QStringLiteral(" .+-z").contains(c))
            return false;
    }
    if (digits > 12)
        return false;
    const QByteArray bytes = text.toLatin1();
    char* end = nullptr;
    std::strtod(bytes.constData(), &end);
    QByteArray number = QByteArray(bytes.constData(), end - bytes.constData()).trimmed();
    const qsizetype point = number.indexOf('.');
    QByteArray fraction = point < 0 ? QByteArray() : number.mid(point + 1);
    if (point >= 0)
        number.truncate(point);
    fraction += "000";
    number += fraction.left(3) + '.' + fraction.mid(3);
    ms = number == "." || number.isEmpty() ? 0 : std::strtod(number.constData(), nullptr);
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using vm::fuzz::check;
    const QString text = vm::fuzz::textFrom(data, size);
    const std::string utf8 = text.toStdString();
    const qint64 ms = vm::parseIntervalMs(utf8);

    check(vm::parseIntervalMs("  " + utf8) == ms, "leading blanks skipped", text);
    check(vm::parseIntervalMs(utf8 + 'z') == ms, "trailing text ignored", text);
    check(std::llabs(ms) <= vm::kIntervalSaturation, "saturates, never overflows", text);

    double expected = 0;
    if (libraryMs(text, expected))
        check(ms == qint64(std::nearbyint(expected)), "decimal times 1000, halves to even", text);
    return 0;
}
