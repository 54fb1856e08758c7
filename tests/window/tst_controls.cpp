#include "toolkit/colors.h"
#include "window/keyfilter.h"
#include "window/twips.h"

#include <QApplication>
#include <QTest>

class ControlsTest : public QObject {
    Q_OBJECT
private slots:
    void colors_data() {
        QTest::addColumn<uint>("bgr");
        QTest::addColumn<QColor>("rgb");
        QTest::newRow("dark orange") << 0x000040C0u << QColor(192, 64, 0);
        QTest::newRow("dark blue") << 0x00C00000u << QColor(0, 0, 192);
        QTest::newRow("green") << 0x0000C000u << QColor(0, 192, 0);
        QTest::newRow("teal") << 0x00808000u << QColor(0, 128, 128);
        QTest::newRow("panel grey") << 0x00C8D0D4u << QColor(212, 208, 200);
        QTest::newRow("white") << 0x00FFFFFFu << QColor(255, 255, 255);
        QTest::newRow("top byte ignored") << 0x7F000001u << QColor(1, 0, 0);
    }
    void colors() {
        QFETCH(uint, bgr);
        QFETCH(QColor, rgb);
        QCOMPARE(vm::colorFromBgr(bgr), rgb);
    }

    void systemMenuColorIsThePalettes() {
        QCOMPARE(vm::colorFromBgr(vm::kSystemMenuColor),
                 QApplication::palette("QMenu").color(QPalette::Window));
    }

    void twips_data() {
        QTest::addColumn<int>("twips");
        QTest::addColumn<int>("px");
        QTest::newRow("zero") << 0 << 0;
        QTest::newRow("one pixel") << 15 << 1;
        QTest::newRow("client width") << 11160 << 744;
        QTest::newRow("client height") << 9570 << 638;
        QTest::newRow("rounds down below half") << 22 << 1;
        QTest::newRow("rounds up from half") << 23 << 2;
        QTest::newRow("negative") << -30 << -2;
    }
    void twips() {
        QFETCH(int, twips);
        QFETCH(int, px);
        QCOMPARE(vm::twipsToPx(twips), px);
    }

    void typedCharCode_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("code");
        const int none = Qt::NoModifier;
        const int ctrl = Qt::ControlModifier;
        QTest::newRow("digit") << int(Qt::Key_5) << none << "5" << int('5');
        QTest::newRow("point") << int(Qt::Key_Period) << none << "." << int('.');
        QTest::newRow("letter") << int(Qt::Key_A) << none << "a" << int('a');
        QTest::newRow("backspace") << int(Qt::Key_Backspace) << none << "\b" << 8;
        QTest::newRow("enter") << int(Qt::Key_Return) << none << "\r" << 13;
        QTest::newRow("keypad enter") << int(Qt::Key_Enter) << none << "\r" << 13;
        QTest::newRow("escape") << int(Qt::Key_Escape) << none << "\x1b" << 27;
        QTest::newRow("ctrl+v without text") << int(Qt::Key_V) << ctrl << "" << 22;
        QTest::newRow("ctrl+a") << int(Qt::Key_A) << ctrl << "\x01" << 1;
        QTest::newRow("left arrow") << int(Qt::Key_Left) << none << "" << -1;
        QTest::newRow("delete as DEL") << int(Qt::Key_Delete) << none << "\x7f" << -1;
        QTest::newRow("home") << int(Qt::Key_Home) << none << "" << -1;
        QTest::newRow("tab moves focus") << int(Qt::Key_Tab) << none << "\t" << -1;
        QTest::newRow("F5") << int(Qt::Key_F5) << none << "" << -1;
        QTest::newRow("shift alone") << int(Qt::Key_Shift) << int(Qt::ShiftModifier) << "" << -1;
    }
    void typedCharCode() {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(QString, text);
        QFETCH(int, code);
        QCOMPARE(vm::typedCharCode(key, Qt::KeyboardModifiers(modifiers), text), code);
    }

    void entryFieldSet() {
        QString accepted;
        for (int code = 0; code < 0x10000; ++code)
            if (vm::isEntryFieldChar(code))
                accepted += QChar(char16_t(code));
        QCOMPARE(accepted, QStringLiteral("\b.0123456789"));
    }
};

QTEST_MAIN(ControlsTest)
#include "tst_controls.moc"
