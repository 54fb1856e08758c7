#include "log/errorbox.h"
#include "log/logfile.h"
#include "log/startup.h"
#include "log/timestamp.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

namespace {
QByteArray readAll(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray("<missing>");
    return file.readAll();
}

void pinLocal(const QDate& date, const QTime& time) {
    const QDateTime reading(date, time, Qt::LocalTime);
    vm::setClock([reading] { return reading; });
}
} // namespace

class LogFileTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void cleanup() {
        vm::setClock({});
        vm::setProgramFolder({});
        vm::setErrorBoxHandler({});
    }

    void fileName_data() {
        QTest::addColumn<QDate>("date");
        QTest::addColumn<QString>("name");
        QTest::newRow("padded month and day") << QDate(2024, 3, 1) << "20240301.txt";
        QTest::newRow("year end") << QDate(2023, 12, 31) << "20231231.txt";
        QTest::newRow("leap day") << QDate(2028, 2, 29) << "20280229.txt";
    }
    void fileName() {
        QFETCH(QDate, date);
        QFETCH(QString, name);
        QCOMPARE(vm::dailyLogFileName(date), name);
    }

    void appendsWithCrLfAndKeepsContent() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("20240301.txt"));
        {
            QFile seed(path);
            QVERIFY(seed.open(QIODevice::WriteOnly));
            seed.write("earlier\r\n");
        }
        QVERIFY(vm::appendLogEntry(path, QStringLiteral("\r\n[01:02:03.004] RECV : 4E\r\n")));
        QVERIFY(vm::appendLogEntry(path, QStringLiteral("second")));
        QCOMPARE(readAll(path),
                 QByteArray("earlier\r\n\r\n[01:02:03.004] RECV : 4E\r\n\r\nsecond\r\n"));
    }

    // Entries on either side of local midnight go to two files named after the local date,
    // while their stamps stay UTC.
    void writeLogFileFollowsLocalDate() {
        QTemporaryDir dir;
        vm::setProgramFolder(dir.path());
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("Log")));
        pinLocal(QDate(2024, 3, 1), QTime(23, 59, 59, 999));
        basPing::WriteLogFile(QStringLiteral("before"));
        pinLocal(QDate(2024, 3, 2), QTime(0, 0, 0, 0));
        basPing::WriteLogFile(QStringLiteral("after"));
        QCOMPARE(readAll(dir.filePath(QStringLiteral("Log/20240301.txt"))),
                 QByteArray("before\r\n"));
        QCOMPARE(readAll(dir.filePath(QStringLiteral("Log/20240302.txt"))),
                 QByteArray("after\r\n"));
    }

    // Every failure of the writer is swallowed: the entry is lost, nothing else happens.
    void writerFailures_data() {
        QTest::addColumn<QString>("setup");
        QTest::newRow("no Log folder") << "none";
        QTest::newRow("plain file named Log") << "file";
        QTest::newRow("folder in place of the day's file") << "dirfile";
        QTest::newRow("read-only folder") << "readonly";
    }
    void writerFailures() {
        QFETCH(QString, setup);
        QTemporaryDir dir;
        vm::setProgramFolder(dir.path());
        pinLocal(QDate(2024, 3, 1), QTime(12, 0));
        const QString log = dir.filePath(QStringLiteral("Log"));
        if (setup == QLatin1String("file")) {
            QFile plain(log);
            QVERIFY(plain.open(QIODevice::WriteOnly));
        } else if (setup == QLatin1String("dirfile")) {
            QVERIFY(QDir().mkpath(log + QStringLiteral("/20240301.txt")));
        } else if (setup == QLatin1String("readonly")) {
            if (::geteuid() == 0)
                QSKIP("root writes into read-only folders; the hostile-input suite covers it");
            QVERIFY(QDir().mkpath(log));
            QFile::setPermissions(log, QFile::ReadOwner | QFile::ExeOwner);
        }
        basPing::WriteLogFile(QStringLiteral("lost"));
        QVERIFY(!QFile::exists(log + QStringLiteral("/20240301.txt")) ||
                QFileInfo(log + QStringLiteral("/20240301.txt")).isDir());
        QFile::setPermissions(log, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    void fullDiskReportsFailure() {
        if (!QFile::exists(QStringLiteral("/dev/full")))
            QSKIP("no /dev/full on this system");
        QVERIFY(!vm::appendLogEntry(QStringLiteral("/dev/full"), QStringLiteral("lost")));
    }

    void makeLogFolder_data() {
        QTest::addColumn<QString>("existing");
        QTest::addColumn<bool>("expectDir");
        QTest::newRow("missing: created") << "" << true;
        QTest::newRow("folder present") << "dir" << true;
        QTest::newRow("plain file named Log counts as present") << "file" << false;
    }
    void makeLogFolder() {
        QFETCH(QString, existing);
        QFETCH(bool, expectDir);
        QTemporaryDir dir;
        vm::setProgramFolder(dir.path() + QStringLiteral("/"));
        const QString log = dir.filePath(QStringLiteral("Log"));
        if (existing == QLatin1String("dir"))
            QVERIFY(QDir().mkdir(log));
        if (existing == QLatin1String("file")) {
            QFile plain(log);
            QVERIFY(plain.open(QIODevice::WriteOnly));
        }
        QCOMPARE(basPing::MakeLogFolder(), std::nullopt);
        QCOMPARE(QFileInfo(log).isDir(), expectDir);
        QVERIFY(QFileInfo::exists(log));
    }

    // When the folder cannot be made, start-up shows an error naming the failure and ends
    // with a non-zero status without creating the window.
    void startupFailsWithoutWindow() {
        QTemporaryDir dir;
        const QString notAFolder = dir.filePath(QStringLiteral("program"));
        {
            QFile plain(notAFolder);
            QVERIFY(plain.open(QIODevice::WriteOnly));
        }
        vm::setProgramFolder(notAFolder);
        QStringList boxes;
        vm::setErrorBoxHandler([&boxes](const QString& text) { boxes << text; });
        bool windowMade = false;
        const int status = basPing::Main([&windowMade] {
            windowMade = true;
            return std::make_unique<QWidget>();
        });
        QCOMPARE(status, 1);
        QVERIFY(!windowMade);
        QCOMPARE(boxes.size(), 1);
        QVERIFY2(boxes.first().contains(QStringLiteral("program/Log")), qPrintable(boxes.first()));
    }
};

QTEST_MAIN(LogFileTest)
#include "tst_logfile.moc"
