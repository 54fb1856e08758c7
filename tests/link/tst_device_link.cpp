// The device link's handlers on the tool's real window, against a stand-in module on loopback.
#include "link/device_link.h"
#include "link/winsock.h"

#include "log/logfile.h"
#include "log/timestamp.h"
#include "support/link_window.h"
#include "support/stand_in_module.h"
#include "support/test_namespace.h"
#include "toolkit/colors.h"
#include "toolkit/errorbox.h"
#include "window/frmSim_3870.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QUdpSocket>

#include <memory>
#include <stdexcept>

using vm::DeviceLink;
using vm::Winsock;
using vm::test::LinkWindow;
using vm::test::StandInModule;

namespace {

const QDateTime kPinned(QDate(2024, 3, 1), QTime(9, 15, 2, 47), Qt::UTC);
const QString kStamp = QStringLiteral("[09:15:02.047]");

QByteArray example34() {
    return QByteArray::fromHex("4E31303031303030310100000000010000785634120000000"
                               "0FFFFFFFF000001000A");
}

QByteArray example57() {
    return example34().left(33) + QByteArray::fromHex("DC050000") + QByteArray(16, '\0') +
           QByteArray::fromHex("00000001");
}

QString todaysLogPath() {
    return vm::logFolder() + '/' + vm::dailyLogFileName(kPinned.toLocalTime().date());
}

// The window aimed at a stand-in module on loopback.
struct Rig {
    StandInModule module;
    LinkWindow ui;

    Rig() { ui.setDestination("127.0.0.1", module.portText()); }

    bool connectNow() {
        ui.form->cmdConnect->click();
        return QTest::qWaitFor([&] { return ui.countLines(" Socket Connected!!") > 0; }, 5000) &&
               QTest::qWaitFor([&] { return module.connected(); }, 5000);
    }
    void chooseRepeat(const QString& interval) {
        ui.form->optInterval[1]->click();
        ui.form->cboTime->setCurrentText(interval);
    }
    // Connects, then presses Send with Repeat at the given interval.
    bool startRepeating(const QString& interval) {
        if (!connectNow())
            return false;
        chooseRepeat(interval);
        ui.form->cmdSend->click();
        return true;
    }
};

// Each widget's name with "+" when enabled, "-" when not, separated by blanks.
QString enabledStates(const QList<const QWidget*>& widgets) {
    QStringList states;
    for (const QWidget* widget : widgets)
        states << (widget->objectName() + (widget->isEnabled() ? "+" : "-"));
    return states.join(' ');
}

QString buttonStates(const frmSim_3870& v) {
    return enabledStates({v.cmdConnect, v.cmdDisconnect, v.cmdSend, v.cmdEnd});
}

QString intervalStates(const frmSim_3870& v) {
    return enabledStates(
        {v.optInterval[0], v.optInterval[1], v.cboTime, v.lblTime[0], v.lblTime[1]});
}

const QString kClosedButtons = QStringLiteral("cmdConnect+ cmdDisconnect- cmdSend+ cmdEnd-");

QStringList fieldTexts(const frmSim_3870& v) {
    QStringList texts;
    const auto add = [&texts](const auto& fields) {
        for (const QLineEdit* field : fields)
            texts << field->text();
    };
    add(v.txt_Input);
    add(v.txt_Output);
    add(v.txtCounter);
    texts << v.txt_CheckSum->text();
    add(v.txtGapTime);
    return texts;
}

} // namespace

class TestDeviceLink : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void connectionButtonsAndLines_data();
    void connectionButtonsAndLines();
    void connectRefused_data();
    void connectRefused();
    void refusedDestination_data();
    void refusedDestination();
    void framesOnTheWire_data();
    void framesOnTheWire();
    void keyboardAloneSendsAFrame();
    void sendConnectsFirstAndConnectEventFollows();
    void sendOnResetConnectionLogsFailure();
    void sendGivesUpAPendingConnectWhenItsWaitEnds();
    void sendToANameWaitsNoLongerThanASecond();
    void optCommandEnablesPickLists_data();
    void optCommandEnablesPickLists();

    void logLevel_data();
    void logLevel();
    void arrivalsIntoFrames_data();
    void arrivalsIntoFrames();
    void fieldsOfAbsentPartsEmpty();
    void decoderGoesOnAfterAFailingStep();

    void intervalLockTable_data();
    void intervalLockTable();
    void modeSwitchColours();
    void repeatSendsUntilEnd();
    void refusedInterval_data();
    void refusedInterval();
    void commandChangeWhileRepeating();
    void peerClosesWhileRepeating();
    void everyCloseAndReplyOfAClosingModule();
    void shutdownAndDestructionAreSilent_data();
    void shutdownAndDestructionAreSilent();

