// The emulator's logic without a network: frame layouts, the simulated device against a
// pinned clock, the request parser and buffer, and the command line.

#include "emu/device.h"
#include "emu/options.h"
#include "emu/request.h"

#include <QtTest>

using namespace vm::emu;

namespace {

QByteArray fromHex(const char* hex) {
    return QByteArray::fromHex(hex);
}

Status sampleStatus() {
    Status s;
    s.inputs = {'1', '0', '0', '1', '0', '0'};
    s.outputs = {'0', '1'};
    s.counters = {1, 256, 305419896, 0, 4294967295u, 65536};
    s.gapTimes = {1500, 0, 0, 0, 0, 16777216};
    return s;
}

const char* const kSample33 = "4E3130303130303031"
                              "01000000"
                              "00010000"
                              "78563412"
                              "00000000"
                              "FFFFFFFF"
                              "00000100";

QString text(const std::array<char, kInputs>& chars) {
    return QString::fromLatin1(chars.data(), kInputs);
}
QString text(const std::array<char, kOutputs>& chars) {
    return QString::fromLatin1(chars.data(), kOutputs);
}

// The "counters" and "gaps" columns that the device tables share, and their check.
void addCounterColumns() {
    QTest::addColumn<QList<quint32>>("counters");
    QTest::addColumn<QList<quint32>>("gaps");
}
void compareCounters(const Status& s) {
    QFETCH(QList<quint32>, counters);
    QFETCH(QList<quint32>, gaps);
    QCOMPARE(QList<quint32>(s.counters.begin(), s.counters.end()), counters);
    QCOMPARE(QList<quint32>(s.gapTimes.begin(), s.gapTimes.end()), gaps);
}

} // namespace

class TestEmu : public QObject {
    Q_OBJECT

    qint64 now_ = 0;
    Device::Clock clock() {
        return [this] { return now_; };
    }

private slots:
    void init() { now_ = 0; }

    void frameLayout_data() {
        QTest::addColumn<int>("length");
        QTest::addColumn<QByteArray>("expected");
        const QByteArray head = fromHex(kSample33);
        // 0xE4: the bytes 0..32 add up to 0x6E4, so the carry must be dropped.
        QTest::newRow("33") << 33 << head;
        QTest::newRow("34 with checksum") << 34 << head + fromHex("E4");
        QTest::newRow("57 with gap times") << 57
                                           << head + fromHex("DC050000"
                                                             "00000000"
                                                             "00000000"
                                                             "00000000"
                                                             "00000000"
                                                             "00000001");
    }
    void frameLayout() {
        QFETCH(int, length);
        QFETCH(QByteArray, expected);
        const QByteArray frame = buildStatusFrame(sampleStatus(), length);
        QCOMPARE(frame.size(), length);
        QCOMPARE(frame.toHex().toUpper(), expected.toHex().toUpper());
    }

    void deviceOverTime_data() {
        QTest::addColumn<qint64>("at");
        QTest::addColumn<QString>("inputs");
        addCounterColumns();
        using L = QList<quint32>;
        QTest::newRow("start") << qint64(0) << "000000" << L{0, 0, 0, 0, 0, 0}
                               << L{0, 0, 0, 0, 0, 0};
        QTest::newRow("before first edge")
            << qint64(249) << "000000" << L{0, 0, 0, 0, 0, 0} << L{0, 0, 0, 0, 0, 0};
        QTest::newRow("on first edge")
            << qint64(250) << "100000" << L{1, 0, 0, 0, 0, 0} << L{0, 0, 0, 0, 0, 0};
        QTest::newRow("1450 ms") << qint64(1450) << "110100" << L{3, 2, 1, 1, 0, 0}
                                 << L{500, 1000, 0, 0, 0, 0};
        QTest::newRow("2000 ms, short gaps")
            << qint64(2000) << "010010" << L{4, 3, 2, 2, 1, 0} << L{500, 600, 1000, 800, 0, 0};
        QTest::newRow("3000 ms, long gaps")
            << qint64(3000) << "010100" << L{6, 4, 3, 3, 1, 0} << L{500, 1000, 1000, 1200, 0, 0};
    }
    void deviceOverTime() {
        QFETCH(qint64, at);
        QFETCH(QString, inputs);
        Device device(clock());
        now_ = at;
        const Status s = device.status();
        QCOMPARE(text(s.inputs), inputs);
        compareCounters(s);
    }

