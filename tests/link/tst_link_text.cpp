// Frames, status-frame texts and the parsers of the device link, without widgets or sockets.
#include "link/decoder.h"
#include "link/frames.h"
#include "link/parsers.h"

#include <QTest>

#include <climits>

using namespace vm;

namespace {

QByteArray bytesFromHex(const char* hex) {
    return QByteArray::fromHex(hex);
}

// 34-byte frame of the worked example: counters 1, 256, 305419896, 0, 4294967295, 65536, checksum
// 0A.
const char* const kExample34 = "4E31303031303030310100000000010000785634120000000"
                               "0FFFFFFFF000001000A";

} // namespace

class TestLinkText : public QObject {
    Q_OBJECT
private slots:
    void requestFrame_data();
    void requestFrame();

    void zeroPad2_data();
    void zeroPad2();
    void statusChar_data();
    void statusChar();
    void checkSumAndRecvHex_data();
    void checkSumAndRecvHex();
    void acceptedLengths_data();
    void acceptedLengths();
    void workedExample34();
    void workedExample57();
    void frame33HasNoTail();

    void port_data();
    void port();
    void interval_data();
    void interval();
    void host_data();
    void host();
};

void TestLinkText::requestFrame_data() {
    QTest::addColumn<int>("command");
    QTest::addColumn<QString>("set");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("reset");
    QTest::addColumn<QByteArray>("frame"); // empty: nothing built
    QTest::addColumn<QString>("hex");

    QTest::newRow("R ignores pick lists") << 0 << ""
                                          << ""
                                          << "" << QByteArray("NREQ") << "4E 52 45 51 ";
    QTest::newRow("T A 1") << 1 << "A"
                           << "1"
                           << "3" << QByteArray("NTA1") << "4E 54 41 31 ";
    QTest::newRow("T 2 0") << 1 << "2"
                           << "0"
                           << "A" << QByteArray("NT20") << "4E 54 32 30 ";
    QTest::newRow("T ALL is A") << 1 << "ALL"
                                << "1"
                                << "" << QByteArray("NTA1") << "4E 54 41 31 ";
    QTest::newRow("C 6") << 2 << ""
                         << ""
                         << "6" << QByteArray("NC60") << "4E 43 36 30 ";
    QTest::newRow("C A") << 2 << "1"
                         << "1"
                         << "A" << QByteArray("NCA0") << "4E 43 41 30 ";
    QTest::newRow("C ALL is A") << 2 << ""
                                << ""
                                << "ALL" << QByteArray("NCA0") << "4E 43 41 30 ";
    QTest::newRow("C first character only") << 2 << ""
                                            << ""
                                            << "12" << QByteArray("NC10") << "4E 43 31 30 ";
    QTest::newRow("T empty channel") << 1 << ""
                                     << "1"
                                     << "1" << QByteArray() << "";
    QTest::newRow("T empty value") << 1 << "1"
                                   << ""
                                   << "1" << QByteArray() << "";
    QTest::newRow("C empty channel") << 2 << "1"
                                     << "1"
                                     << "" << QByteArray() << "";
    QTest::newRow("T wide character") << 1 << QString(QChar(0x3042)) << "1"
                                      << "1" << QByteArray() << "";
}

void TestLinkText::requestFrame() {
    QFETCH(int, command);
    QFETCH(QString, set);
    QFETCH(QString, value);
    QFETCH(QString, reset);
    QFETCH(QByteArray, frame);
    QFETCH(QString, hex);

    const auto built = buildRequestFrame(Command(command), set, value, reset);
    if (frame.isEmpty()) {
        QVERIFY(!built);
        return;
    }
    QVERIFY(built);
    QCOMPARE(*built, frame);
    QCOMPARE(hexText(*built), hex);
}

void TestLinkText::zeroPad2_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("padded");
    QTest::newRow("one") << "5"
                         << "05";
    QTest::newRow("two") << "4E"
                         << "4E";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("three") << "100"
                           << "";
}

void TestLinkText::zeroPad2() {
    QFETCH(QString, text);
    QFETCH(QString, padded);
    QCOMPARE(basPing::ZeroPad2(text), padded);
}