private:
    QTemporaryDir m_folder;
    QStringList m_errorBoxes;
};

void TestDeviceLink::initTestCase() {
    QStandardPaths::setTestModeEnabled(true);
    QVERIFY(m_folder.isValid());
    QVERIFY(QDir(m_folder.path()).mkpath("Log"));
    vm::setProgramFolder(m_folder.path());
    vm::setClock([] { return kPinned; });
    vm::setErrorBoxHandler([this](const QString& text) { m_errorBoxes << text; });
}

void TestDeviceLink::init() {
    m_errorBoxes.clear();
}

void TestDeviceLink::cleanup() {
    QFile::remove(todaysLogPath());
}

void TestDeviceLink::connectionButtonsAndLines_data() {
    QTest::addColumn<QString>("ending");
    QTest::addColumn<QString>("buttons");
    QTest::addColumn<QStringList>("lines");
    const QString connected = kStamp + " Socket Connected!!";
    const QString closed = kStamp + " Socket Closed!!";
    const QString open = "cmdConnect- cmdDisconnect+ cmdSend+ cmdEnd+";
    QTest::newRow("connect") << "" << open << QStringList{connected};
    QTest::newRow("disconnect") << "disconnect" << kClosedButtons << QStringList{connected, closed};
    QTest::newRow("module closes") << "peer" << kClosedButtons << QStringList{connected, closed};
    QTest::newRow("module closes, Disconnect before its event")
        << "peer, then disconnect" << kClosedButtons << QStringList{connected, closed};
}

void TestDeviceLink::connectionButtonsAndLines() {
    QFETCH(QString, ending);
    QFETCH(QString, buttons);
    QFETCH(QStringList, lines);
    Rig rig;
    QCOMPARE(buttonStates(*rig.ui.form), kClosedButtons);
    QVERIFY(rig.connectNow());
    if (ending == "disconnect") {
        rig.ui.form->cmdDisconnect->click();
        QTRY_VERIFY(!rig.module.connected());
    } else if (ending == "peer") {
        rig.module.close();
        QTRY_COMPARE(rig.ui.lines.size(), 2);
    } else if (ending == "peer, then disconnect") {
        rig.module.close();
        QThread::msleep(50); // the close arrives; the event loop has not handled it yet
        rig.ui.form->cmdDisconnect->click();
        QTRY_COMPARE(rig.ui.lines.size(), 2);
    }
    QTest::qWait(20);
    QCOMPARE(rig.ui.lines, lines);
    QCOMPARE(buttonStates(*rig.ui.form), buttons);
}

void TestDeviceLink::connectRefused_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("buttons");
    QTest::addColumn<QString>("interval");
    const QString free = "optInterval_0+";
    const QString locked = "optInterval_0-";
    QTest::newRow("Connect") << "connect" << kClosedButtons << free;
    // End stays enabled while the repeat timer runs, so that the repeat can be stopped, and
    // while a Send has locked the interval controls, so that they can be unlocked.
    QTest::newRow("Send drops the frame")
        << "send"
        << "cmdConnect+ cmdDisconnect- cmdSend+ cmdEnd+" << locked;
    QTest::newRow("Repeat keeps trying") << "repeat"
                                         << "cmdConnect+ cmdDisconnect- cmdSend+ cmdEnd+" << locked;
}

void TestDeviceLink::connectRefused() {
    QFETCH(QString, button);
    QFETCH(QString, buttons);
    QFETCH(QString, interval);
    LinkWindow ui;
    const QString port = QString::number(StandInModule::unusedPort());
    ui.setDestination("127.0.0.1", port);
    if (button == "repeat")
        ui.form->optInterval[1]->click();
    (button == "connect" ? ui.form->cmdConnect : ui.form->cmdSend)->click();
    QTRY_COMPARE(ui.lines.size(), 1);
    ui.link->SendTimer->stop();
    QTest::qWait(20);
    QCOMPARE(ui.lines,
             QStringList{kStamp + " Connect Failed!! 127.0.0.1:" + port + " : Connection refused"});
    QCOMPARE(buttonStates(*ui.form), buttons);
    QCOMPARE(intervalStates(*ui.form).section(' ', 0, 0), interval);
}