    void counterWrapsAt32Bits() {
        Device device(clock());
        now_ = 500 * (qint64(1) << 32) + 250; // 2^32 + 1 rising edges on input 0
        QCOMPARE(device.status().counters[0], 1u);
        QCOMPARE(device.status().gapTimes[0], 500u);
    }

    void commands_data() {
        QTest::addColumn<QByteArrayList>("requests");
        QTest::addColumn<QString>("outputs");
        addCounterColumns();
        using L = QList<quint32>;
        // Requests at 3000 ms, read at 4000 ms; untouched channels: 8,5,4,4,1,1.
        const L all{8, 5, 4, 4, 1, 1};
        const L allGaps{500, 600, 1000, 800, 0, 0};
        QTest::newRow("none") << QByteArrayList{} << "00" << all << allGaps;
        QTest::newRow("T1 on") << QByteArrayList{"NT11"} << "10" << all << allGaps;
        QTest::newRow("T2 on") << QByteArrayList{"NT21"} << "01" << all << allGaps;
        QTest::newRow("TA on, T1 off") << QByteArrayList{"NTA1", "NT10"} << "01" << all << allGaps;
        QTest::newRow("reset 3") << QByteArrayList{"NC30"} << "00" << L{8, 5, 1, 4, 1, 1}
                                 << L{500, 600, 0, 800, 0, 0};
        QTest::newRow("reset all")
            << QByteArrayList{"NCA0"} << "00" << L{2, 1, 1, 1, 0, 1} << L{500, 0, 0, 0, 0, 0};
        QTest::newRow("unknown changes nothing")
            << QByteArrayList{"NT31", "NC70"} << "00" << all << allGaps;
    }
    void commands() {
        QFETCH(QByteArrayList, requests);
        QFETCH(QString, outputs);
        Device device(clock());
        now_ = 3000;
        for (const QByteArray& unit : requests)
            if (const auto request = parseRequest(unit))
                applyRequest(device, *request);
        now_ = 4000;
        const Status s = device.status();
        QCOMPARE(text(s.outputs), outputs);
        compareCounters(s);
    }

    // A loop-back fixture: DO0 wired to DI0, DO1 to DI3, the other inputs still. Requests
    // are "at ms: request"; the device is read at 2000 ms.
    void wiring_data() {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QString>("inputs");
        addCounterColumns();
        using L = QList<quint32>;
        QTest::newRow("nothing set")
            << QStringList{} << "000000" << L{0, 0, 0, 0, 0, 0} << L{0, 0, 0, 0, 0, 0};
        QTest::newRow("DO0 on") << QStringList{"100:NT11"} << "100000" << L{1, 0, 0, 0, 0, 0}
                                << L{0, 0, 0, 0, 0, 0};
        QTest::newRow("setting a high output again is no edge")
            << QStringList{"100:NT11", "300:NT11", "500:NTA1"} << "100100" << L{1, 0, 0, 1, 0, 0}
            << L{0, 0, 0, 0, 0, 0};
        QTest::newRow("three pulses, gap between the last two")
            << QStringList{"100:NT11", "200:NT10", "400:NT11", "500:NT10", "1100:NT11", "1200:NT10"}
            << "000000" << L{3, 0, 0, 0, 0, 0} << L{700, 0, 0, 0, 0, 0};
        QTest::newRow("reset clears the count and the gap")
            << QStringList{"100:NTA1", "200:NTA0", "400:NTA1", "500:NCA0", "600:NTA0", "900:NT21"}
            << "000100" << L{0, 0, 0, 1, 0, 0} << L{0, 0, 0, 0, 0, 0};
    }
    void wiring() {
        QFETCH(QStringList, steps);
        QFETCH(QString, inputs);
        const ParsedOptions parsed =
            parseOptions({"vm3870emu", "--wire", "do0=DI0, DO1=DI3", "--still"});
        QCOMPARE(int(parsed.outcome), int(ParsedOptions::Outcome::Run));
        Device device(clock(), parsed.options.wiring);
        for (const QString& step : steps) {
            now_ = step.section(u':', 0, 0).toLongLong();
            applyRequest(device, *parseRequest(step.section(u':', 1).toLatin1()));
        }
        now_ = 2000;
        const Status s = device.status();
        QCOMPARE(text(s.inputs), inputs);
        compareCounters(s);
    }

