// The host text as the connect and the ping probe read it: the connect refuses it before any
// socket work exactly when it is empty or holds blanks or control characters; the probe looks
// up the text without its surrounding blanks, cut to 64 characters, and names the whole text
// in its unknown-host line. The look-up is replaced, so nothing leaves this process.

#include "fuzz_text.h"
#include "probe/probe.h"
#include "protocol/parsers.h"

#include <QList>

#include <algorithm>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using vm::fuzz::check;
    const QString text = vm::fuzz::textFrom(data, size);

    // What the connect lets through reaches the socket: never empty, never with a blank,
    // a line break or another control character in it.
    if (const auto problem = vm::hostProblem(text.toStdString())) {
        check(!problem->empty(), "a refusal has its message", text);
    } else {
        check(!text.isEmpty(), "an empty host is refused", text);
        check(std::none_of(text.begin(), text.end(),
                           [](QChar c) { return c.isSpace() || c.unicode() < 0x20; }),
              "no blank or control character reaches the socket", text);
    }

    // Any bytes, malformed UTF-8 too, read as the window reads the same bytes as a text.
    const std::string raw(reinterpret_cast<const char*>(data), size);
    check(vm::hostProblem(raw) == vm::hostProblem(QString::fromUtf8(raw).toStdString()),
          "raw bytes read as their UTF-8 text", text);

    // The probe takes the text as UTF-8, as the window hands it over (a lone surrogate
    // becomes U+FFFD there).
    const std::string utf8 = text.toStdString();
    const QString name = QString::fromStdString(vm::lookupName(utf8));
    check(name.toUcs4().size() <= qsizetype(vm::kLookupNameLength),
          "look-up name at most 64 characters", text);
    check(!name.startsWith(u' '), "look-up name without leading blanks", text);
    check(name.toUcs4().size() == qsizetype(vm::kLookupNameLength) || !name.endsWith(u' '),
          "an uncut look-up name has no trailing blank", text);
    check(QString::fromStdString(utf8).contains(name), "look-up name is part of the text", text);

    std::string looked;
    int lookups = 0;
    vm::ProbeSetup setup;
    setup.resolve = [&](const std::string& asked) -> std::optional<vm::Ipv4Address> {
        looked = asked;
        ++lookups;
        return std::nullopt;
    };
    const std::string line = vm::pingResultLine(utf8, setup);
    check(lookups == 1 && QString::fromStdString(looked) == name, "one look-up of the look-up name",
          text);
    check(line == vm::unknownHostLine(utf8), "unknown host line names the text", text);
    return 0;
}
