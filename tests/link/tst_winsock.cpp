// What the device-link tests cannot see of the socket layer: dropped stale events, the
// connect time-out, and what GetData hands out of one arrival.
#include "link/winsock.h"

#include "link_fixture.h"

#include <QSignalSpy>
#include <QTest>

using vm::Winsock;

namespace {

void aim(Winsock& socket, quint16 port) {
    socket.RemoteHost = QStringLiteral("127.0.0.1");
    socket.RemotePort = port;
}

} // namespace

class TestWinsock : public QObject {
    Q_OBJECT
private slots:
    void staleEventsOfAnAbandonedAttemptAreDropped();
    void connectTimesOut();
    void oneReadIsOneArrival();
};

void TestWinsock::staleEventsOfAnAbandonedAttemptAreDropped() {
    FakeModule module;
    Winsock socket;
    QSignalSpy connected(&socket, &Winsock::ConnectEvent);
    aim(socket, module.port());
    socket.Connect();
    QVERIFY(socket.waitForConnect(1000)); // the event is now queued
    socket.Close();
    QTest::qWait(50);
    QCOMPARE(connected.count(), 0);

    // Connect again while an attempt's event is queued: only the new attempt reports.
    socket.Connect();
    QVERIFY(socket.waitForConnect(1000));
    socket.Connect();
    QVERIFY(connected.wait(5000));
    QTest::qWait(20);
    QCOMPARE(connected.count(), 1);
}

void TestWinsock::connectTimesOut() {
    FullListener listener;
    Winsock socket;
    socket.setConnectTimeout(300);
    QSignalSpy connected(&socket, &Winsock::ConnectEvent);
    QSignalSpy failed(&socket, &Winsock::ErrorEvent);
    aim(socket, listener.port());
    socket.Connect();
    QVERIFY(failed.wait(5000) || !connected.isEmpty());
    if (!connected.isEmpty())
        QSKIP("this kernel completed a connect to a full accept queue");
    QVERIFY2(failed.at(0).at(0).toString().contains("timed out"),
             qPrintable(failed.at(0).at(0).toString()));
    QCOMPARE(socket.State(), Winsock::kError);
}

void TestWinsock::oneReadIsOneArrival() {
    FakeModule module;
    Winsock socket;
    QSignalSpy connected(&socket, &Winsock::ConnectEvent);
    QSignalSpy arrivals(&socket, &Winsock::DataArrival);
    aim(socket, module.port());
    socket.Connect();
    QVERIFY(connected.wait(5000));
    QTRY_VERIFY(module.latest());

    module.latest()->write(QByteArray(66, 'x'));
    QVERIFY(arrivals.wait(5000));
    QCOMPARE(arrivals.at(0).at(0).toLongLong(), 66);
    QCOMPARE(socket.GetData(10), QByteArray(10, 'x'));
    QCOMPARE(socket.GetData(100), QByteArray(56, 'x'));

    // Bytes left unread are not carried into the next arrival.
    module.latest()->write("ab");
    QVERIFY(arrivals.wait(5000));
    module.latest()->write("cde");
    QVERIFY(arrivals.wait(5000));
    QCOMPARE(arrivals.at(2).at(0).toLongLong(), 3);
    QCOMPARE(socket.GetData(100), QByteArray("cde"));
}

QTEST_MAIN(TestWinsock)
#include "tst_winsock.moc"
