// The keystroke filter of the address, port and interval fields, through real key events.

#include "window/frmSim_3870.h"
#include "window/keyfilter.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStandardPaths>
#include <QTest>

#include <algorithm>
#include <memory>

class WindowKeysTest : public QObject {
    Q_OBJECT
    std::unique_ptr<frmSim_3870> window_;
    int beeps_ = 0;

    QLineEdit* field(const QString& name) const {
        if (name == QLatin1String("cboTime"))
            return window_->cboTime->lineEdit();
        return window_->findChild<QLineEdit*>(name);
    }

    // Sets the field's text, clicks into it and presses End, as a user would, and returns
    // the widget that the keyboard then types into (the combo box itself for cboTime).
    QWidget* clickInto(const QString& name, const QString& text) {
        QLineEdit* edit = field(name);
        edit->setText(text);
        QTest::mouseClick(edit, Qt::LeftButton, {}, edit->rect().center());
        QWidget* focused = QApplication::focusWidget();
        if (!focused)
            return nullptr;
        QTest::keyClick(focused, Qt::Key_End);
        return focused;
    }

private slots:
    void initTestCase() {
        QStandardPaths::setTestModeEnabled(true);
        vm::setBeeper([this] { ++beeps_; });
        window_ = std::make_unique<frmSim_3870>();
        window_->cboTime->setEnabled(true);
        window_->show();
        window_->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window_.get()));
    }
    void cleanupTestCase() {
        window_.reset();
        vm::setBeeper({});
    }

    void keys_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QString>("after"); // field text "12" with the cursor at its end
        QTest::addColumn<int>("beeps");
        struct Case {
            const char* what;
            int key;
            int modifiers;
            const char* after;
            int beeps;
        };
        const Case cases[] = {
            {"digit", Qt::Key_7, 0, "127", 0},
            {"point", Qt::Key_Period, 0, "12.", 0},
            {"backspace", Qt::Key_Backspace, 0, "1", 0},
            {"shift+backspace", Qt::Key_Backspace, int(Qt::ShiftModifier), "1", 0},
            {"ctrl+backspace deletes no word", Qt::Key_Backspace, int(Qt::ControlModifier), "12",
             1},
            {"letter", Qt::Key_A, 0, "12", 1},
            {"blank", Qt::Key_Space, 0, "12", 1},
            {"minus", Qt::Key_Minus, 0, "12", 1},
            {"colon", Qt::Key_Colon, int(Qt::ShiftModifier), "12", 1},
            {"enter", Qt::Key_Return, 0, "12", 1},
            {"escape", Qt::Key_Escape, 0, "12", 1},
            {"ctrl+v pastes nothing", Qt::Key_V, int(Qt::ControlModifier), "12", 1},
            {"ctrl+x cuts nothing", Qt::Key_X, int(Qt::ControlModifier), "12", 1},
            {"ctrl+a", Qt::Key_A, int(Qt::ControlModifier), "12", 1},
            {"ctrl+c", Qt::Key_C, int(Qt::ControlModifier), "12", 1},
            {"left arrow works", Qt::Key_Left, 0, "12", 0},
            {"home works", Qt::Key_Home, 0, "12", 0},
            {"end works", Qt::Key_End, 0, "12", 0},
            {"delete at end", Qt::Key_Delete, 0, "12", 0},
        };
        for (const char* name : {"txtDestIP", "txtDestPort", "cboTime"})
            for (const Case& c : cases)
                QTest::addRow("%s: %s", name, c.what)
                    << QString::fromLatin1(name) << c.key << c.modifiers
                    << QString::fromLatin1(c.after) << c.beeps;
    }
    void keys() {
        QFETCH(QString, name);
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(QString, after);
        QFETCH(int, beeps);
        QApplication::clipboard()->setText(QStringLiteral("99"));
        QWidget* typed = clickInto(name, QStringLiteral("12"));
        QVERIFY(typed);
        beeps_ = 0;
        QTest::keyClick(typed, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QCOMPARE(field(name)->text(), after);
        QCOMPARE(beeps_, beeps);
    }

    void arrowsAndDeleteEdit() {
        QWidget* typed = clickInto(QStringLiteral("txtDestPort"), QStringLiteral("4000"));
        QVERIFY(typed);
        beeps_ = 0;
        QTest::keyClick(typed, Qt::Key_Home);
        QTest::keyClick(typed, Qt::Key_Delete);
        QTest::keyClick(typed, Qt::Key_Right);
        QTest::keyClick(typed, Qt::Key_5);
        QCOMPARE(field(QStringLiteral("txtDestPort"))->text(), QStringLiteral("0500"));
        QCOMPARE(beeps_, 0);
    }

    void typedLengthIsLimitedButProgramTextIsNot_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("limit");
        QTest::newRow("address") << "txtDestIP" << 15;
        QTest::newRow("port") << "txtDestPort" << 5;
    }
    void typedLengthIsLimitedButProgramTextIsNot() {
        QFETCH(QString, name);
        QFETCH(int, limit);
        QLineEdit* edit = field(name);
        QWidget* typed = clickInto(name, QString());
        QVERIFY(typed);
        QTest::keyClicks(typed, QString(limit + 3, QLatin1Char('1')));
        QCOMPARE(edit->text().size(), limit);
        const QString loaded(limit * 4, QLatin1Char('2'));
        edit->setText(loaded);
        QCOMPARE(edit->text(), loaded);
        QTest::keyClick(typed, Qt::Key_End);
        QTest::keyClick(typed, Qt::Key_Backspace); // shortening an over-long text still works
        QCOMPARE(edit->text().size(), loaded.size() - 1);
        QTest::keyClick(typed, Qt::Key_3); // but it does not grow again
        QCOMPARE(edit->text().size(), loaded.size() - 1);
    }

    // Pasting is held to the length limit (the middle click and the context menu's Paste
    // insert the same way as Shift+Insert).
    void pastedTextIsLimited_data() { typedLengthIsLimitedButProgramTextIsNot_data(); }
    void pastedTextIsLimited() {
        QFETCH(QString, name);
        QFETCH(int, limit);
        QApplication::clipboard()->setText(QStringLiteral("7").repeated(32));
        QWidget* typed = clickInto(name, QStringLiteral("1"));
        QVERIFY(typed);
        QTest::keyClick(typed, Qt::Key_Insert, Qt::ShiftModifier);
        QCOMPARE(field(name)->text(),
                 QStringLiteral("1") + QStringLiteral("7").repeated(limit - 1));
    }

    // Pasted text passes the typed keys' rule before the length cut: what a key would be
    // refused is dropped, with one beep for the paste, so a pasted port keeps its meaning.
    void pastedTextIsFiltered_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("pasted");
        QTest::addColumn<QString>("after");
        QTest::addColumn<int>("beeps");
        QTest::newRow("port after a blank") << "txtDestPort"
                                            << " 20001"
                                            << "20001" << 1;
        QTest::newRow("signed port") << "txtDestPort"
                                     << "+20001"
                                     << "20001" << 1;
        QTest::newRow("digits alone") << "txtDestPort"
                                      << "4000"
                                      << "4000" << 0;
        QTest::newRow("address with blanks") << "txtDestIP"
                                             << " 127.0.0.1 "
                                             << "127.0.0.1" << 1;
        QTest::newRow("interval with its unit") << "cboTime"
                                                << "0.05 s"
                                                << "0.05" << 1;
    }
    void pastedTextIsFiltered() {
        QFETCH(QString, name);
        QFETCH(QString, pasted);
        QFETCH(QString, after);
        QFETCH(int, beeps);
        QApplication::clipboard()->setText(pasted);
        QWidget* typed = clickInto(name, QString());
        QVERIFY(typed);
        beeps_ = 0;
        QTest::keyClick(typed, Qt::Key_Insert, Qt::ShiftModifier);
        QCOMPARE(field(name)->text(), after);
        QCOMPARE(beeps_, beeps);
    }

    void valueBoxesTakeNoTyping() {
        QLineEdit* input = window_->txt_Input[0];
        input->setFocus();
        QTest::keyClicks(input, QStringLiteral("1a"));
        QCOMPARE(input->text(), QString());
    }

    // Tab and Shift+Tab through every control that takes the focus, all of them enabled, from
    // the address field round to it again: the window's reading order, frame by frame.
    void tabFollowsReadingOrder() {
        const QStringList expected = {
            "txtDestIP",    "txtDestPort",   "cmdConnect",   "cmdDisconnect", "cmdPingStart",
            "cmdPingStop",  "optInterval_0", "cboTime",      "optLog_0",      "optCommand_0",
            "ComboSet",     "ComboValue",    "ComboReset",   "cmdSend",       "cmdEnd",
            "cmdClear",     "txt_Input_0",   "txt_Input_1",  "txt_Input_2",   "txt_Input_3",
            "txt_Input_4",  "txt_Input_5",   "txt_Output_0", "txt_Output_1",  "txt_CheckSum",
            "txtCounter_0", "txtCounter_1",  "txtCounter_2", "txtCounter_3",  "txtCounter_4",
            "txtCounter_5", "txtGapTime_0",  "txtGapTime_1", "txtGapTime_2",  "txtGapTime_3",
            "txtGapTime_4", "txtGapTime_5",  "List1",        "txtDestIP"};
        for (QWidget* control : window_->findChildren<QWidget*>())
            control->setEnabled(true);
        // The focused control by its design name (the interval box types into a line edit
        // of its own).
        const auto focused = [] {
            QWidget* widget = QApplication::focusWidget();
            while (widget && widget->objectName().isEmpty())
                widget = widget->parentWidget();
            return widget ? widget->objectName() : QString();
        };
        const auto walk = [&](Qt::KeyboardModifiers modifiers) {
            QStringList visited{focused()};
            for (qsizetype i = 1; i < expected.size(); ++i) {
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, modifiers);
                visited << focused();
            }
            return visited;
        };
        window_->txtDestIP->setFocus();
        QCOMPARE(walk(Qt::NoModifier), expected);
        QStringList backwards = expected;
        std::reverse(backwards.begin(), backwards.end());
        QCOMPARE(walk(Qt::ShiftModifier), backwards);
    }

    // Enter, on either key, presses the focused button as Space does.
    void keysPressFocusedButton_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::newRow("Return") << int(Qt::Key_Return) << 0;
        QTest::newRow("keypad Enter") << int(Qt::Key_Enter) << int(Qt::KeypadModifier);
        QTest::newRow("Space") << int(Qt::Key_Space) << 0;
    }
    void keysPressFocusedButton() {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        window_->AddLog(QStringLiteral("a line to clear"));
        window_->cmdClear->setFocus();
        QTest::keyClick(window_->cmdClear, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QCOMPARE(window_->List1->count(), 0);
    }
};

QTEST_MAIN(WindowKeysTest)
#include "tst_window_keys.moc"
