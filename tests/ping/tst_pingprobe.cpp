// The probe against real sockets: loopback here, and inside network namespaces that the
// test makes for itself (loopback only, no route out) to get silence, a refused socket
// and a resolver of our own. Namespaces need root; elsewhere those cases are skipped.
#include "probe/probe.h"
#include "support/test_namespace.h"

#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

using vm::test::Run;
using vm::test::TestNamespace;

const QString kLoopback = QStringLiteral("127.0.0.1");
const QString kAnyUser = QStringLiteral("0 2147483647");
const QString kNoUser = QStringLiteral("1 0"); // the stock setting: nobody gets a ping socket

// Checks a reply line from `from`; the round-trip time must lie within the wait.
void verifyReply(const QString& line, const QString& from, const QString& ttl = QString()) {
    static const QRegularExpression form(
        QStringLiteral(R"(^Reply From ([\d.]+): Bytes=0 Time=(\d+)ms TTL=(\d+)$)"));
    const auto match = form.match(line);
    QVERIFY2(match.hasMatch(), qPrintable(line));
    QCOMPARE(match.captured(1), from);
    QVERIFY(match.captured(2).toInt() < 2700);
    if (!ttl.isEmpty())
        QCOMPARE(match.captured(3), ttl);
}

} // namespace

class TestPingProbe : public QObject {
    Q_OBJECT
    QTemporaryDir helperDir_;
    QString helper_;

private slots:
    // A copy of the helper that the unprivileged user can run wherever the build lies.
    void initTestCase() {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(helperDir_.isValid());
        helper_ = helperDir_.filePath(QStringLiteral("ping_probe_helper"));
        QVERIFY(QFile::copy(QStringLiteral(PING_PROBE_HELPER), helper_));
        const auto readAndRun = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                                QFile::ExeOther;
        QVERIFY(QFile::setPermissions(helperDir_.path(), readAndRun));
        QVERIFY(QFile::setPermissions(helper_, readAndRun));
    }

    void replyFromLoopback() {
        const QString line = QString::fromStdString(vm::pingResultLine(kLoopback.toStdString()));
        if (line.startsWith(QStringLiteral("Ping: Not permitted")))
            QSKIP("this user may not send ICMP here (net.ipv4.ping_group_range, CAP_NET_RAW)");
        verifyReply(line, kLoopback);
    }

    // Each socket kind as the system grants it; the reply's time to live is the
    // namespace's default (77), not the request's 255.
    void socketKindsInNamespace_data() {
        QTest::addColumn<QString>("groupRange");
        QTest::addColumn<bool>("asNobody");
        QTest::addColumn<QString>("option");
        QTest::addColumn<bool>("permitted");

        QTest::newRow("ping socket, ordinary user") << kAnyUser << true << QString() << true;
        QTest::newRow("raw socket, root") << kNoUser << false << "--socket=raw" << true;
        QTest::newRow("fallback to raw, root") << kNoUser << false << QString() << true;
        QTest::newRow("neither, ordinary user") << kNoUser << true << QString() << false;
    }

    void socketKindsInNamespace() {
        QFETCH(QString, groupRange);
        QFETCH(bool, asNobody);
        QFETCH(QString, option);
        QFETCH(bool, permitted);
        REQUIRE_NAMESPACE(ns);
        QVERIFY(ns.sysctl(QStringLiteral("net.ipv4.ping_group_range"), groupRange));
        QVERIFY(ns.sysctl(QStringLiteral("net.ipv4.ip_default_ttl"), QStringLiteral("77")));
        QStringList command{helper_, option, kLoopback};
        command.removeAll(QString()); // without an option the helper picks the socket kind
        const Run probe = ns.exec(command, asNobody);
        QVERIFY2(probe.ok, qPrintable(probe.err));
        if (permitted)
            verifyReply(probe.out, kLoopback, QStringLiteral("77"));
        else
            QCOMPARE(probe.out, QString::fromStdString(vm::notPermittedLine({127, 0, 0, 1})));
    }