void TestDeviceLink::refusedDestination_data() {
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("port"); // "*": the module's port
    QTest::addColumn<QString>("line");
    const auto row = [](const char* name, const char* host, const char* port, const QString& why) {
        QTest::newRow(name) << host << port << " Connect Error!! " + why;
    };
    const QString outOfRange = "Port is out of range (0 to 32767) : ";
    row("empty port", "127.0.0.1", "", "Port is empty : \"\"");
    row("not a number", "127.0.0.1", "4.0.0", "Port is not a number : \"4.0.0\"");
    row("above 32767", "127.0.0.1", "40000", outOfRange + "\"40000\"");
    row("rounds above 32767", "127.0.0.1", "32767.5", outOfRange + "\"32767.5\"");
    row("empty host", "", "*", "Host is empty : \"\"");
}

void TestDeviceLink::refusedDestination() {
    QFETCH(QString, host);
    QFETCH(QString, port);
    QFETCH(QString, line);
    Rig rig;
    rig.ui.setDestination(host, port == "*" ? rig.module.portText() : port);

    for (QPushButton* button : {rig.ui.form->cmdConnect, rig.ui.form->cmdSend}) {
        rig.ui.lines.clear();
        button->click();
        QTest::qWait(50);
        QCOMPARE(rig.ui.lines, QStringList{kStamp + line});
        QCOMPARE(rig.module.acceptedCount(), 0);
        QCOMPARE(rig.ui.link->Winsock1->State(), Winsock::kClosed);
    }
    QVERIFY(rig.module.received().isEmpty());
}

void TestDeviceLink::framesOnTheWire_data() {
    QTest::addColumn<int>("command");
    QTest::addColumn<int>("set");
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("reset");
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QString>("hex");
    QTest::newRow("R") << 0 << 2 << 1 << 6 << QByteArray("NREQ") << "4E 52 45 51 ";
    QTest::newRow("T A 1") << 1 << 2 << 1 << 0 << QByteArray("NTA1") << "4E 54 41 31 ";
    QTest::newRow("T 2 0") << 1 << 1 << 0 << 6 << QByteArray("NT20") << "4E 54 32 30 ";
    QTest::newRow("C 6") << 2 << 2 << 1 << 5 << QByteArray("NC60") << "4E 43 36 30 ";
    QTest::newRow("C A") << 2 << 0 << 0 << 6 << QByteArray("NCA0") << "4E 43 41 30 ";
}

void TestDeviceLink::framesOnTheWire() {
    QFETCH(int, command);
    QFETCH(int, set);
    QFETCH(int, value);
    QFETCH(int, reset);
    QFETCH(QByteArray, frame);
    QFETCH(QString, hex);
    Rig rig;
    QVERIFY(rig.connectNow());
    rig.ui.form->optCommand[command]->click();
    rig.ui.form->ComboSet->setCurrentIndex(set);
    rig.ui.form->ComboValue->setCurrentIndex(value);
    rig.ui.form->ComboReset->setCurrentIndex(reset);
    rig.ui.form->cmdSend->click();
    QCOMPARE(rig.ui.lines.last(), kStamp + " SEND : " + hex);
    QTRY_COMPARE(rig.module.received(), frame);
}

// A user with the keyboard alone: the arrow keys choose the command within its group, Tab
// reaches the pick lists in reading order, the arrow keys pick their entries, and Enter on
// the focused Send sends the frame those choices make.
void TestDeviceLink::keyboardAloneSendsAFrame() {
    Rig rig;
    QVERIFY(rig.connectNow());
    frmSim_3870& window = *rig.ui.form;
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    const auto press = [](Qt::Key key) { QTest::keyClick(QApplication::focusWidget(), key); };
    window.optCommand[0]->setFocus();
    press(Qt::Key_Down); // T (DO Setting)
    QVERIFY(window.optCommand[1]->isChecked() && window.ComboSet->isEnabled());
    press(Qt::Key_Tab); // Channel
    press(Qt::Key_Down);
    press(Qt::Key_Tab); // Value
    press(Qt::Key_Down);
    press(Qt::Key_Tab); // Send (the reset channel is greyed)
    QCOMPARE(QApplication::focusWidget(), window.cmdSend);
    press(Qt::Key_Return);
    QCOMPARE(rig.ui.lines.last(), kStamp + " SEND : 4E 54 32 31 ");
    QTRY_COMPARE(rig.module.received(), QByteArray("NT21"));
}

