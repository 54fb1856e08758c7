// The raw-socket privilege as an installation grants it: copies of the real vm3870sim and
// vm3870ctl given cap_net_raw (setcap), run as an ordinary user in a namespace where ping
// sockets are not allowed, so that only a raw socket can carry the echo. While they run, no
// thread of theirs holds the capability effective; it stays permitted, and the echo works.
#include "probe/probe.h"
#include "support/test_namespace.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

namespace {

using vm::test::TestNamespace;

constexpr quint64 kNetRaw = quint64{1} << 13;  // CAP_NET_RAW
const QString kNoUser = QStringLiteral("1 0"); // nobody gets a ping socket

// One capability set ("CapEff", "CapPrm") of every thread of a process; empty when gone.
QList<quint64> threadSets(qint64 pid, const QString& set) {
    QList<quint64> sets;
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile status(tasks.filePath(task + QStringLiteral("/status")));
        if (!status.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray& line : status.readAll().split('\n'))
            if (line.startsWith(set.toLatin1() + ':'))
                sets << line.mid(set.size() + 1).trimmed().toULongLong(nullptr, 16);
    }
    return sets;
}

} // namespace

class TestRawPrivilege : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;

    QString copy(const QString& from, const QString& name, bool granted) {
        const QString to = dir_.filePath(name);
        if (!QFile::copy(from, to))
            return {};
        QFile::setPermissions(to, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                      QFile::ReadOther | QFile::ExeOther);
        if (granted &&
            vm::test::run({QStringLiteral("setcap"), QStringLiteral("cap_net_raw+ep"), to}).ok ==
                false)
            return {};
        return to;
    }

private slots:
    void initTestCase() {
        if (::geteuid() != 0)
            QSKIP("needs root to grant cap_net_raw (setcap) and to make network namespaces");
        if (QStandardPaths::findExecutable(QStringLiteral("setcap"),
                                           {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")})
                .isEmpty())
            QSKIP("setcap is missing (Debian package libcap2-bin)");
        QVERIFY(dir_.isValid());
        // The window makes its Log folder beside itself, as the ordinary user.
        QVERIFY(QFile::setPermissions(dir_.path(), QFile::ReadOwner | QFile::WriteOwner |
                                                       QFile::ExeOwner | QFile::ReadOther |
                                                       QFile::WriteOther | QFile::ExeOther));
        if (copy(QStringLiteral(VM3870CTL), QStringLiteral("vm3870ctl"), true).isEmpty())
            QSKIP("cannot grant cap_net_raw to a file in the temporary folder");
        QVERIFY(!copy(QStringLiteral(VM3870SIM), QStringLiteral("vm3870sim"), true).isEmpty());
        QVERIFY(!copy(QStringLiteral(VM3870CTL), QStringLiteral("ungranted"), false).isEmpty());
    }

    // The window until it has made its Log folder, vm3870ctl until its first reply came
    // through a raw socket: then every thread's effective set is empty, the permitted one
    // keeps the capability.
    void effectiveSetEmptyWhileRunning_data() {
        QTest::addColumn<QStringList>("command");
        QTest::addColumn<QString>("ready"); // a file that appears, or text on stdout
        QTest::newRow("vm3870sim")
            << QStringList{QStringLiteral("vm3870sim")} << QStringLiteral("Log");
        QTest::newRow("vm3870ctl ping")
            << QStringList{QStringLiteral("vm3870ctl"), "-H", "127.0.0.1", "ping", "-n", "3", "-q"}
            << QStringLiteral("Reply From 127.0.0.1: Bytes=0 Time=");
    }

    void effectiveSetEmptyWhileRunning() {
        QFETCH(QStringList, command);
        QFETCH(QString, ready);
        REQUIRE_NAMESPACE(ns);
        QVERIFY(ns.sysctl(QStringLiteral("net.ipv4.ping_group_range"), kNoUser));
        command[0] = dir_.filePath(command[0]);
        const QStringList full = ns.wrap(command, true);
        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("HOME"), dir_.path());
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir_.path());
        program.setProcessEnvironment(environment);
        program.start(full.first(), full.mid(1));
        QVERIFY(program.waitForStarted());
        // `ip netns exec` and setpriv each hand over to the next program in the same process.
        QString output;
        const QDeadlineTimer deadline(10000);
        while (!QFile::exists(dir_.filePath(ready)) && !output.contains(ready) &&
               !deadline.hasExpired() && program.state() == QProcess::Running) {
            program.waitForReadyRead(50);
            output += QString::fromUtf8(program.readAllStandardOutput());
        }
        const QList<quint64> effective = threadSets(program.processId(), QStringLiteral("CapEff"));
        const QList<quint64> permitted = threadSets(program.processId(), QStringLiteral("CapPrm"));
        program.kill();
        program.waitForFinished(5000);
        QVERIFY2(QFile::exists(dir_.filePath(ready)) || output.contains(ready),
                 qPrintable(output + QString::fromUtf8(program.readAllStandardError())));
        QVERIFY(!effective.isEmpty());
        for (const quint64 set : effective)
            QCOMPARE(set, quint64{0});
        for (const quint64 set : permitted)
            QCOMPARE(set & kNetRaw, kNetRaw);
    }

    // Without the capability the same user gets no echo at all: the reply above came through it.
    void noEchoWithoutTheCapability() {
        REQUIRE_NAMESPACE(ns);
        QVERIFY(ns.sysctl(QStringLiteral("net.ipv4.ping_group_range"), kNoUser));
        const auto probe = ns.exec({dir_.filePath(QStringLiteral("ungranted")), "-H", "127.0.0.1",
                                    "ping", "-n", "1", "-q"},
                                   true);
        QCOMPARE(probe.out, QString::fromStdString(vm::notPermittedLine({127, 0, 0, 1})));
    }
};

QTEST_GUILESS_MAIN(TestRawPrivilege)
#include "tst_rawprivilege.moc"
