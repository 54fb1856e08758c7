#include "log/loglist.h"

#include <QListWidget>
#include <QScrollBar>
#include <QTest>

class LogListTest : public QObject {
    Q_OBJECT
private slots:
    void limit_data() {
        QTest::addColumn<int>("before");
        QTest::addColumn<int>("after");
        QTest::addColumn<QString>("oldestAfter");
        QTest::newRow("empty") << 0 << 1 << "new";
        QTest::newRow("999 grow") << 999 << 1000 << "line 0";
        QTest::newRow("1000 grows to 1001") << 1000 << 1001 << "line 0";
        QTest::newRow("1001 stays 1001") << 1001 << 1001 << "line 1";
    }
    void limit() {
        QFETCH(int, before);
        QFETCH(int, after);
        QFETCH(QString, oldestAfter);
        QListWidget list;
        for (int i = 0; i < before; ++i)
            list.addItem(QStringLiteral("line %1").arg(i));
        vm::addLogLine(list, QStringLiteral("new"));
        QCOMPARE(list.count(), after);
        QCOMPARE(list.item(0)->text(), oldestAfter);
        QCOMPARE(list.item(list.count() - 1)->text(), QStringLiteral("new"));
        QCOMPARE(list.currentRow(), list.count() - 1);
        QVERIFY(list.item(list.count() - 1)->isSelected());
    }

    void manyAdditionsStayBounded() {
        QListWidget list;
        list.setUniformItemSizes(true);
        for (int i = 0; i < 5000; ++i)
            vm::addLogLine(list, QString::number(i));
        QCOMPARE(list.count(), vm::kLogListLimit + 1);
        QCOMPARE(list.item(0)->text(), QStringLiteral("3999"));
        QCOMPARE(list.currentItem()->text(), QStringLiteral("4999"));
    }

    void textKeptAsOneEntry() {
        QListWidget list;
        const QString text = QStringLiteral("ping: Unknown Host 10.0.0.1\r\n");
        vm::addLogLine(list, text);
        QCOMPARE(list.count(), 1);
        QCOMPARE(list.item(0)->text(), text);
    }

    // A burst of lines is in the list at once, but painted together a moment later.
    void burstIsPaintedTogether() {
        QListWidget list;
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        vm::addLogLine(list, QStringLiteral("first"));
        QVERIFY(list.updatesEnabled()); // a line after a quiet spell is painted at once
        for (int i = 0; i < 50; ++i)
            vm::addLogLine(list, QString::number(i));
        QCOMPARE(list.count(), 51);
        QCOMPARE(list.currentItem()->text(), QStringLiteral("49"));
        QTRY_VERIFY_WITH_TIMEOUT(list.updatesEnabled(), 2000);
    }

    // A long line keeps its whole width however many shorter lines follow it, and the list
    // scrolls sideways to its end.
    void longLineReadableWhole() {
        QListWidget list;
        list.setUniformItemSizes(true);
        list.resize(300, 100);
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        const QString longLine = QStringLiteral("[12:00:00.000] RECV : ") + QString(114, u'F');
        for (const QString& line : {QStringLiteral("short"), longLine, QStringLiteral("1")})
            vm::addLogLine(list, line);
        QCoreApplication::processEvents();
        const int textWidth = list.fontMetrics().horizontalAdvance(longLine);
        QVERIFY(list.visualItemRect(list.item(1)).width() > textWidth);
        QVERIFY(list.horizontalScrollBar()->maximum() + list.viewport()->width() > textWidth);
    }

    void newestScrolledIntoView() {
        QListWidget list;
        list.resize(200, 100);
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        for (int i = 0; i < 200; ++i)
            vm::addLogLine(list, QString::number(i));
        const QRect newest = list.visualItemRect(list.item(list.count() - 1));
        QVERIFY(list.viewport()->rect().contains(newest));
    }
};

QTEST_MAIN(LogListTest)
#include "tst_loglist.moc"
