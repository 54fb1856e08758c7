#include "log/logfile.h"
#include "log/logtest.h"
#include "log/mounts.h"
#include "log/timestamp.h"
#include "toolkit/errorbox.h"
#include "app/startup.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

using vmtest::pinLocal;
using vmtest::readAll;
using vmtest::writeFile;

class LogFileTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void cleanup() { vmtest::resetLogOverrides(); }

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
        QVERIFY(writeFile(path, "earlier\r\n"));
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
        vmtest::Mounts mounts;
        QTemporaryDir dir;
        vm::setProgramFolder(dir.path());
        pinLocal(QDate(2024, 3, 1), QTime(12, 0));
        const QString log = dir.filePath(QStringLiteral("Log"));
        if (setup == QLatin1String("file")) {
            QVERIFY(writeFile(log));
        } else if (setup == QLatin1String("dirfile")) {
            QVERIFY(QDir().mkpath(log + QStringLiteral("/20240301.txt")));
        } else if (setup == QLatin1String("readonly")) {
            QVERIFY(QDir().mkpath(log));
            if (::geteuid() == 0) {
                // Root writes through permission bits, so make the folder truly read-only.
                VM_REQUIRE_MOUNTS();
                QVERIFY2(mounts.readOnly(log), qPrintable(mounts.error()));
            } else {
                QFile::setPermissions(log, QFile::ReadOwner | QFile::ExeOwner);
            }
        }
        basPing::WriteLogFile(QStringLiteral("lost"));
        QVERIFY(!QFile::exists(log + QStringLiteral("/20240301.txt")) ||
                QFileInfo(log + QStringLiteral("/20240301.txt")).isDir());
        QFile::setPermissions(log, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    // Beside the program unless the program runs from the install tree's bin folder.
    void logFolderPlace_data() {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("installBin");
        QTest::addColumn<QString>("dataHome");
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("withParents");
        const auto row = [](const char* name, const char* program, const char* installBin,
                            const char* dataHome, const char* path, bool withParents) {
            QTest::newRow(name) << program << installBin << dataHome << path << withParents;
        };
        const char* bin = "/usr/local/bin";
        const char* data = "/home/u/.local/share";
        const char* dataLog = "/home/u/.local/share/vm3870sim/Log";
        row("build folder", "/home/u/src/build", bin, data, "/home/u/src/build/Log", false);
        row("installed", bin, bin, data, dataLog, true);
        row("installed, trailing separators", "/usr/local/bin/", bin, "/home/u/.local/share/",
            dataLog, true);
        row("other prefix's bin folder", "/opt/vm/bin", bin, data, "/opt/vm/bin/Log", false);
        row("no data folder known", bin, bin, "", "/usr/local/bin/Log", false);
        row("no install folder", bin, "", data, "/usr/local/bin/Log", false);
        row("similar name is another folder", "/usr/local/bin2", bin, "/d", "/usr/local/bin2/Log",
            false);
    }
    void logFolderPlace() {
        QFETCH(QString, program);
        QFETCH(QString, installBin);
        QFETCH(QString, dataHome);
        QFETCH(QString, path);
        QFETCH(bool, withParents);
        const vm::LogFolderPlace place = vm::logFolderPlace(program, installBin, dataHome);
        QCOMPARE(place.path, path);
        QCOMPARE(place.withParents, withParents);
    }

    // A link to the install folder is the install folder.
    void installedThroughSymlink() {
        QTemporaryDir dir;
        const QString bin = dir.filePath(QStringLiteral("usr/bin"));
        QVERIFY(QDir().mkpath(bin));
        QVERIFY(QFile::link(bin, dir.filePath(QStringLiteral("bin"))));
        const vm::LogFolderPlace place =
            vm::logFolderPlace(dir.filePath(QStringLiteral("bin")), bin, QStringLiteral("/d"));
        QCOMPARE(place.path, QStringLiteral("/d/vm3870sim/Log"));
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
        if (existing == QLatin1String("file"))
            QVERIFY(writeFile(log));
        QCOMPARE(basPing::MakeLogFolder(), std::nullopt);
        QCOMPARE(QFileInfo(log).isDir(), expectDir);
        QVERIFY(QFileInfo::exists(log));
    }

    // When the folder cannot be made, start-up shows an error naming the failure and ends
    // with a non-zero status without creating the window.
    void startupFailsWithoutWindow() {
        QTemporaryDir dir;
        const QString notAFolder = dir.filePath(QStringLiteral("program"));
        QVERIFY(writeFile(notAFolder));
        vm::setProgramFolder(notAFolder);
        vmtest::verifyRefusedStartup(vmtest::runStartup());
    }
};

VM_TEST_MAIN_WITH_MOUNTS(LogFileTest)
#include "tst_logfile.moc"