void TestDeviceLink::sendConnectsFirstAndConnectEventFollows() {
    Rig rig;
    rig.ui.link->cmdSend_Click();
    // The frame went out after the blocking wait; the connect event waits for the loop.
    QCOMPARE(rig.ui.lines, QStringList{kStamp + " SEND : 4E 52 45 51 "});
    QTRY_COMPARE(rig.ui.lines.size(), 2);
    QCOMPARE(rig.ui.lines.at(1), kStamp + " Socket Connected!!");
    QTRY_COMPARE(rig.module.received(), QByteArray("NREQ"));
    QVERIFY(rig.ui.form->cmdEnd->isEnabled());
}

void TestDeviceLink::sendOnResetConnectionLogsFailure() {
    Rig rig;
    QVERIFY(rig.connectNow());
    rig.module.reset();
    QThread::msleep(100); // the reset arrives; the event loop has not handled it yet
    rig.ui.lines.clear();
    rig.ui.link->cmdSend_Click();
    QCOMPARE(rig.ui.lines.size(), 1);
    QVERIFY2(rig.ui.lines.at(0).startsWith(kStamp + " Send Failed!! : "),
             qPrintable(rig.ui.lines.at(0)));
    QTRY_COMPARE(rig.ui.countLines(" Socket Closed!!"), 1);
    QCOMPARE(rig.ui.countLines(" SEND"), 0);
}

void TestDeviceLink::sendGivesUpAPendingConnectWhenItsWaitEnds() {
    StandInModule listener(StandInModule::Accepting::QueueFull);
    LinkWindow ui;
    ui.setDestination("127.0.0.1", listener.portText());
    // Two Sends in a row, with no event handled between them: each reports its own attempt.
    ui.form->cmdSend->click();
    ui.form->cmdSend->click();
    QTRY_COMPARE_WITH_TIMEOUT(ui.lines.size(), 2, 300);
    if (ui.countLines(" Socket Connected!!") > 0)
        QSKIP("this kernel completed a connect to a full accept queue");
    QCOMPARE(ui.lines,
             QStringList(2, kStamp + " Connect Failed!! 127.0.0.1:" + listener.portText() +
                                " : Connection timed out after 1000 ms"));
}

// The address box lets through a name such as 192.168.1.256. Its look-up must not hold the
// window longer than Send's wait, even when the name server never answers. The test runs
// itself again inside a network namespace whose resolver is a silent socket on 127.0.0.1.
void TestDeviceLink::sendToANameWaitsNoLongerThanASecond() {
    if (!qEnvironmentVariableIsSet("VM_LINK_TEST_IN_NAMESPACE")) {
        REQUIRE_NAMESPACE(ns);
        QVERIFY(ns.etcFile("resolv.conf", "nameserver 127.0.0.1\noptions timeout:4 attempts:1\n"));
        QVERIFY(ns.etcFile("nsswitch.conf", "hosts: files dns\n"));
        const vm::test::Run inside =
            ns.exec({"env", "VM_LINK_TEST_IN_NAMESPACE=1", QCoreApplication::applicationFilePath(),
                     QTest::currentTestFunction()});
        QVERIFY2(inside.ok, qPrintable(inside.out + inside.err));
        return;
    }
    QUdpSocket silentNameServer;
    QVERIFY(silentNameServer.bind(QHostAddress::LocalHost, 53));
    LinkWindow ui;
    ui.setDestination("192.168.1.256", "4000");
    QElapsedTimer held;
    held.start();
    ui.form->cmdSend->click();
    QVERIFY2(held.elapsed() < 1500, qPrintable(QString::number(held.elapsed())));
    QTRY_COMPARE_WITH_TIMEOUT(ui.lines.size(), 1, 300);
    QCOMPARE(ui.lines.at(0),
             kStamp + " Connect Failed!! 192.168.1.256:4000 : Host lookup timed out after 1000 ms");
    QVERIFY(silentNameServer.hasPendingDatagrams()); // the look-up did ask it
}

void TestDeviceLink::optCommandEnablesPickLists_data() {
    QTest::addColumn<int>("command");
    QTest::addColumn<bool>("set");
    QTest::addColumn<bool>("reset");
    QTest::newRow("R") << 0 << false << false;
    QTest::newRow("T") << 1 << true << false;
    QTest::newRow("C") << 2 << false << true;
}