void TestLinkText::statusChar_data() {
    QTest::addColumn<int>("byte");
    QTest::addColumn<QString>("shown");
    QTest::newRow("0x31") << 0x31 << "1";
    QTest::newRow("NUL") << 0x00 << QString(QChar(0x2400));
    QTest::newRow("LF") << 0x0A << QString(QChar(0x240A));
    QTest::newRow("blank") << 0x20 << QString(QChar(0x2420));
    QTest::newRow("DEL") << 0x7F << QString(QChar(0x2421));
    QTest::newRow("euro") << 0x80 << QString(QChar(0x20AC));
    QTest::newRow("undefined 0x81") << 0x81 << QString(QChar(0xFFFD));
    QTest::newRow("no-break space") << 0xA0 << QString(QChar(0x237D));
    QTest::newRow("soft hyphen") << 0xAD << QString(QChar(0x2010));
    QTest::newRow("e acute") << 0xE9 << QString(QChar(0xE9));
}

void TestLinkText::statusChar() {
    QFETCH(int, byte);
    QFETCH(QString, shown);
    QCOMPARE(statusCharText(quint8(byte)), shown);
}

void TestLinkText::checkSumAndRecvHex_data() {
    QTest::addColumn<int>("byte");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("inLine");
    QTest::newRow("00") << 0x00 << "0"
                        << "00";
    QTest::newRow("0A") << 0x0A << "A"
                        << "0A";
    QTest::newRow("FF") << 0xFF << "FF"
                        << "FF";
}

void TestLinkText::checkSumAndRecvHex() {
    QFETCH(int, byte);
    QFETCH(QString, shown);
    QFETCH(QString, inLine);
    QByteArray frame = bytesFromHex(kExample34);
    frame[33] = char(byte);
    const auto texts = statusTexts(frame);
    QVERIFY(texts && texts->checkSum);
    QCOMPARE(*texts->checkSum, shown);
    QVERIFY(recvLine("[00:00:00.000]", frame).endsWith(inLine));
}

void TestLinkText::acceptedLengths_data() {
    QTest::addColumn<int>("length");
    QTest::addColumn<bool>("accepted");
    for (const int n : {0, 1, 2, 17, 32, 35, 40, 56, 58, 66})
        QTest::addRow("%d refused", n) << n << false;
    for (const int n : {33, 34, 57})
        QTest::addRow("%d accepted", n) << n << true;
}

void TestLinkText::acceptedLengths() {
    QFETCH(int, length);
    QFETCH(bool, accepted);
    QCOMPARE(isStatusFrameLength(length), accepted);
    QCOMPARE(statusTexts(QByteArray(length, '1')).has_value(), accepted);
    QCOMPARE(wrongLengthLine(length),
             QString("Different responce data length : %1 Bytes").arg(length));
}

void TestLinkText::workedExample34() {
    const QByteArray frame = bytesFromHex(kExample34);
    QCOMPARE(frame.size(), 34);
    const auto texts = statusTexts(frame);
    QVERIFY(texts);
    QCOMPARE(QStringList(texts->inputs.begin(), texts->inputs.end()),
             QStringList({"1", "0", "0", "1", "0", "0"}));
    QCOMPARE(QStringList(texts->outputs.begin(), texts->outputs.end()), QStringList({"0", "1"}));
    QCOMPARE(QStringList(texts->counters.begin(), texts->counters.end()),
             QStringList({"1", "256", "305419896", "0", "4294967295", "65536"}));
    QCOMPARE(texts->checkSum.value_or("none"), QString("A"));
    QVERIFY(!texts->gapTimes);

    const QString line = recvLine("[09:15:02.047]", frame);
    QCOMPARE(line, QString("[09:15:02.047] RECV : "
                           "4E313030313030303101000000000100007856341200000000FFFFFFFF000001000A"));
    QCOMPARE(recvFileText(line), "\r\n" + line + "\r\n");
}

void TestLinkText::workedExample57() {
    QByteArray frame = bytesFromHex(kExample34).left(33);
    frame += bytesFromHex("DC050000") + QByteArray(16, '\0') + bytesFromHex("00000001");
    QCOMPARE(frame.size(), 57);
    const auto texts = statusTexts(frame);
    QVERIFY(texts && texts->gapTimes);
    QVERIFY(!texts->checkSum);
    QCOMPARE(QStringList(texts->gapTimes->begin(), texts->gapTimes->end()),
             QStringList({"1500", "0", "0", "0", "0", "16777216"}));
    QCOMPARE(recvLine("[00:00:00.000]", frame).size(), 14 + 8 + 2 * 57);
}

