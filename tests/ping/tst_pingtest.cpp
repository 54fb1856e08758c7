// Ping Start and Ping Stop: the state table, with a stand-in probe so that it runs fast.
#include "ping/pingtest.h"
#include "window/frmSim_3870.h"

#include <QAbstractItemModel>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

// The window's ping test, with a probe that logs "probe <box text>".
struct Rig {
    frmSim_3870 window;
    QLineEdit* box = window.txtDestIP;
    QPushButton* start = window.cmdPingStart;
    QPushButton* stop = window.cmdPingStop;
    QStringList log;
    vm::PingTest* test = window.ping;
    QList<bool> timerOnAtProbe;
    QElapsedTimer clock;
    QList<qint64> probedAt; // ms since the rig was made

    explicit Rig(bool standIn = true) {
        clock.start();
        box->setText(QStringLiteral("10.9.8.7"));
        QListWidget* list = window.List1;
        QObject::connect(list->model(), &QAbstractItemModel::rowsInserted, list,
                         [this, list](const QModelIndex&, int first, int last) {
                             for (int row = first; row <= last; ++row)
                                 log << list->item(row)->text();
                         });
        if (standIn)
            test->setProbe([this](const QString& text) {
                timerOnAtProbe << test->PingTimer->isActive();
                probedAt << clock.elapsed();
                return QStringLiteral("probe ") + text;
            });
    }
};

const QString kEnd = QStringLiteral("Ping Test End~!!");
const QString kProbe = QStringLiteral("probe 10.9.8.7");

} // namespace

class TestPingTest : public QObject {
    Q_OBJECT
private slots:
    // Clicks: S = Ping Start, T = Ping Stop, given as a string of buttons pressed in turn.
    void startAndStop_data() {
        QTest::addColumn<bool>("boxEnabledBefore");
        QTest::addColumn<QString>("clicks");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<bool>("running");
        QTest::addColumn<bool>("boxEnabledAfter");

        QTest::newRow("stop while idle") << true << "T" << QStringList{} << false << true;
        QTest::newRow("stop while idle keeps a locked box")
            << false << "T" << QStringList{} << false << false;
        QTest::newRow("start") << true << "S" << QStringList{kProbe} << true << false;
        QTest::newRow("start twice")
            << true << "SS" << QStringList{kProbe, kProbe} << true << false;
        QTest::newRow("start, stop") << true << "ST" << QStringList{kProbe, kEnd} << false << true;
        QTest::newRow("stop twice ends once")
            << true << "STT" << QStringList{kProbe, kEnd} << false << true;
        QTest::newRow("stop unlocks a box locked before")
            << false << "ST" << QStringList{kProbe, kEnd} << false << true;
        QTest::newRow("start again after stop")
            << true << "STS" << QStringList{kProbe, kEnd, kProbe} << true << false;
    }

    void startAndStop() {
        QFETCH(bool, boxEnabledBefore);
        QFETCH(QString, clicks);
        QFETCH(QStringList, lines);
        QFETCH(bool, running);
        QFETCH(bool, boxEnabledAfter);
        Rig rig;
        rig.box->setEnabled(boxEnabledBefore);
        for (const QChar c : clicks)
            (c == u'S' ? rig.start : rig.stop)->click();
        QCOMPARE(rig.log, lines);
        QCOMPARE(rig.test->PingTimer->isActive(), running);
        QCOMPARE(rig.box->isEnabled(), boxEnabledAfter);
    }

    // The start probe runs before the timer; the ticks follow one second apart. A precise timer
    // keeps its beat, so one late tick makes the next gap a little shorter, never 5 % short as
    // a coarse timer's early ticks do.
    void firstProbeBeforeTheTimerThenTicks() {
        Rig rig;
        QCOMPARE(rig.test->PingTimer->objectName(), QStringLiteral("PingTimer"));
        QCOMPARE(rig.test->PingTimer->interval(), 1000);
        QCOMPARE(rig.test->PingTimer->timerType(), Qt::PreciseTimer);
        rig.start->click();
        QCOMPARE(rig.timerOnAtProbe, QList<bool>{false});
        QTRY_COMPARE_WITH_TIMEOUT(rig.probedAt.size(), 3, 5000);
        for (int i = 1; i < rig.probedAt.size(); ++i)
            QVERIFY2(rig.probedAt[i] - rig.probedAt[i - 1] >= 980,
                     qPrintable(QString::number(rig.probedAt[i] - rig.probedAt[i - 1])));
        QCOMPARE(rig.log, (QStringList{kProbe, kProbe, kProbe}));
        rig.stop->click();
        QCOMPARE(rig.log.last(), kEnd);
    }

    void shutdownStopsSilently() {
        Rig rig;
        rig.start->click();
        rig.test->shutdown();
        QVERIFY(!rig.test->PingTimer->isActive());
        QCOMPARE(rig.log, QStringList{kProbe});
    }

    // The real probe is the one behind the button.
    void realProbeOnLoopback() {
        Rig rig(false);
        rig.box->setText(QStringLiteral(" 127.0.0.1 "));
        rig.start->click();
        rig.test->shutdown();
        QCOMPARE(rig.log.size(), 1);
        if (rig.log[0].startsWith(QStringLiteral("Ping: Not permitted")))
            QSKIP("this user may not send ICMP (see net.ipv4.ping_group_range or CAP_NET_RAW)");
        QVERIFY2(rig.log[0].startsWith(QStringLiteral("Reply From 127.0.0.1: Bytes=0 Time=")),
                 qPrintable(rig.log[0]));
    }
};

QTEST_MAIN(TestPingTest)
#include "tst_pingtest.moc"
