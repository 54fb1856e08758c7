// The daily log file and start-up against real file-system faults: a folder deleted or
// replaced while the program runs, a read-only mount, a full disk, a pipe in the file's
// place, and an unwritable program folder at start-up.

#include "log/logfile.h"
#include "log/loglist.h"
#include "log/logtest.h"
#include "log/mounts.h"
#include "log/timestamp.h"
#include "toolkit/errorbox.h"
#include "app/startup.h"

#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <sys/stat.h>
#include <unistd.h>

namespace {
using vmtest::readAll;

// Fills the file system that holds the folder until nothing more fits.
void fillUp(const QString& folder) {
    QFile filler(folder + QStringLiteral("/filler"));
    QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
    const QByteArray block(1024, 'f');
    for (int i = 0; i < 1024 && filler.write(block) == block.size(); ++i) {
    }
}

// One WriteLogFile call that must come back: a hang ends the test by SIGALRM.
void writeEntry(const QString& text) {
    ::alarm(20);
    basPing::WriteLogFile(text);
    ::alarm(0);
}
} // namespace

class LogFileFaultsTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void init() { vmtest::pinLocal(QDate(2024, 3, 1), QTime(12, 0)); }
    void cleanup() { vmtest::resetLogOverrides(); }

    // A fault appears while the program runs: entries are lost whole and silently, no
    // call blocks, the list keeps its lines, and once the fault is gone the next entry
    // is written again.
    void entriesLostThenWrittenAgain_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<bool>("mounts");
        QTest::addColumn<QByteArray>("afterFault");
        QTest::addColumn<QByteArray>("afterRepair");
        QTest::newRow("folder deleted, made again at the next start")
            << "deleted" << false << QByteArray("<missing>") << QByteArray("again\r\n");
        QTest::newRow("plain file named Log in its place")
            << "plain" << false << QByteArray("<missing>") << QByteArray("again\r\n");
        QTest::newRow("pipe without a reader in the file's place")
            << "fifo" << false << QByteArray("<missing>") << QByteArray("again\r\n");
        QTest::newRow("read-only mount")
            << "readonly" << true << QByteArray("first\r\n") << QByteArray("first\r\nagain\r\n");
        QTest::newRow("full disk, then space freed")
            << "full" << true << QByteArray("first\r\n") << QByteArray("first\r\nagain\r\n");
    }
    void entriesLostThenWrittenAgain() {
        QFETCH(QString, fault);
        QFETCH(bool, mounts);
        QFETCH(QByteArray, afterFault);
        QFETCH(QByteArray, afterRepair);
        if (mounts)
            VM_REQUIRE_MOUNTS();
        vmtest::Mounts mounted;
        QTemporaryDir dir;
        vm::setProgramFolder(dir.path());
        const QString log = dir.filePath(QStringLiteral("Log"));
        const QString day = log + QStringLiteral("/20240301.txt");
        if (fault == QLatin1String("full"))
            QVERIFY(QDir().mkdir(log) && mounted.tmpfs(log, 16));
        QCOMPARE(basPing::MakeLogFolder(), std::nullopt);
        writeEntry(QStringLiteral("first"));
        QCOMPARE(readAll(day), QByteArray("first\r\n"));

        if (fault == QLatin1String("deleted")) {
            QVERIFY(QDir(log).removeRecursively());
        } else if (fault == QLatin1String("plain")) {
            QVERIFY(QDir(log).removeRecursively());
            QVERIFY(vmtest::writeFile(log));
        } else if (fault == QLatin1String("fifo")) {
            QVERIFY(QFile::remove(day));
            QCOMPARE(::mkfifo(QFile::encodeName(day).constData(), 0644), 0);
        } else if (fault == QLatin1String("readonly")) {
            QVERIFY2(mounted.readOnly(log), qPrintable(mounted.error()));
        } else if (fault == QLatin1String("full")) {
            fillUp(log);
        }

        // Entries larger than what is left of the file's last block, so that a full disk
        // takes part of the entry before it refuses the rest.
        const QString big(6000, QLatin1Char('x'));
        QListWidget list;
        for (int i = 0; i < 3; ++i) {
            vm::addLogLine(list, QStringLiteral("line %1").arg(i));
            writeEntry(big);
        }
        QCOMPARE(list.count(), 3);
        QCOMPARE(list.currentItem()->text(), QStringLiteral("line 2"));
        if (fault == QLatin1String("fifo"))
            QVERIFY(QFileInfo(day).isFile() == false);
        else
            QCOMPARE(readAll(day), afterFault);

        if (fault == QLatin1String("deleted")) {
            QCOMPARE(basPing::MakeLogFolder(), std::nullopt);
        } else if (fault == QLatin1String("plain")) {
            QVERIFY(QFile::remove(log));
            QCOMPARE(basPing::MakeLogFolder(), std::nullopt);
        } else if (fault == QLatin1String("fifo")) {
            QVERIFY(QFile::remove(day));
        } else if (fault == QLatin1String("readonly")) {
            mounted.unmount(log);
        } else if (fault == QLatin1String("full")) {
            QVERIFY(QFile::remove(log + QStringLiteral("/filler")));
        }
        writeEntry(QStringLiteral("again"));
        QCOMPARE(readAll(day), afterRepair);
    }

    // A device that refuses every byte: the call reports the loss and nothing else.
    void deviceWithoutSpace() {
        if (!QFile::exists(QStringLiteral("/dev/full")))
            QSKIP("no /dev/full on this system");
        QVERIFY(!vm::appendLogEntry(QStringLiteral("/dev/full"), QStringLiteral("lost")));
    }

    // Start-up in a program folder nobody may write: one error box that names the folder
    // and the reason, status 1, and no window.
    void startupInReadOnlyProgramFolder() {
        VM_REQUIRE_MOUNTS();
        vmtest::Mounts mounted;
        QTemporaryDir dir;
        const QString program = dir.filePath(QStringLiteral("program"));
        QVERIFY(QDir().mkdir(program));
        QVERIFY2(mounted.readOnly(program), qPrintable(mounted.error()));
        vm::setProgramFolder(program);
        vmtest::verifyRefusedStartup(vmtest::runStartup(), QStringLiteral("Read-only"));
    }

    // An installed program in a read-only bin folder starts, and its Log folder is made,
    // parents included, under the user's data folder.
    void installedProgramStarts() {
        VM_REQUIRE_MOUNTS();
        vmtest::Mounts mounted;
        QTemporaryDir dir;
        const QString bin = dir.filePath(QStringLiteral("usr/bin"));
        QVERIFY(QDir().mkpath(bin));
        QVERIFY2(mounted.readOnly(bin), qPrintable(mounted.error()));
        vm::setProgramFolder(bin);
        vm::setInstallBinFolder(bin);
        const QString dataHome =
            QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
        const QString ours = dataHome + QStringLiteral("/vm3870sim");
        QDir(ours).removeRecursively();
        QCOMPARE(vm::logFolder(), ours + QStringLiteral("/Log"));

        const vmtest::StartupRun run = vmtest::runStartup();
        QCOMPARE(run.status, 0);
        QVERIFY(run.windowMade);
        QCOMPARE(run.boxes, QStringList());
        QVERIFY(QFileInfo(ours + QStringLiteral("/Log")).isDir());
        writeEntry(QStringLiteral("entry"));
        QCOMPARE(readAll(ours + QStringLiteral("/Log/20240301.txt")), QByteArray("entry\r\n"));
        QVERIFY(QDir(ours).removeRecursively());
    }
};

VM_TEST_MAIN_WITH_MOUNTS(LogFileFaultsTest)
#include "tst_logfile_faults.moc"
