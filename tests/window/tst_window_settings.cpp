// The three remembered texts: defaults, whole-text round trips, saving on every change,
// and a store that cannot be written.

#include "window/frmSim_3870.h"
#include "window/settings.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>

#include <memory>

namespace {
// Reads the store's file afresh, as the next start of the program would.
QVariant stored(const char* key) {
    QSettings file(vm::settingsFilePath(), QSettings::IniFormat);
    return file.value(
        QStringLiteral("%1/%2").arg(QLatin1String(vm::kSettingsSection), QLatin1String(key)));
}

void clearStore() {
    QFile::remove(vm::settingsFilePath());
}
} // namespace

class WindowSettingsTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(vm::settingsFilePath().contains(QLatin1String(".qttest")));
        QVERIFY(vm::settingsFilePath().endsWith(QLatin1String("VM3870_SIMUL.conf")));
    }
    void init() { clearStore(); }
    void cleanupTestCase() { clearStore(); }

    void firstStartShowsDefaultsAndSavesAddressAndPort() {
        frmSim_3870 window;
        QCOMPARE(window.txtDestIP->text(), QStringLiteral("192.168.1.110"));
        QCOMPARE(window.txtDestPort->text(), QStringLiteral("4000"));
        QCOMPARE(window.cboTime->currentText(), QStringLiteral("1"));
        QCOMPARE(stored("ADDRESS").toString(), QStringLiteral("192.168.1.110"));
        QCOMPARE(stored("PORT").toString(), QStringLiteral("4000"));
    }

    void awkwardTextsRoundTrip_data() {
        QTest::addColumn<QString>("text");
        QTest::newRow("empty") << QString();
        QTest::newRow("comma") << QStringLiteral("1,2");
        QTest::newRow("comma and blank") << QStringLiteral("a, b");
        QTest::newRow("quotes") << QStringLiteral("\"quoted\" 'single'");
        QTest::newRow("equals semicolon hash") << QStringLiteral("a=b;c#d");
        QTest::newRow("backslashes") << QStringLiteral("C:\\dir\\\\x\\");
        QTest::newRow("leading and trailing blanks") << QStringLiteral("  10.0.0.1  ");
        QTest::newRow("non-ASCII") << QStringLiteral("주소 Ünïcødé €");
        QTest::newRow("at sign first") << QStringLiteral("@Variant(x)");
        QTest::newRow("brackets") << QStringLiteral("[section]");
        QTest::newRow("long") << QString(1000, QLatin1Char('9'));
        QTest::newRow("line break") << QStringLiteral("a\nb");
    }
    void awkwardTextsRoundTrip() {
        QFETCH(QString, text);
        {
            frmSim_3870 window;
            window.txtDestIP->setText(text);
            window.txtDestPort->setText(text + QStringLiteral("p"));
            window.cboTime->setEditText(text + QStringLiteral("i"));
        }
        frmSim_3870 next;
        QCOMPARE(next.txtDestIP->text(), text);
        QCOMPARE(next.txtDestPort->text(), text + QStringLiteral("p"));
        QCOMPARE(next.cboTime->currentText(), text + QStringLiteral("i"));
    }

    void everyTypedTextIsSavedInTurn() {
        frmSim_3870 window;
        window.txtDestPort->setFocus();
        window.txtDestPort->selectAll();
        QTest::keyClicks(window.txtDestPort, QStringLiteral("12"));
        QCOMPARE(stored("PORT").toString(), QStringLiteral("12"));
        QTest::keyClick(window.txtDestPort, Qt::Key_Backspace);
        QCOMPARE(stored("PORT").toString(), QStringLiteral("1"));
    }

    void pickedIntervalIsSaved() {
        {
            frmSim_3870 window;
            window.cboTime->setEnabled(true);
            window.cboTime->setCurrentIndex(4); // "5"
            QCOMPARE(stored("INTERVAL").toString(), QStringLiteral("5"));
        }
        frmSim_3870 next;
        QCOMPARE(next.cboTime->currentText(), QStringLiteral("5"));
    }

    void clearedAddressStaysEmpty() {
        {
            frmSim_3870 window;
            window.txtDestIP->clear();
        }
        QVERIFY(stored("ADDRESS").isValid());
        frmSim_3870 next;
        QCOMPARE(next.txtDestIP->text(), QString());
    }

    // Values the program did not change are written back exactly as they were read,
    // however odd they are.
    void oddStoredValuesAreShownAndKept() {
        {
            QSettings file(vm::settingsFilePath(), QSettings::IniFormat);
            file.setValue(QStringLiteral("vm3870sim/ADDRESS"), QString(300, QLatin1Char('x')));
            file.setValue(QStringLiteral("vm3870sim/PORT"), QStringLiteral("70000"));
            file.setValue(QStringLiteral("vm3870sim/INTERVAL"), QStringLiteral("-1"));
        }
        frmSim_3870 window;
        QCOMPARE(window.txtDestIP->text(), QString(300, QLatin1Char('x')));
        QCOMPARE(window.txtDestPort->text(), QStringLiteral("70000"));
        QCOMPARE(window.cboTime->currentText(), QStringLiteral("-1"));
        QCOMPARE(stored("ADDRESS").toString(), QString(300, QLatin1Char('x')));
        QCOMPARE(stored("PORT").toString(), QStringLiteral("70000"));
    }

    void unwritableStoreKeepsWorking() {
        // A folder where the settings file should be: nothing can be read or written.
        QVERIFY(QDir().mkpath(vm::settingsFilePath()));
        {
            frmSim_3870 window;
            QCOMPARE(window.txtDestIP->text(), QStringLiteral("192.168.1.110"));
            window.txtDestIP->setText(QStringLiteral("127.0.0.1"));
            QCOMPARE(window.txtDestIP->text(), QStringLiteral("127.0.0.1"));
        }
        QVERIFY(QDir(vm::settingsFilePath()).removeRecursively());
    }
};

QTEST_MAIN(WindowSettingsTest)
#include "tst_window_settings.moc"