void TestDeviceLink::optCommandEnablesPickLists() {
    QFETCH(int, command);
    QFETCH(bool, set);
    QFETCH(bool, reset);
    LinkWindow ui;
    ui.form->optCommand[(command + 1) % 3]->click();
    ui.form->optCommand[command]->click();
    QCOMPARE(ui.form->ComboSet->isEnabled(), set);
    QCOMPARE(ui.form->ComboValue->isEnabled(), set);
    QCOMPARE(ui.form->ComboReset->isEnabled(), reset);
}

void TestDeviceLink::logLevel_data() {
    QTest::addColumn<bool>("toFile");
    QTest::newRow("List") << false;
    QTest::newRow("List + File") << true;
}

void TestDeviceLink::logLevel() {
    QFETCH(bool, toFile);
    Rig rig;
    QVERIFY(rig.connectNow());
    rig.ui.form->optLog[toFile ? 1 : 0]->click();
    rig.ui.lines.clear();
    rig.module.write(example34());
    const QString recv =
        kStamp + " RECV : 4E313030313030303101000000000100007856341200000000FFFFFFFF000001000A";
    QTRY_COMPARE(rig.ui.lines, QStringList{recv});

    QFile file(todaysLogPath());
    if (!toFile) {
        QVERIFY(!file.exists());
        return;
    }
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), ("\r\n" + recv + "\r\n\r\n").toLatin1());
}

// The same frame with another DI CH00 character, so that frames can be told apart.
QByteArray withInput(QByteArray frame, char input) {
    frame[1] = input;
    return frame;
}

QString recv(const QByteArray& frame) {
    return kStamp + " RECV : " + QString::fromLatin1(frame.toHex().toUpper());
}

QString wrongLength(int bytes) {
    return QStringLiteral("Different responce data length : %1 Bytes").arg(bytes);
}

void TestDeviceLink::arrivalsIntoFrames_data() {
    QTest::addColumn<QList<QByteArray>>("arrivals");
    QTest::addColumn<QStringList>("lines");
    const QByteArray a33 = example34().left(33), b33 = withInput(a33, '0');
    const QByteArray a34 = example34(), b34 = withInput(a34, '0');
    const QByteArray a57 = example57(), b57 = withInput(a57, '0'), c57 = withInput(a57, '7');
    const QByteArray notLedByN = "X" + b34.mid(1);
    QTest::newRow("one frame") << QList{a34} << QStringList{recv(a34)};
    QTest::newRow("2 x 33 together") << QList{a33 + b33} << QStringList{recv(a33), recv(b33)};
    QTest::newRow("2 x 34 together") << QList{a34 + b34} << QStringList{recv(a34), recv(b34)};
    QTest::newRow("3 x 57 together")
        << QList{a57 + b57 + c57} << QStringList{recv(a57), recv(b57), recv(c57)};
    QTest::newRow("34 + 33 = 67") << QList{a34 + a33} << QStringList{wrongLength(67)};
    QTest::newRow("68, second piece not led by N")
        << QList{a34 + notLedByN} << QStringList{wrongLength(68)};
    QTest::newRow("66 split 10 + 56") << QList{(a33 + b33).left(10), (a33 + b33).mid(10)}
                                      << QStringList{wrongLength(10), wrongLength(56)};
    QTest::newRow("57 split 40 + 17, one byte") << QList{a57.left(40), a57.mid(40), QByteArray("N")}
                                                << QStringList{wrongLength(40), wrongLength(17)};
}

// Each arrival gives its lines, and its RECV lines, in order, are the file's entries; the
// fields show the last frame decoded.
void TestDeviceLink::arrivalsIntoFrames() {
    QFETCH(QList<QByteArray>, arrivals);
    QFETCH(QStringList, lines);
    Rig rig;
    QVERIFY(rig.connectNow());
    rig.ui.form->optLog[1]->click();
    rig.ui.lines.clear();
    rig.ui.form->txt_Input[0]->setText("old");

    QSignalSpy read(rig.ui.link->Winsock1, &Winsock::DataArrival);
    // Each write waits for the previous arrival, so that each is one read at our end.
    for (const QByteArray& arrival : arrivals) {
        const auto count = read.count();
        rig.module.write(arrival);
        QTRY_COMPARE(read.count(), count + 1);
        QCOMPARE(read.last().at(0).toLongLong(), arrival.size());
    }
    QCOMPARE(rig.ui.lines, lines);

    QByteArray entries;
    QString shown = "old";
    for (const QString& line : lines) {
        if (line.startsWith(kStamp)) {
            entries += ("\r\n" + line + "\r\n\r\n").toLatin1();
            shown = QString(QChar(QByteArray::fromHex(line.mid(24, 2).toLatin1()).at(0)));
        }
    }
    QFile file(todaysLogPath());
    QCOMPARE(file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray(), entries);
    QCOMPARE(rig.ui.form->txt_Input[0]->text(), shown);
}

