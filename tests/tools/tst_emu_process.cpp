// The real vm3870emu program on a loopback port, driven through QTcpSocket: replies and
// their lengths, command effects, every fault mode, several clients, and ending on signals.

#include "support/emulator_process.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtEndian>
#include <QtTest>

#include <csignal>
#include <functional>
#include <memory>

namespace {

using vm::test::kWaitMs;
using vm::test::waitUntil;
using Emulator = vm::test::EmulatorProcess;

// Reads until at least `count` bytes came, the peer closed, or the wait ran out.
QByteArray readAtLeast(QTcpSocket& socket, qsizetype count) {
    QByteArray got;
    waitUntil(
        [&] {
            got += socket.readAll();
            return got.size() >= count;
        },
        [&](int ms) { return socket.waitForReadyRead(ms); });
    return got;
}

QByteArray ask(QTcpSocket& socket, const QByteArray& request, qsizetype replyLength = 34) {
    socket.write(request);
    return readAtLeast(socket, replyLength);
}

quint32 counter(const QByteArray& frame, int index) {
    return qFromLittleEndian<quint32>(frame.constData() + 9 + 4 * index);
}

// Starts the emulator and connects one client to it; null when either fails.
std::unique_ptr<QTcpSocket> startAndConnect(Emulator& emu, const QStringList& args) {
    return emu.start(args) ? emu.connect() : nullptr;
}

} // namespace

