#include "emu/options.h"

#include "emu/device.h"

#include <QCommandLineParser>
#include <QProcess>

#include <optional>

namespace vm::emu {

namespace {

constexpr int kMaxMs = 600000;
constexpr int kMaxBytes = 65536;
constexpr int kMaxReplies = 1000000;

// "HOST:PORT", HOST an address, "localhost" or a bracketed IPv6 address.
bool parseListen(const QString& text, Options& options) {
    const qsizetype colon = text.lastIndexOf(u':');
    if (colon <= 0)
        return false;
    QString host = text.left(colon);
    if (host.startsWith(u'[') && host.endsWith(u']'))
        host = host.mid(1, host.size() - 2);
    bool ok = false;
    const uint port = text.mid(colon + 1).toUInt(&ok);
    if (!ok || port > 65535)
        return false;
    QHostAddress address;
    if (host.compare(u"localhost", Qt::CaseInsensitive) == 0)
        address = QHostAddress(QHostAddress::LocalHost);
    else if (!address.setAddress(host))
        return false;
    options.host = address;
    options.port = static_cast<quint16>(port);
    return true;
}

std::optional<int> parseCount(const QString& text, int max) {
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < 0 || value > max)
        return std::nullopt;
    return value;
}

// "DO0=DI0,DO1=DI3": each pair wires an input to an output. An output may drive several
// inputs; an input follows one output at most.
bool parseWire(const QString& text, Wiring& wiring) {
    for (const QString& pair : text.split(u',')) {
        const QStringList sides = pair.trimmed().split(u'=');
        if (sides.size() != 2)
            return false;
        const QString output = sides[0].trimmed().toUpper();
        const QString input = sides[1].trimmed().toUpper();
        if (output.size() != 3 || !output.startsWith(u"DO") || input.size() != 3 ||
            !input.startsWith(u"DI"))
            return false;
        const int o = output[2].digitValue();
        const int i = input[2].digitValue();
        if (o < 0 || o >= kOutputs || i < 0 || i >= kInputs)
            return false;
        int& source = wiring.source[static_cast<size_t>(i)];
        if (source != Wiring::kNone && source != o)
            return false;
        source = o;
    }
    return true;
}

} // namespace