    void wiredInputLeavesOthersOnTheirRhythm() {
        Wiring wiring;
        wiring.source[0] = 1;
        Device device(clock(), wiring);
        now_ = 1450;
        QCOMPARE(text(device.status().inputs), QStringLiteral("010100"));
    }

    void parse_data() {
        QTest::addColumn<QByteArray>("unit");
        QTest::addColumn<bool>("understood");
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("channel");
        QTest::addColumn<bool>("on");
        const int status = int(Request::Kind::Status);
        const int set = int(Request::Kind::SetOutput);
        const int reset = int(Request::Kind::ResetCounter);
        QTest::newRow("NREQ") << QByteArray("NREQ") << true << status << -1 << false;
        QTest::newRow("NT10") << QByteArray("NT10") << true << set << 0 << false;
        QTest::newRow("NT21") << QByteArray("NT21") << true << set << 1 << true;
        QTest::newRow("NTA1") << QByteArray("NTA1") << true << set << -1 << true;
        QTest::newRow("NC60") << QByteArray("NC60") << true << reset << 5 << false;
        QTest::newRow("NCA0") << QByteArray("NCA0") << true << reset << -1 << false;
        for (const char* bad : {"NT31", "NT02", "NT12", "NC70", "NC00", "NC11", "nreq", "XREQ",
                                "NREX", "NX11", "NRE", "NREQQ"})
            QTest::newRow(bad) << QByteArray(bad) << false << 0 << 0 << false;
        QTest::newRow("zero bytes") << QByteArray(4, '\0') << false << 0 << 0 << false;
    }
    void parse() {
        QFETCH(QByteArray, unit);
        QFETCH(bool, understood);
        const std::optional<Request> request = parseRequest(unit);
        QCOMPARE(request.has_value(), understood);
        if (!request)
            return;
        QTEST(int(request->kind), "kind");
        QTEST(request->channel, "channel");
        QTEST(request->on, "on");
    }

    void bufferCutsStreamIntoRequests() {
        RequestBuffer buffer;
        QCOMPARE(buffer.feed("NR"), QByteArrayList{});
        QCOMPARE(buffer.pending(), 2);
        QCOMPARE(buffer.feed("EQN"), QByteArrayList{"NREQ"});
        QCOMPARE(buffer.feed("T11NC1"), QByteArrayList{"NT11"});
        QCOMPARE(buffer.feed("0NREQNRE"), (QByteArrayList{"NC10", "NREQ"}));
        QCOMPARE(buffer.pending(), 3);
    }