class TestEmuProcess : public QObject {
    Q_OBJECT

private slots:
    void replies_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArrayList>("writes");
        QTest::addColumn<int>("expectedBytes");
        QTest::addColumn<bool>("closes");
        QTest::addColumn<QString>("reported");
        using A = QStringList;
        using W = QByteArrayList;
        QTest::newRow("34 by default") << A{} << W{"NREQ"} << 34 << false << "REQ 4E524551 (NREQ)";
        QTest::newRow("33") << A{"--frame", "33"} << W{"NREQ"} << 33 << false << "REPLY 33 bytes";
        QTest::newRow("57") << A{"--frame", "57"} << W{"NREQ"} << 57 << false << "REPLY 57 bytes";
        QTest::newRow("request split over two writes")
            << A{} << W{"NR", "EQ"} << 34 << false << "REQ 4E524551";
        QTest::newRow("three requests in one write")
            << A{} << W{"NREQNT11NC10"} << 102 << false << "REQ 4E433130 (NC10)";
        QTest::newRow("unknown request ignored")
            << A{} << W{"ABCD", "NREQ"} << 34 << false << "UNKNOWN 41424344 (ABCD) ignored";
        QByteArray everyByte(256, '\0');
        for (int i = 0; i < 256; ++i)
            everyByte[i] = char(i);
        QTest::newRow("every byte value, then a request")
            << A{} << W{everyByte.repeated(16) + "NREQ"} << 34 << false << "REQ 4E524551";
        QTest::newRow("merge") << A{"--merge"} << W{"NREQ"} << 68 << false << "(2 frames)";
        QTest::newRow("garbage") << A{"--garbage", "5"} << W{"NREQ"} << 5 << false << "(garbage)";
        QTest::newRow("close after two replies") << A{"--close-after", "2"} << W{"NREQNREQNREQ"}
                                                 << 68 << true << "CLOSE after 2 replies";
    }
    void replies() {
        QFETCH(QStringList, args);
        QFETCH(QByteArrayList, writes);
        QFETCH(int, expectedBytes);
        QFETCH(bool, closes);
        QFETCH(QString, reported);
        Emulator emu;
        const auto socket = startAndConnect(emu, args);
        QVERIFY(socket);
        for (const QByteArray& bytes : writes) {
            socket->write(bytes);
            QVERIFY(socket->waitForBytesWritten(kWaitMs));
            QTest::qWait(50); // lets each write travel as a segment of its own
        }
        QByteArray received = readAtLeast(*socket, expectedBytes);
        if (closes) {
            QTRY_COMPARE_WITH_TIMEOUT(socket->state(), QAbstractSocket::UnconnectedState, kWaitMs);
            received += socket->readAll();
        } else {
            QVERIFY(!socket->waitForReadyRead(200)); // nothing beyond the expected replies
        }
        QCOMPARE(received.size(), expectedBytes);
        if (!args.contains(QStringLiteral("--garbage")))
            QCOMPARE(received.at(0), 'N');
        QVERIFY(emu.waitForOutput(reported));
        QVERIFY(emu.waitForOutput([&](const QString&) { return emu.repliedBytes() == received; }));
    }

    void commandsShowInNextFrame() {
        Emulator emu;
        const auto socket = startAndConnect(emu, {});
        QVERIFY(socket);
        QCOMPARE(ask(*socket, "NTA1").mid(7, 2), QByteArray("11"));
        QCOMPARE(ask(*socket, "NT10").mid(7, 2), QByteArray("01"));
        QCOMPARE(ask(*socket, "NT20").mid(7, 2), QByteArray("00"));

        // Input 1 pulses every 500 ms; wait for a few pulses, then reset every counter.
        QByteArray before;
        for (int i = 0; i < 50 && (before.size() < 34 || counter(before, 0) < 2); ++i) {
            QTest::qWait(100);
            before = ask(*socket, "NREQ");
        }
        QVERIFY(counter(before, 0) >= 2);
        const QByteArray after = ask(*socket, "NCA0");
        QCOMPARE(after.size(), 34);
        for (int i = 0; i < 6; ++i)
            QVERIFY2(counter(after, i) <= 1, qPrintable(QString::number(i)));
    }

    void splitReply() {
        Emulator emu;
        const auto socket = startAndConnect(emu, {"--split", "10", "--split-delay", "400"});
        QVERIFY(socket);
        socket->write("NREQ");
        QVERIFY(socket->waitForReadyRead(kWaitMs));
        QCOMPARE(socket->readAll().size(), 10);
        QCOMPARE(readAtLeast(*socket, 24).size(), 24);
        QVERIFY(emu.waitForOutput("(split 10+24)"));
    }

    void delayedReply() {
        Emulator emu;
        const auto socket = startAndConnect(emu, {"--delay", "300"});
        QVERIFY(socket);
        QElapsedTimer elapsed;
        elapsed.start();
        QCOMPARE(ask(*socket, "NREQ").size(), 34);
        QVERIFY(elapsed.elapsed() >= 300);
    }

    void silentNeverReplies() {
        Emulator emu;
        const auto socket = startAndConnect(emu, {"--silent"});
        QVERIFY(socket);
        socket->write("NTA1");
        QVERIFY(socket->waitForBytesWritten(kWaitMs));
        QVERIFY(emu.waitForOutput("REQ 4E544131"));
        QVERIFY(!socket->waitForReadyRead(300));
        QVERIFY(!emu.output().contains("REPLY"));
    }

    void severalClients() {
        Emulator emu;
        QVERIFY(emu.start({}));
        std::vector<std::unique_ptr<QTcpSocket>> clients;
        for (int i = 0; i < 3; ++i) {
            clients.push_back(emu.connect());
            QVERIFY(clients.back());
        }
        for (const auto& client : clients)
            client->write("NREQ");
        for (const auto& client : clients)
            QCOMPARE(readAtLeast(*client, 34).size(), 34);
        // One module behind every connection: an output set by one client shows to another.
        QCOMPARE(ask(*clients[0], "NTA1").size(), 34);
        QCOMPARE(ask(*clients[2], "NREQ").mid(7, 2), QByteArray("11"));
        QVERIFY(emu.waitForOutput("client 3 CONNECTED"));
    }

    void endsOnSignal_data() {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGINT") << SIGINT;
    }
    void endsOnSignal() {
        QFETCH(int, signal);
        Emulator emu;
        const auto socket = startAndConnect(emu, {});
        QVERIFY(socket);
        QCOMPARE(ask(*socket, "NREQ").size(), 34);
        QCOMPARE(::kill(pid_t(emu.process.processId()), signal), 0);
        QVERIFY(emu.process.waitForFinished(kWaitMs));
        QCOMPARE(emu.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(emu.process.exitCode(), 0);
        QVERIFY(emu.output().contains(QStringLiteral("stopping on signal %1").arg(signal)));
    }

    void commandLine_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("help") << QStringList{"--help"} << 0;
        QTest::newRow("bad frame") << QStringList{"--frame", "35"} << 2;
        QTest::newRow("port taken") << QStringList{"--listen", "127.0.0.1:%1"} << 1;
    }
    void commandLine() {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QTcpServer taken;
        QVERIFY(taken.listen(QHostAddress::LocalHost, 0));
        args.replaceInStrings(QStringLiteral("%1"), QString::number(taken.serverPort()));
        QProcess process;
        process.start(vm::test::emulatorPath(), args);
        QVERIFY(process.waitForFinished(kWaitMs));
        QCOMPARE(process.exitCode(), exitCode);
        if (exitCode == 0) {
            const QString help = QString::fromLocal8Bit(process.readAllStandardOutput());
            for (const char* option : {"--listen", "--frame", "--split", "--split-delay", "--merge",
                                       "--garbage", "--close-after", "--delay", "--silent"})
                QVERIFY2(help.contains(QLatin1String(option)), option);
        }
    }
};

QTEST_GUILESS_MAIN(TestEmuProcess)
#include "tst_emu_process.moc"