void TestDeviceLink::fieldsOfAbsentPartsEmpty() {
    // A frame without gap times or without a checksum empties those boxes: they never show a
    // value of an earlier frame as if it were this one's.
    LinkWindow ui;
    for (QLineEdit* field : ui.form->txtGapTime)
        field->setText("old");
    ui.form->txt_CheckSum->setText("old");

    ui.link->DisplayData(example34());
    const QStringList after34{"1", "0", "0",   "1",         "0", "0",          "0",
                              "1", "1", "256", "305419896", "0", "4294967295", "65536",
                              "A", "",  "",    "",          "",  "",           ""};
    QCOMPARE(fieldTexts(*ui.form), after34);

    ui.link->DisplayData(example57());
    QStringList after57 = after34;
    after57[14] = "";
    for (int i = 0; i < 6; ++i)
        after57[15 + i] = QStringList({"1500", "0", "0", "0", "0", "16777216"}).at(i);
    QCOMPARE(fieldTexts(*ui.form), after57);

    QByteArray frame33 = example34().left(33);
    frame33[1] = '\0';
    frame33[9] = '\x07';
    ui.link->DisplayData(frame33);
    QStringList after33 = after57;
    after33[0] = QString(QChar(0x2400));
    after33[8] = "7";
    for (int i = 0; i < 6; ++i)
        after33[15 + i] = "";
    QCOMPARE(fieldTexts(*ui.form), after33);
    QCOMPARE(ui.lines.size(), 3);
}

void TestDeviceLink::decoderGoesOnAfterAFailingStep() {
    LinkWindow ui;
    ui.form->optLog[1]->click();
    // The window's log list refuses its lines.
    ui.form->form().List1.setLinesListener([](const vm::form::ListBox::Change&) {
        throw std::runtime_error("list refused the line");
    });

    ui.link->DisplayData(example34());
    QCOMPARE(m_errorBoxes, QStringList{"Data Display Error!!\r\nError Number : 0\r\n"
                                       "Error Description : list refused the line"});
    QCOMPARE(ui.form->txt_CheckSum->text(), QString("A"));
    QFile file(todaysLogPath());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll().contains(" RECV : 4E31"));

    ui.form->form().List1.setLinesListener([](const vm::form::ListBox::Change&) {
        throw std::system_error(std::make_error_code(std::errc::no_space_on_device));
    });
    ui.link->DisplayData("NR");
    QCOMPARE(m_errorBoxes.size(), 2);
    QVERIFY(m_errorBoxes.at(1).startsWith(QString("Data Display Error!!\r\nError Number : %1\r\n")
                                              .arg(int(std::errc::no_space_on_device))));
}

void TestDeviceLink::intervalLockTable_data() {
    QTest::addColumn<QStringList>("actions");
    QTest::addColumn<QString>("states");
    QTest::addColumn<bool>("timer");
    QTest::addColumn<int>("period");
    const QString free = "optInterval_0+ optInterval_1+ cboTime- lblTime_0- lblTime_1-";
    const QString freeRepeat = "optInterval_0+ optInterval_1+ cboTime+ lblTime_0+ lblTime_1+";
    const QString locked = "optInterval_0- optInterval_1- cboTime- lblTime_0- lblTime_1-";
    const QString repeating = "optInterval_0- optInterval_1- cboTime- lblTime_0+ lblTime_1+";
    const QString endOneTime = "optInterval_0+ optInterval_1+ cboTime+ lblTime_0- lblTime_1-";
    QTest::newRow("start") << QStringList{} << free << false << 1000;
    QTest::newRow("repeat chosen") << QStringList{"repeat 1"} << freeRepeat << false << 1000;
    QTest::newRow("back to one time")
        << QStringList{"repeat 1", "onetime"} << free << false << 1000;
    QTest::newRow("one time send locks") << QStringList{"send"} << locked << false << 1000;
    QTest::newRow("repeat 1") << QStringList{"repeat 1", "send"} << repeating << true << 1000;
    QTest::newRow("repeat 1.5") << QStringList{"repeat 1.5", "send"} << repeating << true << 1500;
    QTest::newRow("repeat 15") << QStringList{"repeat 15", "send"} << repeating << true << 15000;
    QTest::newRow("end after one time")
        << QStringList{"send", "end"} << endOneTime << false << 1000;
    QTest::newRow("end after repeat")
        << QStringList{"repeat 2", "send", "end"} << freeRepeat << false << 2000;
    QTest::newRow("send again while repeating")
        << QStringList{"repeat 3", "send", "send"} << repeating << true << 3000;
}