    // Loopback ignores echo requests: the raw socket sees only our own request, which
    // must not count as an answer.
    void noAnswerAfterTheWait_data() {
        QTest::addColumn<QString>("option");
        QTest::newRow("ping socket") << "--socket=ping";
        QTest::newRow("raw socket") << "--socket=raw";
    }

    void noAnswerAfterTheWait() {
        QFETCH(QString, option);
        REQUIRE_NAMESPACE(ns);
        QVERIFY(ns.sysctl(QStringLiteral("net.ipv4.ping_group_range"), kAnyUser));
        QVERIFY(ns.sysctl(QStringLiteral("net.ipv4.icmp_echo_ignore_all"), QStringLiteral("1")));
        const Run probe = ns.exec({helper_, option, kLoopback}, false);
        QVERIFY2(probe.ok, qPrintable(probe.err));
        QCOMPARE(probe.out, QStringLiteral("No answer from 127.0.0.1"));
        QVERIFY2(probe.elapsedMs >= 2700 && probe.elapsedMs < 6000,
                 qPrintable(QString::number(probe.elapsedMs)));
    }

    // Look-ups with the namespace's own hosts and resolver files: a name server on its
    // loopback that is not there, so an unknown name fails at once and nothing leaves.
    void lookUpInNamespace_data() {
        QTest::addColumn<QString>("boxText");
        QTest::addColumn<QString>("replyFrom"); // empty: unknown host
        QTest::newRow("unknown, blanks kept")
            << QStringLiteral("  no-such-host.invalid ") << QString();
        QTest::newRow("hosts name")
            << QStringLiteral("loop.invalid") << QStringLiteral("127.0.0.9");
        QTest::newRow("hosts name, trimmed")
            << QStringLiteral("  loop.invalid ") << QStringLiteral("127.0.0.9");
    }

    void lookUpInNamespace() {
        QFETCH(QString, boxText);
        QFETCH(QString, replyFrom);
        REQUIRE_NAMESPACE(ns);
        QVERIFY(ownResolver(ns));
        const Run probe = ns.exec({helper_, boxText}, false);
        QVERIFY2(probe.ok, qPrintable(probe.err));
        if (!replyFrom.isEmpty())
            return verifyReply(probe.out, replyFrom);
        QCOMPARE(probe.out, QStringLiteral("Ping: Unknown Host ") + boxText);
        QVERIFY2(probe.elapsedMs < 2000, qPrintable(QString::number(probe.elapsedMs)));
    }

    // A name with several addresses is probed at the first one the name service lists,
    // whether or not it is reachable. Only the look-up runs: nothing is sent to 10.9.9.9.
    void firstAddressInListedOrder_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("first");
        QTest::newRow("unreachable first") << "two.invalid"
                                           << "10.9.9.9";
        QTest::newRow("loopback first") << "other.invalid"
                                        << "127.0.0.8";
    }

    void firstAddressInListedOrder() {
        QFETCH(QString, name);
        QFETCH(QString, first);
        REQUIRE_NAMESPACE(ns);
        QVERIFY(ownResolver(ns));
        const Run lookUp = ns.exec({helper_, "--resolve", name}, false);
        QVERIFY2(lookUp.ok, qPrintable(lookUp.err));
        QCOMPARE(lookUp.out, first);
    }

private:
    // Hosts and resolver files of the namespace's own, with a name server on its loopback
    // that is not there.
    static bool ownResolver(const TestNamespace& ns) {
        return ns.etcFile(QStringLiteral("resolv.conf"),
                          "nameserver 127.0.0.1\noptions timeout:1 attempts:1\n") &&
               ns.etcFile(QStringLiteral("hosts"), "127.0.0.1 localhost\n"
                                                   "127.0.0.9 loop.invalid\n"
                                                   "10.9.9.9 two.invalid\n"
                                                   "127.0.0.8 two.invalid\n"
                                                   "127.0.0.8 other.invalid\n"
                                                   "10.9.9.9 other.invalid\n") &&
               ns.etcFile(QStringLiteral("nsswitch.conf"), "hosts: files dns\n");
    }
};

QTEST_GUILESS_MAIN(TestPingProbe)
#include "tst_pingprobe.moc"
