// The raw-socket privilege as an installation grants it: copies of the real vm3870sim and
// vm3870ctl given cap_net_raw (setcap), run as an ordinary user in a namespace without ping
// sockets, so that only a raw socket carries the echo. While they run, no thread of theirs
// holds the capability effective; it stays permitted, and the echo gets its reply.
#include "support/test_namespace.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

class TestRawPrivilege : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;

    // One capability set ("CapEff:", "CapPrm:") of each thread of a process.
    static QList<quint64> threadSets(qint64 pid, const QByteArray& set) {
        QList<quint64> sets;
        const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
        for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            QFile status(tasks.filePath(task + QStringLiteral("/status")));
            for (const QByteArray& line : status.open(QIODevice::ReadOnly)
                                              ? status.readAll().split('\n')
                                              : QList<QByteArray>())
                if (line.startsWith(set))
                    sets << line.mid(set.size()).trimmed().toULongLong(nullptr, 16);
        }
        return sets;
    }

private slots:
    void initTestCase() {
        if (::geteuid() != 0)
            QSKIP("needs root to grant cap_net_raw (setcap) and to make network namespaces");
        // The window makes its Log folder beside itself, as the ordinary user.
        QVERIFY(QFile::setPermissions(dir_.path(), QFileDevice::Permissions(0x7777)));
        for (const QString& program : {QStringLiteral(VM3870SIM), QStringLiteral(VM3870CTL)}) {
            const QString copy = dir_.filePath(QFileInfo(program).fileName());
            QVERIFY(QFile::copy(program, copy));
            QVERIFY(QFile::setPermissions(copy, QFileDevice::Permissions(0x7755)));
            if (!vm::test::run({QStringLiteral("setcap"), QStringLiteral("cap_net_raw+ep"), copy})
                     .ok)
                QSKIP("cannot grant cap_net_raw here (setcap from libcap2-bin, file capabilities)");
        }
    }

    void effectiveSetEmptyWhileRunning_data() {
        QTest::addColumn<QStringList>("command");
        QTest::addColumn<QString>("ready"); // a file that it makes, or text on its stdout
        QTest::newRow("window") << QStringList{"vm3870sim"} << QStringLiteral("Log");
        QTest::newRow("ping") << QStringList{"vm3870ctl", "-H", "127.0.0.1", "ping", "-n", "3"}
                              << QStringLiteral("Reply From 127.0.0.1: Bytes=0 Time=");
    }

    void effectiveSetEmptyWhileRunning() {
        QFETCH(QStringList, command);
        QFETCH(QString, ready);
        REQUIRE_NAMESPACE(ns);
        QVERIFY(ns.sysctl(QStringLiteral("net.ipv4.ping_group_range"), QStringLiteral("1 0")));
        command[0] = dir_.filePath(command[0]);
        const QStringList full = ns.wrap(command, true);
        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("HOME"), dir_.path());
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir_.path());
        program.setProcessEnvironment(environment);
        // `ip netns exec` and setpriv hand over to the program in the same process.
        program.start(full.first(), full.mid(1));
        QString output;
        const QDeadlineTimer deadline(10000);
        const auto isReady = [&] {
            return QFile::exists(dir_.filePath(ready)) || output.contains(ready);
        };
        while (!isReady() && !deadline.hasExpired() && program.state() != QProcess::NotRunning) {
            program.waitForReadyRead(50);
            output += QString::fromUtf8(program.readAllStandardOutput());
        }
        const QList<quint64> effective = threadSets(program.processId(), "CapEff:");
        const QList<quint64> permitted = threadSets(program.processId(), "CapPrm:");
        program.kill();
        program.waitForFinished(5000);
        QVERIFY2(isReady(), qPrintable(output + program.readAllStandardError()));
        QVERIFY(!effective.isEmpty());
        for (const quint64 set : effective)
            QCOMPARE(set, quint64{0});
        for (const quint64 set : permitted)
            QCOMPARE(set, quint64{1} << 13); // CAP_NET_RAW
    }
};

QTEST_GUILESS_MAIN(TestRawPrivilege)
#include "tst_rawprivilege.moc"
