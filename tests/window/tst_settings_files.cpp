// Hand-edited, damaged and odd settings files: the window still starts, shows what the
// file holds, and loading never changes a stored value behind the user's back.

#include "window/frmSim_3870.h"
#include "window/settings.h"

#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>

namespace {
const QString kDefaultAddress = QStringLiteral("192.168.1.110");
const QString kDefaultPort = QStringLiteral("4000");
const QString kDefaultInterval = QStringLiteral("1");

// Writes the file as an editor would. The program keeps one store per process and
// rereads it when the file's time or size changed, so each write gets a time of its own.
void writeStore(const QByteArray& bytes) {
    static QDateTime stamp = QDateTime::currentDateTimeUtc().addDays(-1);
    stamp = stamp.addSecs(1);
    QFile file(vm::settingsFilePath());
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
    QVERIFY(file.flush());
    QVERIFY(file.setFileTime(stamp, QFileDevice::FileModificationTime));
}

// What the next start of the program would read under the key.
QString storedText(const char* key, const QString& fallback) {
    return vm::GetSetting(QLatin1String(key), fallback);
}

QByteArray section(const QByteArray& body) {
    return QByteArrayLiteral("[vm3870sim]\n") + body;
}

struct Shown {
    QString address;
    QString port;
    QString interval;
};

Shown load() {
    frmSim_3870 window;
    return {window.txtDestIP->text(), window.txtDestPort->text(), window.cboTime->currentText()};
}
} // namespace

class SettingsFilesTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(vm::settingsFilePath().contains(QLatin1String(".qttest")));
        QVERIFY(QDir().mkpath(QFileInfo(vm::settingsFilePath()).path()));
    }
    void init() { QFile::remove(vm::settingsFilePath()); }
    void cleanupTestCase() { QFile::remove(vm::settingsFilePath()); }

    // Every awkward value, the same in all three keys: shown whole, kept whole.
    void awkwardStoredValues_data() {
        QTest::addColumn<QByteArray>("raw");
        QTest::addColumn<QString>("text");
        QTest::newRow("empty") << QByteArray() << QString();
        QTest::newRow("port out of range") << QByteArray("70000") << QStringLiteral("70000");
        QTest::newRow("negative") << QByteArray("-1") << QStringLiteral("-1");
        QTest::newRow("fraction") << QByteArray("40.5") << QStringLiteral("40.5");
        QTest::newRow("exponent") << QByteArray("1e9") << QStringLiteral("1e9");
        QTest::newRow("letters") << QByteArray("abc") << QStringLiteral("abc");
        QTest::newRow("thousand characters")
            << QByteArray(1000, '7') << QString(1000, QLatin1Char('7'));
        QTest::newRow("UTF-8 non-ASCII")
            << QByteArray("\xec\xa3\xbc\xec\x86\x8c \xc3\x9c") << QStringLiteral("주소 Ü");
        QTest::newRow("quoted with blanks")
            << QByteArray("\"  10.0.0.1  \"") << QStringLiteral("  10.0.0.1  ");
        QTest::newRow("escaped non-ASCII") << QByteArray("\\xdc\\x20ac") << QStringLiteral("Ü€");
    }
    void awkwardStoredValues() {
        QFETCH(QByteArray, raw);
        QFETCH(QString, text);
        writeStore(section("ADDRESS=" + raw + "\nPORT=" + raw + "\nINTERVAL=" + raw + "\n"));
        const Shown shown = load();
        QCOMPARE(shown.address, text);
        QCOMPARE(shown.port, text);
        QCOMPARE(shown.interval, text);
        QCOMPARE(storedText("ADDRESS", kDefaultAddress), text);
        QCOMPARE(storedText("PORT", kDefaultPort), text);
        QCOMPARE(storedText("INTERVAL", kDefaultInterval), text);
    }

    // Files a person or a crash may leave behind. Whatever the window shows is what the
    // store holds afterwards: loading writes nothing it did not read.
    void damagedFiles_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("interval");
        QTest::newRow("byte order mark")
            << QByteArray(
                   "\xef\xbb\xbf[vm3870sim]\r\nADDRESS=10.1.2.3\r\nPORT=81\r\nINTERVAL=3\r\n")
            << "10.1.2.3"
            << "81"
            << "3";
        QTest::newRow("truncated in the last value")
            << section("ADDRESS=10.1.2.3\nPORT=8") << "10.1.2.3"
            << "8" << kDefaultInterval;
        QTest::newRow("truncated in the section name")
            << QByteArray("[vm38") << kDefaultAddress << kDefaultPort << kDefaultInterval;
        QTest::newRow("truncated inside quotes")
            << section("ADDRESS=\"10.1") << "10.1" << kDefaultPort << kDefaultInterval;
        QTest::newRow("empty file")
            << QByteArray() << kDefaultAddress << kDefaultPort << kDefaultInterval;
        QTest::newRow("other section only") << QByteArray("[other]\nADDRESS=9.9.9.9\n")
                                            << kDefaultAddress << kDefaultPort << kDefaultInterval;
        QTest::newRow("keys outside any section")
            << QByteArray("ADDRESS=9.9.9.9\n") << kDefaultAddress << kDefaultPort
            << kDefaultInterval;
        QTest::newRow("lower-case key is another key")
            << section("address=9.9.9.9\n") << kDefaultAddress << kDefaultPort << kDefaultInterval;
        QTest::newRow("comment lines")
            << section("; note\nPORT=5\n# other\n") << kDefaultAddress << "5" << kDefaultInterval;
        QTest::newRow("no line end, CR only")
            << QByteArray("[vm3870sim]\rADDRESS=1.2.3.4\rPORT=6\r") << "1.2.3.4"
            << "6" << kDefaultInterval;
    }
    void damagedFiles() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, address);
        QFETCH(QString, port);
        QFETCH(QString, interval);
        writeStore(bytes);
        const Shown shown = load();
        QCOMPARE(shown.address, address);
        QCOMPARE(shown.port, port);
        QCOMPARE(shown.interval, interval);
        QCOMPARE(storedText("ADDRESS", QString()), address);
        QCOMPARE(storedText("PORT", QString()), port);
        QCOMPARE(storedText("INTERVAL", kDefaultInterval), interval);
    }

    // A duplicated key: the window shows one of the two, and that one is what stays.
    void duplicateKeys() {
        writeStore(section("PORT=1111\nPORT=2222\nADDRESS=1.1.1.1\n[vm3870sim]\nPORT=3333\n"));
        const Shown shown = load();
        QVERIFY2(shown.port == QLatin1String("1111") || shown.port == QLatin1String("2222") ||
                     shown.port == QLatin1String("3333"),
                 qPrintable(shown.port));
        QCOMPARE(shown.address, QStringLiteral("1.1.1.1"));
        QCOMPARE(storedText("PORT", QString()), shown.port);
    }

    // Unquoted commas make the store's reader split the value into a list; the text shown
    // and kept must still be the text of the file.
    void unquotedCommas_data() {
        QTest::addColumn<QByteArray>("raw");
        QTest::addColumn<QString>("text");
        QTest::newRow("plain") << QByteArray("1,2") << QStringLiteral("1,2");
        QTest::newRow("trailing comma") << QByteArray("7,") << QStringLiteral("7,");
        QTest::newRow("blank after comma") << QByteArray("1, 2") << QStringLiteral("1, 2");
    }
    void unquotedCommas() {
        QFETCH(QByteArray, raw);
        QFETCH(QString, text);
        writeStore(section("ADDRESS=" + raw + "\n"));
        const Shown shown = load();
        QCOMPARE(shown.address, text);
        QCOMPARE(storedText("ADDRESS", QString()), shown.address);
    }

    // Binary garbage and invalid text: no crash, the window opens, and the fields show
    // texts the store gives back unchanged.
    void garbage_data() {
        QTest::addColumn<QByteArray>("bytes");
        QByteArray noise;
        quint32 seed = 3870;
        for (int i = 0; i < 4096; ++i) {
            seed = seed * 1103515245u + 12345u;
            noise.append(char(seed >> 24));
        }
        QTest::newRow("random bytes") << noise;
        QTest::newRow("random bytes after the section") << section(noise);
        QTest::newRow("NUL bytes in a value") << section(QByteArray("ADDRESS=1\0"
                                                                    "2\n",
                                                                    12));
        QTest::newRow("invalid UTF-8") << section("ADDRESS=\xff\xfe\x80\n");
        QTest::newRow("very long line") << section("ADDRESS=" + QByteArray(1 << 20, 'x'));
        QTest::newRow("unbalanced brackets") << QByteArray("[[[vm3870sim\nADDRESS=1\n]]]\n");
    }
    void garbage() {
        QFETCH(QByteArray, bytes);
        writeStore(bytes);
        const Shown shown = load();
        QCOMPARE(storedText("ADDRESS", kDefaultAddress), shown.address);
        QCOMPARE(storedText("PORT", kDefaultPort), shown.port);
        QCOMPARE(storedText("INTERVAL", kDefaultInterval), shown.interval);
    }

    // A settings file that is a symbolic link to a missing file: the defaults are shown,
    // and saving goes to the link's target, so the link itself survives.
    void danglingSymlink() {
        const QString path = vm::settingsFilePath();
        const QString target = path + QStringLiteral(".target");
        QFile::remove(target);
        QVERIFY(QFile::link(target, path));
        const Shown shown = load();
        QCOMPARE(shown.address, kDefaultAddress);
        QCOMPARE(shown.port, kDefaultPort);
        QCOMPARE(shown.interval, kDefaultInterval);
        const QFileInfo link(path);
        QVERIFY2(link.isSymLink(), "the settings link was replaced by a file");
        QCOMPARE(storedText("ADDRESS", QString()), kDefaultAddress);
        QFile::remove(path);
        QFile::remove(target);
    }
};

QTEST_MAIN(SettingsFilesTest)
#include "tst_settings_files.moc"