    void options_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("outcome");
        const int run = int(ParsedOptions::Outcome::Run);
        const int help = int(ParsedOptions::Outcome::Help);
        const int error = int(ParsedOptions::Outcome::Error);
        QTest::newRow("defaults") << QStringList{} << run;
        QTest::newRow("help") << QStringList{"--help"} << help;
        QTest::newRow("ipv6") << QStringList{"--listen", "[::1]:4000"} << run;
        QTest::newRow("frame 35") << QStringList{"--frame", "35"} << error;
        QTest::newRow("no port") << QStringList{"--listen", "127.0.0.1"} << error;
        QTest::newRow("port too big") << QStringList{"--listen", "127.0.0.1:65536"} << error;
        QTest::newRow("bad host") << QStringList{"--listen", "nohost:4000"} << error;
        QTest::newRow("negative") << QStringList{"--split", "-1"} << error;
        QTest::newRow("not a number") << QStringList{"--delay", "soon"} << error;
        QTest::newRow("merge and garbage") << QStringList{"--merge", "--garbage", "3"} << error;
        QTest::newRow("unknown option") << QStringList{"--fast"} << error;
        QTest::newRow("positional") << QStringList{"4000"} << error;
        QTest::newRow("wire") << QStringList{"--wire", "DO0=DI0,DO0=DI5,DO1=DI3"} << run;
        for (const char* bad :
             {"DO2=DI0", "DO0=DI6", "DI0=DO0", "DO0", "DO0=DI0,", "DO0=DI1,DO1=DI1"})
            QTest::newRow(bad) << QStringList{"--wire", bad} << error;
        QTest::newRow("units 0") << QStringList{"--units", "0"} << error;
        QTest::newRow("unit beyond the line")
            << QStringList{"--units", "2", "--unit", "3:--silent"} << error;
        QTest::newRow("unit with a bad flag")
            << QStringList{"--units", "2", "--unit", "2:--frame 35"} << error;
        QTest::newRow("ports past 65535")
            << QStringList{"--units", "3", "--listen", "127.0.0.1:65534"} << error;
        QTest::newRow("listen-each off loopback")
            << QStringList{"--units", "2", "--listen-each", "--listen", "10.0.0.1:4000"} << error;
    }
    void options() {
        QFETCH(QStringList, args);
        QFETCH(int, outcome);
        const ParsedOptions parsed = parseOptions(QStringList{"vm3870emu"} + args);
        QCOMPARE(int(parsed.outcome), outcome);
        QCOMPARE(parsed.text.isEmpty(), outcome == int(ParsedOptions::Outcome::Run));
    }

    void optionValues() {
        const Options d = parseOptions({"vm3870emu"}).options;
        QCOMPARE(d.host, QHostAddress(QHostAddress::LocalHost));
        QCOMPARE(d.port, quint16(4000));
        QCOMPARE(d.frameLength, 34);
        QCOMPARE(d.splitDelayMs, 50);
        const Options o = parseOptions({"vm3870emu", "--listen", "127.0.0.2:0", "--frame", "57",
                                        "--split", "10", "--split-delay", "5", "--merge",
                                        "--close-after", "3", "--delay", "20", "--silent"})
                              .options;
        QCOMPARE(o.host, QHostAddress(QStringLiteral("127.0.0.2")));
        QCOMPARE(o.port, quint16(0));
        QCOMPARE(o.frameLength, 57);
        QCOMPARE(o.split, 10);
        QCOMPARE(o.splitDelayMs, 5);
        QVERIFY(o.merge);
        QCOMPARE(o.closeAfter, 3);
        QCOMPARE(o.delayMs, 20);
        QVERIFY(o.silent);
    }

    // Each module of a line has its own address or port, and its own faults on top of the rest.
    void unitsOfALine() {
        const ParsedOptions ports =
            parseOptions({"vm3870emu", "--units", "3", "--listen", "127.0.0.1:5000", "--delay", "7",
                          "--unit", "2:--silent --wire DO0=DI1", "--unit", "3:--delay 9"});
        QCOMPARE(ports.units.size(), size_t(3));
        QCOMPARE(ports.units[2].port, quint16(5002));
        QCOMPARE(ports.units[0].delayMs, 7);
        QVERIFY(!ports.units[0].silent && ports.units[1].silent && !ports.units[2].silent);
        QCOMPARE(ports.units[1].wiring.source[1], 0);
        QCOMPARE(ports.units[1].delayMs, 7);
        QCOMPARE(ports.units[2].delayMs, 9);
        const ParsedOptions each = parseOptions(
            {"vm3870emu", "--units", "2", "--listen-each", "--listen", "127.0.0.1:5000"});
        QCOMPARE(each.units[0].host, QHostAddress(QStringLiteral("127.0.0.2")));
        QCOMPARE(each.units[1].host, QHostAddress(QStringLiteral("127.0.0.3")));
        QCOMPARE(each.units[1].port, quint16(5000));
    }
};

QTEST_GUILESS_MAIN(TestEmu)
#include "tst_emu.moc"