void TestDeviceLink::intervalLockTable() {
    QFETCH(QStringList, actions);
    QFETCH(QString, states);
    QFETCH(bool, timer);
    QFETCH(int, period);
    Rig rig;
    QVERIFY(rig.connectNow());
    for (const QString& action : actions) {
        if (action.startsWith("repeat "))
            rig.chooseRepeat(action.mid(7));
        else if (action == "onetime")
            rig.ui.form->optInterval[0]->click();
        else if (action == "send")
            rig.ui.form->cmdSend->click();
        else if (action == "end")
            rig.ui.form->cmdEnd->click();
    }
    QCOMPARE(intervalStates(*rig.ui.form), states);
    QCOMPARE(rig.ui.link->SendTimer->isActive(), timer);
    QCOMPARE(rig.ui.link->SendTimer->interval(), period);
    QCOMPARE(rig.ui.link->SendTimer->objectName(), QString("SendTimer"));
}

void TestDeviceLink::modeSwitchColours() {
    LinkWindow ui;
    ui.form->optInterval[1]->click();
    QCOMPARE(ui.form->cboTime->palette().color(QPalette::Base), QColor(Qt::white));
    ui.form->optInterval[0]->click();
    QCOMPARE(ui.form->cboTime->palette().color(QPalette::Base),
             vm::colorFromBgr(vm::kSystemMenuColor));
}

void TestDeviceLink::repeatSendsUntilEnd() {
    Rig rig;
    QVERIFY(rig.startRepeating("0.05"));
    QCOMPARE(rig.ui.link->SendTimer->interval(), 50);
    QTRY_VERIFY_WITH_TIMEOUT(rig.module.frames().size() >= 4, 10000);
    rig.ui.form->cmdEnd->click();
    QVERIFY(!rig.ui.link->SendTimer->isActive());
    QTest::qWait(100);
    const auto sent = rig.module.frames().size();
    QTest::qWait(200);
    QCOMPARE(rig.module.frames().size(), sent);
    QCOMPARE(rig.ui.countLines(" SEND : 4E 52 45 51 "), int(sent));
}

void TestDeviceLink::refusedInterval_data() {
    QTest::addColumn<QString>("text");
    QTest::newRow("0") << "0";
    QTest::newRow("empty") << "";
    QTest::newRow("letters") << "abc";
    QTest::newRow("below a millisecond") << "0.0004";
    QTest::newRow("above the timer") << "2147483.648";
}

void TestDeviceLink::refusedInterval() {
    QFETCH(QString, text);
    Rig rig;
    QVERIFY(rig.connectNow());
    rig.chooseRepeat(text);
    rig.ui.lines.clear();
    rig.ui.form->cmdSend->click();
    const QString refusal =
        " Repeat Error!! Interval out of range (0.001 to 2147483.647 Second) : ";
    QCOMPARE(rig.ui.lines,
             QStringList({kStamp + refusal + '"' + text + '"', kStamp + " SEND : 4E 52 45 51 "}));
    QVERIFY(!rig.ui.link->SendTimer->isActive());
    QVERIFY(!rig.ui.form->optInterval[1]->isEnabled());
    QTRY_COMPARE(rig.module.received(), QByteArray("NREQ"));
}

void TestDeviceLink::commandChangeWhileRepeating() {
    Rig rig;
    QVERIFY(rig.startRepeating("0.05"));
    QTRY_VERIFY(!rig.module.frames().isEmpty());
    rig.ui.form->optCommand[2]->click();
    rig.ui.form->ComboReset->setCurrentIndex(5);
    const auto before = rig.module.frames().size();
    QTRY_VERIFY_WITH_TIMEOUT(rig.module.frames().size() >= before + 2, 10000);
    rig.ui.form->cmdEnd->click();
    const QList<QByteArray> frames = rig.module.frames();
    QCOMPARE(frames.first(), QByteArray("NREQ"));
    QCOMPARE(frames.last(), QByteArray("NC60"));
}

