// The whole tool against the module emulator on loopback, driven through the window's own
// buttons: connect, send each command, decode the replies, log them, and the module closing.

#include "log/logfile.h"
#include "support/emulator_process.h"
#include "support/program_folder.h"
#include "window/frmSim_3870.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using vm::test::EmulatorProcess;

class WindowEmulatorTest : public QObject {
    Q_OBJECT
    QTemporaryDir programFolder_;
    std::unique_ptr<EmulatorProcess> emu_;
    std::unique_ptr<frmSim_3870> window_;

    QStringList lines() const {
        QStringList all;
        for (int i = 0; i < window_->List1->count(); ++i)
            all << window_->List1->item(i)->text();
        return all;
    }
    // Lines whose text after the time stamp begins with `text`.
    QStringList stamped(const QString& text) const {
        QStringList found;
        for (const QString& line : lines())
            if (line.mid(14).startsWith(text))
                found << line;
        return found;
    }
    void start(const QStringList& emulatorArgs) {
        emu_ = std::make_unique<EmulatorProcess>();
        QVERIFY(emu_->startOnToolPort(emulatorArgs));
        window_ = std::make_unique<frmSim_3870>();
        window_->txtDestIP->setText(QStringLiteral("127.0.0.1"));
        window_->txtDestPort->setText(QString::number(emu_->port));
        window_->show();
    }
    void connectWindow() {
        window_->cmdConnect->click();
        QTRY_COMPARE(stamped(QStringLiteral(" Socket Connected!!")).size(), 1);
    }

private slots:
    void initTestCase() { QVERIFY(vm::test::useTemporaryProgramFolder(programFolder_)); }
    void cleanup() {
        window_.reset();
        emu_.reset();
    }

    void requestReplyIntoFieldsListAndFile() {
        start({QStringLiteral("--frame"), QStringLiteral("34")});
        connectWindow();
        QVERIFY(!window_->cmdConnect->isEnabled());
        QVERIFY(window_->cmdDisconnect->isEnabled() && window_->cmdEnd->isEnabled());

        window_->optLog[1]->click();
        window_->cmdSend->click();
        QTRY_COMPARE(stamped(QStringLiteral(" RECV : ")).size(), 1);
        QCOMPARE(stamped(QStringLiteral(" SEND : 4E 52 45 51 ")).size(), 1);

        // The RECV line carries exactly the bytes the module sent, and the fields show them.
        const QString recv = stamped(QStringLiteral(" RECV : ")).first();
        QTRY_VERIFY(!emu_->repliedBytes().isEmpty());
        const QByteArray reply = emu_->repliedBytes();
        QCOMPARE(recv.mid(22), QString::fromLatin1(reply.toHex().toUpper()));
        for (int k = 0; k < 6; ++k)
            QCOMPARE(window_->txt_Input[k]->text(), QString(QChar(reply.at(1 + k))));
        QCOMPARE(window_->txt_Output[0]->text(), QStringLiteral("0"));
        QCOMPARE(window_->txt_CheckSum->text(),
                 QString::number(quint8(reply.at(33)), 16).toUpper());
        QVERIFY(window_->txtGapTime[0]->text().isEmpty());

        QFile daily(QDir(vm::logFolder())
                        .filePath(vm::dailyLogFileName(QDateTime::currentDateTime().date())));
        QVERIFY(daily.open(QIODevice::ReadOnly));
        QVERIFY(daily.readAll().endsWith("\r\n" + recv.toLatin1() + "\r\n\r\n"));
    }

    void commandsChangeTheModule() {
        start({QStringLiteral("--frame"), QStringLiteral("57")});
        connectWindow();
        window_->optCommand[1]->click(); // T: all outputs on
        QVERIFY(window_->ComboSet->isEnabled() && !window_->ComboReset->isEnabled());
        window_->ComboSet->setCurrentText(QStringLiteral("A"));
        window_->ComboValue->setCurrentText(QStringLiteral("1"));
        window_->cmdSend->click();
        QTRY_COMPARE(window_->txt_Output[1]->text(), QStringLiteral("1"));
        QCOMPARE(window_->txt_Output[0]->text(), QStringLiteral("1"));
        QCOMPARE(stamped(QStringLiteral(" SEND : 4E 54 41 31 ")).size(), 1);
        QVERIFY(!window_->txtGapTime[5]->text().isEmpty());

        window_->optCommand[2]->click(); // C: reset all counters
        window_->ComboReset->setCurrentText(QStringLiteral("A"));
        window_->cmdSend->click();
        QTRY_COMPARE(stamped(QStringLiteral(" RECV : ")).size(), 2);
        QCOMPARE(stamped(QStringLiteral(" SEND : 4E 43 41 30 ")).size(), 1);
        for (QLineEdit* counter : window_->txtCounter)
            QCOMPARE(counter->text(), QStringLiteral("0"));
    }

    // Send on a closed connection connects first; the module closing after one reply gives
    // the closed line and the buttons of a closed connection, End kept for the locked
    // interval controls.
    void sendConnectsThenModuleCloses() {
        start({QStringLiteral("--close-after"), QStringLiteral("1")});
        window_->cmdSend->click();
        QTRY_COMPARE(stamped(QStringLiteral(" Socket Closed!!")).size(), 1);
        QCOMPARE(stamped(QStringLiteral(" Socket Connected!!")).size(), 1);
        QCOMPARE(stamped(QStringLiteral(" SEND : ")).size(), 1);
        QVERIFY(window_->cmdConnect->isEnabled());
        QVERIFY(!window_->cmdDisconnect->isEnabled());
        // End stays, the one way to unlock the interval controls that the Send locked.
        QVERIFY(window_->cmdEnd->isEnabled());
        QVERIFY(window_->cmdSend->isEnabled());
    }

    // Replies that arrive in pieces are shown as wrong lengths, one line per piece.
    void splitRepliesAreReported() {
        start({QStringLiteral("--split"), QStringLiteral("20"), QStringLiteral("--split-delay"),
               QStringLiteral("150")});
        connectWindow();
        window_->cmdSend->click();
        QTRY_VERIFY(lines().contains(QStringLiteral("Different responce data length : 14 Bytes")));
        QVERIFY(lines().contains(QStringLiteral("Different responce data length : 20 Bytes")));
        QVERIFY(stamped(QStringLiteral(" RECV : ")).isEmpty());
    }

    void repeatKeepsSendingUntilEnd() {
        start({});
        connectWindow();
        window_->optInterval[1]->click();
        window_->cboTime->setEditText(QStringLiteral("0.05"));
        window_->cmdSend->click();
        QTRY_VERIFY(stamped(QStringLiteral(" RECV : ")).size() >= 5);
        QVERIFY(!window_->optInterval[0]->isEnabled() && !window_->cboTime->isEnabled());
        window_->cmdEnd->click();
        QVERIFY(window_->optInterval[0]->isEnabled() && window_->cboTime->isEnabled());
        const qsizetype sent = stamped(QStringLiteral(" SEND : ")).size();
        QTest::qWait(200);
        QCOMPARE(stamped(QStringLiteral(" SEND : ")).size(), sent);
    }
};

QTEST_MAIN(WindowEmulatorTest)
#include "tst_window_emulator.moc"