namespace {

// `nested`: the options of one unit (--unit K:FLAGS appended), where --units and --unit
// have no say.
ParsedOptions parseAll(const QStringList& arguments, bool nested) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Emulates the digital I/O module over TCP: answers every 4-byte request (NREQ, "
        "NT<ch><v>, NC<ch>0) with one status frame. Inputs toggle on their own, counters count "
        "their rising edges. The checksum byte of a 34-byte frame is the sum of bytes 0 to 32 "
        "modulo 256. Every request and reply is printed on standard output, one line each."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version(QStringLiteral("version"),
                                     QStringLiteral("Displays version information."));
    parser.addOption(version);
    const QCommandLineOption listen(
        QStringLiteral("listen"),
        QStringLiteral("Address and port to listen on; port 0 picks a free one (default "
                       "127.0.0.1:4000)."),
        QStringLiteral("HOST:PORT"));
    const QCommandLineOption frame(
        QStringLiteral("frame"),
        QStringLiteral("Status frame length: 33, 34 (with checksum) or 57 (with gap times); "
                       "default 34."),
        QStringLiteral("33|34|57"));
    const QCommandLineOption split(
        QStringLiteral("split"),
        QStringLiteral("Reply in two writes, the first of N bytes, with a pause between."),
        QStringLiteral("N"));
    const QCommandLineOption splitDelay(
        QStringLiteral("split-delay"),
        QStringLiteral("Pause between the two writes of --split, in ms (default 50)."),
        QStringLiteral("MS"));
    const QCommandLineOption trickle(
        QStringLiteral("trickle"),
        QStringLiteral("Write each reply one byte at a time, MS ms apart."), QStringLiteral("MS"));
    const QCommandLineOption merge(QStringLiteral("merge"),
                                   QStringLiteral("Send two status frames in one write."));
    const QCommandLineOption garbage(
        QStringLiteral("garbage"), QStringLiteral("Reply with N random bytes instead of a frame."),
        QStringLiteral("N"));
    const QCommandLineOption closeAfter(QStringLiteral("close-after"),
                                        QStringLiteral("Close each connection after K replies."),
                                        QStringLiteral("K"));
    const QCommandLineOption delay(QStringLiteral("delay"),
                                   QStringLiteral("Reply D ms after the request."),
                                   QStringLiteral("D"));
    const QCommandLineOption silent(QStringLiteral("silent"),
                                    QStringLiteral("Never reply (requests still take effect)."));
    const QCommandLineOption firstByte(
        QStringLiteral("first-byte"),
        QStringLiteral("Begin every status frame with this character instead of N (the "
                       "checksum still fits): a reply of a frame's length that is no frame."),
        QStringLiteral("C"));
    const QCommandLineOption badChecksum(
        QStringLiteral("bad-checksum"),
        QStringLiteral("Send 34-byte frames with a checksum one too high."));
    const QCommandLineOption ignoreSet(
        QStringLiteral("ignore-set"),
        QStringLiteral("Answer T requests without setting the output (a stuck output)."));
    const QCommandLineOption outage(
        QStringLiteral("outage"),
        QStringLiteral("After K replies, go away: drop every client and stop listening, then "
                       "listen again on the same port MS ms later (once)."),
        QStringLiteral("K:MS"));
    const QCommandLineOption wire(
        QStringLiteral("wire"),
        QStringLiteral("Wire inputs to outputs, e.g. DO0=DI0,DO1=DI3: a wired input follows its "
                       "output, and its counter and gap time count its rising edges."),
        QStringLiteral("DOn=DIm,..."));
    const QCommandLineOption still(QStringLiteral("still"),
                                   QStringLiteral("Inputs that are not wired stay 0."));
    const QCommandLineOption units(
        QStringLiteral("units"),
        QStringLiteral("Stand in for N modules, each with its own state, on N consecutive ports "
                       "from --listen's (default 1)."),
        QStringLiteral("N"));
    const QCommandLineOption listenEach(
        QStringLiteral("listen-each"),
        QStringLiteral("With --units: each module on its own loopback address, 127.0.0.2 and up "
                       "(or up from --listen's 127.x.y.z), all on --listen's port."));
    const QCommandLineOption unit(
        QStringLiteral("unit"),
        QStringLiteral("Fault modes and wiring of module K (1 to N) on top of the others', e.g. "
                       "--unit \"2:--silent\" or --unit \"3:--wire DO0=DI1 --ignore-set\"; "
                       "may be given for several modules."),
        QStringLiteral("K:FLAGS"));
    parser.addOptions({listen, frame, split, splitDelay, trickle, merge, garbage, closeAfter, delay,
                       silent, firstByte, badChecksum, ignoreSet, outage, wire, still, units,
                       listenEach, unit});

    ParsedOptions result;
    const auto fail = [&result](const QString& text) {
        result.outcome = ParsedOptions::Outcome::Error;
        result.text = text;
        return result;
    };
    if (!parser.parse(arguments))
        return fail(parser.errorText());
    if (parser.isSet(help)) {
        result.outcome = ParsedOptions::Outcome::Help;
        result.text = parser.helpText();
        return result;
    }
    if (parser.isSet(version)) {
        result.outcome = ParsedOptions::Outcome::Help;
        result.text = QStringLiteral("vm3870emu " VM_VERSION);
        return result;
    }
    if (!parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("Unexpected argument: %1").arg(parser.positionalArguments()[0]));

    Options& o = result.options;
    if (parser.isSet(listen) && !parseListen(parser.value(listen), o))
        return fail(QStringLiteral("--listen wants HOST:PORT with a port 0 to 65535, not \"%1\"")
                        .arg(parser.value(listen)));
    if (parser.isSet(frame)) {
        const auto length = parseCount(parser.value(frame), kGapFrame);
        if (!length || !isFrameLength(*length))
            return fail(QStringLiteral("--frame wants 33, 34 or 57"));
        o.frameLength = *length;
    }
    struct Count {
        const QCommandLineOption& option;
        int max;
        int& target;
    };
    for (const Count& c :
         {Count{split, kMaxBytes, o.split}, Count{splitDelay, kMaxMs, o.splitDelayMs},
          Count{trickle, kMaxMs, o.trickleMs}, Count{garbage, kMaxBytes, o.garbage},
          Count{closeAfter, kMaxReplies, o.closeAfter}, Count{delay, kMaxMs, o.delayMs}}) {
        if (!parser.isSet(c.option))
            continue;
        const auto value = parseCount(parser.value(c.option), c.max);
        if (!value)
            return fail(QStringLiteral("--%1 wants a whole number from 0 to %2")
                            .arg(c.option.names().constFirst())
                            .arg(c.max));
        c.target = *value;
    }
    if (parser.isSet(wire) && !parseWire(parser.value(wire), o.wiring))
        return fail(QStringLiteral("--wire wants pairs DO0..DO1=DI0..DI5 separated by commas, "
                                   "each input wired once, not \"%1\"")
                        .arg(parser.value(wire)));
    if (parser.isSet(firstByte)) {
        const QString c = parser.value(firstByte);
        if (c.size() != 1 || c[0].unicode() < 0x21 || c[0].unicode() > 0x7E)
            return fail(QStringLiteral("--first-byte wants one printable character"));
        o.firstByte = static_cast<char>(c[0].unicode());
    }
    if (parser.isSet(outage)) {
        const QStringList parts = parser.value(outage).split(u':');
        const auto after = parts.size() == 2 ? parseCount(parts[0], kMaxReplies) : std::nullopt;
        const auto ms = parts.size() == 2 ? parseCount(parts[1], kMaxMs) : std::nullopt;
        if (!after || !ms || *after == 0)
            return fail(QStringLiteral("--outage wants K:MS, K replies from 1 to %1 and MS "
                                       "from 0 to %2")
                            .arg(kMaxReplies)
                            .arg(kMaxMs));
        o.outageAfter = *after;
        o.outageMs = *ms;
    }
    o.badChecksum = parser.isSet(badChecksum);
    o.ignoreSet = parser.isSet(ignoreSet);
    o.wiring.still = parser.isSet(still);
    o.merge = parser.isSet(merge);
    o.silent = parser.isSet(silent);
    if (o.merge && o.garbage > 0)
        return fail(QStringLiteral("--merge and --garbage exclude each other"));
    if (nested)
        return result;

    int count = 1;
    if (parser.isSet(units)) {
        const auto n = parseCount(parser.value(units), kMaxUnits);
        if (!n || *n == 0)
            return fail(QStringLiteral("--units wants a whole number from 1 to %1").arg(kMaxUnits));
        count = *n;
    }
    const bool each = parser.isSet(listenEach);
    quint32 firstAddress = 0x7F000002; // 127.0.0.2
    if (each) {
        bool v4 = false;
        const quint32 given = o.host.toIPv4Address(&v4);
        if (parser.isSet(listen) && (!v4 || (given >> 24) != 127))
            return fail(QStringLiteral("--listen-each wants --listen on 127.0.0.0/8"));
        if (parser.isSet(listen) && given != 0x7F000001)
            firstAddress = given;
        if (firstAddress + static_cast<quint32>(count) - 1 > 0x7FFFFFFE)
            return fail(QStringLiteral("--listen-each: %1 addresses from %2 leave 127.0.0.0/8")
                            .arg(count)
                            .arg(QHostAddress(firstAddress).toString()));
    } else if (o.port != 0 && o.port + count - 1 > 65535) {
        return fail(
            QStringLiteral("--units: %1 ports from %2 go past 65535").arg(count).arg(o.port));
    }
    for (int i = 0; i < count; ++i)
        result.units.push_back(o);
    for (const QString& value : parser.values(unit)) {
        const qsizetype colon = value.indexOf(u':');
        const auto k = colon > 0 ? parseCount(value.left(colon), count) : std::nullopt;
        if (!k || *k == 0)
            return fail(QStringLiteral("--unit wants K:FLAGS with K from 1 to %1, not \"%2\"")
                            .arg(count)
                            .arg(value));
        const QStringList flags = QProcess::splitCommand(value.mid(colon + 1));
        const ParsedOptions own = parseAll(arguments + flags, true);
        if (own.outcome != ParsedOptions::Outcome::Run)
            return fail(QStringLiteral("--unit %1: %2").arg(*k).arg(own.text));
        result.units[static_cast<size_t>(*k - 1)] = own.options;
    }
    for (int i = 0; i < count; ++i) {
        Options& u = result.units[static_cast<size_t>(i)];
        u.host = each ? QHostAddress(firstAddress + static_cast<quint32>(i)) : o.host;
        u.port = each || o.port == 0 ? o.port : static_cast<quint16>(o.port + i);
    }
    result.options = result.units.front();
    return result;
}

} // namespace

ParsedOptions parseOptions(const QStringList& arguments) {
    return parseAll(arguments, false);
}

} // namespace vm::emu
