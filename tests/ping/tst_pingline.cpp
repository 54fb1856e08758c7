// The probe's plain parts: ICMP packets, the look-up name and the result lines.
#include "probe/icmp.h"
#include "probe/probe.h"

#include <QTest>

#include <vector>

using Bytes = std::vector<std::uint8_t>;
using std::string_literals::operator""s;
Q_DECLARE_METATYPE(Bytes)

namespace {

constexpr std::uint16_t kId = 0x1234;
constexpr std::uint16_t kSeq = 0xBEEF;

// An IPv4 datagram from 10.1.2.3 with TTL 57 and a header of `headerWords` 32-bit words,
// carrying an ICMP message of `type` with the given identifier, sequence and data size.
Bytes datagram(std::uint8_t type, std::uint16_t id, int dataSize = 0, int headerWords = 5) {
    const auto headerSize = static_cast<std::size_t>(headerWords) * 4;
    Bytes bytes(headerSize + 8 + static_cast<std::size_t>(dataSize), 0xA5);
    const auto u8 = [](unsigned v) { return static_cast<std::uint8_t>(v); };
    bytes[0] = u8(0x40 | headerWords);
    bytes[2] = u8(bytes.size() >> 8), bytes[3] = u8(bytes.size());
    bytes[8] = 57, bytes[9] = 1;
    bytes[12] = 10, bytes[13] = 1, bytes[14] = 2, bytes[15] = 3;
    const auto message = std::span(bytes).subspan(headerSize);
    message[0] = type, message[1] = 0, message[2] = 0, message[3] = 0;
    message[4] = u8(id >> 8), message[5] = u8(id), message[6] = u8(kSeq >> 8),
    message[7] = u8(kSeq);
    const std::uint16_t sum = vm::internetChecksum(message);
    message[2] = u8(sum >> 8), message[3] = u8(sum);
    return bytes;
}

} // namespace

class TestPingLine : public QObject {
    Q_OBJECT
private slots:
    void checksum() {
        // RFC 1071's worked example sums to 0xDDF2, so its checksum is 0x220D.
        const std::uint8_t example[] = {0x00, 0x01, 0xF2, 0x03, 0xF4, 0xF5, 0xF6, 0xF7};
        QCOMPARE(vm::internetChecksum(example), 0x220D);
        QCOMPARE(vm::internetChecksum(vm::buildEchoRequest(kId, kSeq)), 0);
    }

    // A raw socket hands over every ICMP datagram of the host; only our echo reply counts,
    // and nothing outside the received bytes is read.
    void rawEchoReply_data() {
        QTest::addColumn<Bytes>("bytes");
        QTest::addColumn<int>("dataSize"); // -1: rejected

        QTest::newRow("echo reply") << datagram(0, kId) << 0;
        QTest::newRow("reply with odd-sized data") << datagram(0, kId, 5) << 5;
        QTest::newRow("IP options before the message") << datagram(0, kId, 0, 7) << 0;
        QTest::newRow("our own request on loopback") << datagram(8, kId) << -1;
        QTest::newRow("another identifier") << datagram(0, kId + 1) << -1;
        auto corrupt = datagram(0, kId, 3);
        corrupt.back() ^= 0x01;
        QTest::newRow("bad checksum") << corrupt << -1;
        auto cut = datagram(0, kId);
        cut.resize(26);
        QTest::newRow("message cut short") << cut << -1;
        auto longHeader = datagram(0, kId);
        longHeader[0] = 0x4F;
        QTest::newRow("header longer than the datagram") << longHeader << -1;
        QTest::newRow("shorter than an IP header") << Bytes(19, 0x45) << -1;
        auto padded = datagram(0, kId, 2);
        padded.insert(padded.end(), {0, 0, 0, 0});
        QTest::newRow("padding after the datagram") << padded << 2;
    }

    void rawEchoReply() {
        QFETCH(Bytes, bytes);
        QFETCH(int, dataSize);
        const auto reply = vm::parseRawEchoReply(bytes, kId, kSeq);
        QCOMPARE(reply.has_value(), dataSize >= 0);
        if (reply) {
            QCOMPARE(reply->dataSize, dataSize);
            QCOMPARE(reply->ttl, 57);
            QCOMPARE(vm::dottedAddress(reply->from), "10.1.2.3"s);
        }
    }

    void lines() {
        QCOMPARE(vm::dottedAddress({0xC0, 0xA8, 0x01, 0x6E}), "192.168.1.110"s);
        QCOMPARE(vm::dottedAddress({0, 255, 9, 100}), "0.255.9.100"s);
        QCOMPARE(vm::replyLine({{192, 168, 1, 110}, 0, 64}, 1),
                 "Reply From 192.168.1.110: Bytes=0 Time=1ms TTL=64"s);
        QCOMPARE(vm::noAnswerLine({192, 168, 1, 110}), "No answer from 192.168.1.110"s);
    }

    // The resolver sees the blank-trimmed name cut to 64 characters; the unknown-host line
    // shows the box text exactly as typed.
    void lookupNameAndUnknownHost_data() {
        QTest::addColumn<QString>("boxText");
        QTest::addColumn<QString>("name");

        const QString name64 = QString(60, u'h') + QStringLiteral(".net");
        QTest::newRow("blanks around") << "  192.168.1.110   "
                                       << "192.168.1.110";
        QTest::newRow("inner blank kept") << " a b "
                                          << "a b";
        QTest::newRow("only blanks") << "   "
                                     << "";
        QTest::newRow("longer is cut") << name64 + "xyz" << name64;
        QTest::newRow("trimmed before the cut") << "    " + name64 + "z  " << name64;
        QTest::newRow("blanks inside the first 64 stay")
            << name64.left(62) + "   tail" << name64.left(62) + "  ";
        QTest::newRow("cut counts characters, not bytes")
            << QString(70, u'\u00fc') << QString(64, u'\u00fc');
    }

    void lookupNameAndUnknownHost() {
        QFETCH(QString, boxText);
        QFETCH(QString, name);
        QStringList asked;
        vm::ProbeSetup setup;
        setup.resolve = [&](const std::string& n) -> std::optional<vm::Ipv4Address> {
            asked << QString::fromStdString(n);
            return std::nullopt;
        };
        QCOMPARE(QString::fromStdString(vm::pingResultLine(boxText.toStdString(), setup)),
                 "Ping: Unknown Host " + boxText);
        QCOMPARE(asked, QStringList{name});
    }

    void resolverTakesOnlyWholeNames() {
        QCOMPARE(vm::resolveFirstIpv4("127.0.0.1"), (vm::Ipv4Address{127, 0, 0, 1}));
        QCOMPARE(vm::resolveFirstIpv4(""), std::nullopt);
        // A NUL would otherwise cut the name to "127.0.0.1".
        QCOMPARE(vm::resolveFirstIpv4("127.0.0.1\0x.invalid"s), std::nullopt);
    }
};

QTEST_GUILESS_MAIN(TestPingLine)
#include "tst_pingline.moc"
