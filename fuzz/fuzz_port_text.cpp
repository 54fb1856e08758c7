// The port text as ConnectDevice reads it: any text gives a port of 0 to 32767 or a problem
// with its message, and a plain decimal text gives the nearest integer, halves to even.

#include "fuzz_text.h"
#include "protocol/parsers.h"

#include <cmath>
#include <cstdlib>

namespace {

// The text's value by the C library, when it is [sign] digits [. digits] of at most 15
// characters (so that a double rounds it exactly where it matters: halves are exact).
bool plainDecimal(const QString& text, double& value) {
    if (text.isEmpty() || text.size() > 15)
        return false;
    bool digit = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c.isDigit() && c.unicode() < 128)
            digit = true;
        else if (!(c == u'.' || ((c == u'+' || c == u'-') && i == 0)))
            return false;
    }
    if (!digit || text.count(u'.') > 1)
        return false;
    const QByteArray bytes = text.toLatin1();
    char* end = nullptr;
    value = std::strtod(bytes.constData(), &end);
    return end == bytes.constData() + bytes.size();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using vm::fuzz::check;
    const QString text = vm::fuzz::textFrom(data, size);
    const vm::PortText port = vm::parsePort(text.toStdString());

    check(port.ok() == vm::portProblemText(port.problem).empty(), "message iff refused", text);
    check(port.ok() || port.port == 0, "a refused text gives port 0", text);
    check(port.port >= 0 && port.port <= vm::kMaxPort, "port within 0..32767", text);
    check(!text.trimmed().isEmpty() || port.problem == vm::PortProblem::Empty,
          "an empty text is refused", text);
    check(vm::parsePort((QLatin1Char(' ') + text + QLatin1Char(' ')).toStdString()).port ==
              port.port,
          "surrounding blanks change nothing", text);
    // Any bytes, malformed UTF-8 too, read as the window reads the same bytes as a text.
    const std::string raw(reinterpret_cast<const char*>(data), size);
    const vm::PortText fromRaw = vm::parsePort(raw);
    const vm::PortText fromQt = vm::parsePort(QString::fromUtf8(raw).toStdString());
    check(fromRaw.port == fromQt.port && fromRaw.problem == fromQt.problem,
          "raw bytes read as their UTF-8 text", text);

    double value = 0;
    if (plainDecimal(text.trimmed(), value)) {
        const double rounded = std::nearbyint(value); // the default mode rounds halves to even
        const bool inRange = rounded >= 0 && rounded <= vm::kMaxPort;
        check(port.ok() == inRange, "a plain number is refused only out of range", text);
        check(!inRange || port.port == int(rounded), "nearest integer, halves to even", text);
    }
    return 0;
}