void TestLinkText::frame33HasNoTail() {
    const QByteArray frame = bytesFromHex(kExample34).left(33);
    const auto texts = statusTexts(frame);
    QVERIFY(texts);
    QVERIFY(!texts->checkSum);
    QVERIFY(!texts->gapTimes);
    QCOMPARE(texts->counters[5], QString("65536"));
    QCOMPARE(recvLine("[00:00:00.000]", frame).size() - 22, 66);
}

void TestLinkText::port_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("port");
    QTest::addColumn<int>("problem");
    const int none = int(PortProblem::None);
    const int empty = int(PortProblem::Empty);
    const int nan = int(PortProblem::NotANumber);
    const int range = int(PortProblem::OutOfRange);
    QTest::newRow("4000") << "4000" << 4000 << none;
    QTest::newRow("32767") << "32767" << 32767 << none;
    QTest::newRow("40.5 to even") << "40.5" << 40 << none;
    QTest::newRow("41.5 to even") << "41.5" << 42 << none;
    QTest::newRow("40.51 up") << "40.51" << 41 << none;
    QTest::newRow("blanks around") << " 80 " << 80 << none;
    QTest::newRow("leading point") << ".6" << 1 << none;
    QTest::newRow("minus zero point four") << "-0.4" << 0 << none;
    QTest::newRow("32767.5 rounds to even above") << "32767.5" << 0 << range;
    QTest::newRow("32768") << "32768" << 0 << range;
    QTest::newRow("-1") << "-1" << 0 << range;
    QTest::newRow("huge") << "99999999999999999999999" << 0 << range;
    QTest::newRow("empty") << "" << 0 << empty;
    QTest::newRow("letters") << "abc" << 0 << nan;
    QTest::newRow("trailing junk") << "40a" << 0 << nan;
    QTest::newRow("two points") << "1.2.3" << 0 << nan;
}

void TestLinkText::port() {
    QFETCH(QString, text);
    QFETCH(int, port);
    QFETCH(int, problem);
    const PortText parsed = parsePort(text);
    QCOMPARE(int(parsed.problem), problem);
    QCOMPARE(parsed.port, port);
    QCOMPARE(portProblemText(parsed.problem).isEmpty(), parsed.ok());
}

void TestLinkText::interval_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint64>("ms");
    QTest::newRow("1") << "1" << qint64(1000);
    QTest::newRow("1.5") << "1.5" << qint64(1500);
    QTest::newRow("1.2.3") << "1.2.3" << qint64(1200);
    QTest::newRow("0.05") << "0.05" << qint64(50);
    QTest::newRow("empty") << "" << qint64(0);
    QTest::newRow("abc") << "abc" << qint64(0);
    QTest::newRow("leading blanks") << "  2" << qint64(2000);
    QTest::newRow("trailing text") << "3s" << qint64(3000);
    QTest::newRow("negative") << "-1" << qint64(-1000);
    QTest::newRow("half ms to even down") << "0.0005" << qint64(0);
    QTest::newRow("half ms to even up") << "0.0015" << qint64(2);
    QTest::newRow("exact where a double is not") << "1.0005" << qint64(1000);
    QTest::newRow("largest period") << "2147483.647" << qint64(INT_MAX);
    QTest::newRow("one above") << "2147483.648" << qint64(INT_MAX) + 1;
    QTest::newRow("saturates") << "99999999999999999999999999"
                               << qint64(1'000'000'000'000'000'000LL);
}

void TestLinkText::interval() {
    QFETCH(QString, text);
    QFETCH(qint64, ms);
    QCOMPARE(parseIntervalMs(text), ms);
}

void TestLinkText::host_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("address") << "192.168.1.110" << true;
    QTest::newRow("name") << "module.local" << true;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("blank inside") << "127.0.0 .1" << false;
}

void TestLinkText::host() {
    QFETCH(QString, text);
    QFETCH(bool, accepted);
    QCOMPARE(!hostProblem(text).has_value(), accepted);
}

QTEST_APPLESS_MAIN(TestLinkText)
#include "tst_link_text.moc"
