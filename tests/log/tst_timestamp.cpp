#include "log/timestamp.h"

#include <QRegularExpression>
#include <QTest>
#include <QTimeZone>

class TimeStampTest : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { vm::setClock({}); }

    // The stamp is UTC whatever zone the clock reading carries.
    void stampIgnoresLocalZone_data() {
        QTest::addColumn<QDateTime>("reading");
        QTest::addColumn<QString>("stamp");
        const QTimeZone plusNine(9 * 3600);
        const QTimeZone minusFive(-5 * 3600);
        QTest::newRow("UTC+9 evening")
            << QDateTime(QDate(2024, 3, 1), QTime(18, 0), plusNine) << "[09:00:00.000]";
        QTest::newRow("UTC+9 early morning, previous UTC day")
            << QDateTime(QDate(2024, 3, 1), QTime(3, 4, 5, 6), plusNine) << "[18:04:05.006]";
        QTest::newRow("UTC-5 late evening, next UTC day")
            << QDateTime(QDate(2024, 12, 31), QTime(23, 59, 59, 999), minusFive)
            << "[04:59:59.999]";
        QTest::newRow("UTC itself")
            << QDateTime(QDate(2024, 3, 1), QTime(0, 0), QTimeZone::utc()) << "[00:00:00.000]";
    }
    void stampIgnoresLocalZone() {
        QFETCH(QDateTime, reading);
        QFETCH(QString, stamp);
        vm::setClock([reading] { return reading; });
        QCOMPARE(basPing::GetTimeStamp(), stamp);
    }

    void systemClockStampHasTheForm() {
        const QString stamp = basPing::GetTimeStamp();
        QVERIFY2(QRegularExpression(QStringLiteral("^\\[\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d\\]$"))
                     .match(stamp)
                     .hasMatch(),
                 qPrintable(stamp));
    }
};

QTEST_GUILESS_MAIN(TimeStampTest)
#include "tst_timestamp.moc"