void TestDeviceLink::peerClosesWhileRepeating() {
    Rig rig;
    QVERIFY(rig.startRepeating("0.05"));
    QTRY_VERIFY(!rig.module.frames().isEmpty());
    rig.module.close();
    QTRY_COMPARE(rig.ui.countLines(" Socket Closed!!"), 1);
    // The repeat goes on, reconnects, and can be ended all along.
    QVERIFY(rig.ui.form->cmdEnd->isEnabled());
    QVERIFY(rig.ui.link->SendTimer->isActive());
    QTRY_VERIFY_WITH_TIMEOUT(rig.module.acceptedCount() >= 2, 10000);
    QTRY_COMPARE(rig.ui.countLines(" Socket Connected!!"), 2);
    const auto before = rig.module.frames().size();
    QTRY_VERIFY(rig.module.frames().size() > before);

    // Closed again with nothing to reconnect to: End stops the ticks and their lines.
    rig.ui.setDestination("127.0.0.1", QString::number(StandInModule::unusedPort()));
    rig.module.close();
    QTRY_VERIFY(rig.ui.countLines(" Connect Failed!!") >= 2);
    QTest::mouseClick(rig.ui.form->cmdEnd, Qt::LeftButton);
    QVERIFY(!rig.ui.link->SendTimer->isActive());
    QCOMPARE(buttonStates(*rig.ui.form), kClosedButtons);
    const auto lines = rig.ui.lines.size();
    QTest::qWait(200);
    QCOMPARE(rig.ui.lines.size(), lines);
}

// A module that closes the connection after every third reply, met by a repeat at 1 ms:
// each of its closes gives a line and each of its replies is decoded, however the ticks fall
// among the replies and the closes.
void TestDeviceLink::everyCloseAndReplyOfAClosingModule() {
    StandInModule module;
    module.answerRequests(example34(), 3);
    LinkWindow ui;
    // A log list as slow as a busy window's, so that ticks fall due while events wait.
    ui.onLine = [](const QString&) { QThread::usleep(1500); };
    ui.setDestination("127.0.0.1", module.portText());
    ui.form->optInterval[1]->click();
    ui.form->cboTime->setCurrentText("0.001");
    ui.form->cmdSend->click();
    const auto closes = [&module] { return module.closesAfterReplies(); };
    QTRY_VERIFY_WITH_TIMEOUT(closes() >= 20, 20000);
    ui.form->cmdEnd->click();

    // Replies read together arrive as one line of their joint length.
    const auto decodedBytes = [&ui] {
        static const QRegularExpression joint(QStringLiteral("length : (\\d+) Bytes$"));
        qsizetype bytes = 34 * ui.countLines(" RECV : ");
        for (const QString& line : ui.lines)
            bytes += joint.match(line).captured(1).toInt();
        return bytes;
    };
    QTRY_COMPARE(ui.countLines(" Socket Closed!!"), closes());
    QTRY_COMPARE(decodedBytes(), module.repliedBytes().size());
}

void TestDeviceLink::shutdownAndDestructionAreSilent_data() {
    QTest::addColumn<bool>("viaShutdown");
    QTest::newRow("shutdown, then destruction") << true;
    QTest::newRow("destruction alone") << false;
}

void TestDeviceLink::shutdownAndDestructionAreSilent() {
    QFETCH(bool, viaShutdown);
    Rig rig;
    QVERIFY(rig.connectNow());
    rig.ui.form->optInterval[1]->click();
    rig.ui.link->cmdSend_Click();
    QVERIFY(rig.ui.link->SendTimer->isActive());
    rig.ui.lines.clear();
    if (viaShutdown) {
        rig.ui.link->shutdown();
        QVERIFY(!rig.ui.link->SendTimer->isActive());
        QCOMPARE(rig.ui.link->Winsock1->State(), Winsock::kClosed);
    }
    rig.ui.form.reset();
    QTRY_VERIFY(!rig.module.connected());
    QTest::qWait(20);
    QCOMPARE(rig.ui.lines, QStringList());
}

QTEST_MAIN(TestDeviceLink)
#include "tst_device_link.moc"
