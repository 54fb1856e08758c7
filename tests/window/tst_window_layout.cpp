// The window as a user first sees it: every control's place, caption, state, font and
// colour, and the keyboard focus order.

#include "app/fonts.h"
#include "form/layout.h"
#include "window/frmSim_3870.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDesktopServices>
#include <QFontDatabase>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardPaths>
#include <QTest>

#include <memory>

namespace {

struct Placed {
    const char* name;
    const char* container;
    const char* caption; // nullptr: no caption to check
    int left, top, width, height;
};

// Positions in twips relative to the container, as designed.
const Placed kControls[] = {
    {"Frame1", "frmSim_3870", " TCP Information ", 30, 60, 7275, 855},
    {"Label3", "Frame1", "Destination IP", 180, 390, 1155, 225},
    {"txtDestIP", "Frame1", nullptr, 1380, 330, 1695, 330},
    {"Label4", "Frame1", "Port", 3240, 390, 330, 225},
    {"txtDestPort", "Frame1", nullptr, 3660, 330, 825, 330},
    {"cmdConnect", "Frame1", "Connect", 4680, 300, 1155, 375},
    {"cmdDisconnect", "Frame1", "Disconnect", 5850, 300, 1155, 375},
    {"Frame3", "frmSim_3870", " Ping TEST ", 7380, 60, 3675, 855},
    {"cmdPingStart", "Frame3", "Ping Start", 570, 300, 1215, 375},
    {"cmdPingStop", "Frame3", "Ping Stop", 1950, 300, 1215, 375},
    {"Frame2", "frmSim_3870", " Data Send Action ", 30, 990, 7275, 855},
    {"optInterval_0", "Frame2", "OneTime Send", 420, 405, 1575, 225},
    {"optInterval_1", "Frame2", "Repeat", 2520, 405, 975, 225},
    {"lblTime_0", "Frame2", "Time Interval", 4080, 390, 1050, 225},
    {"cboTime", "Frame2", nullptr, 5235, 330, 825, 345},
    {"lblTime_1", "Frame2", "(Second)", 6090, 405, 750, 225},
    {"Frame7", "frmSim_3870", " Log Level ", 7380, 990, 3675, 855},
    {"optLog_0", "Frame7", "List", 570, 390, 615, 255},
    {"optLog_1", "Frame7", "List + File", 1800, 390, 1095, 255},
    {"Frame8", "frmSim_3870", " Data Send ", 0, 1920, 11085, 1455},
    {"optCommand_0", "Frame8", "R (Request)", 360, 360, 1425, 240},
    {"optCommand_1", "Frame8", "T (DO Setting) ", 360, 720, 1605, 240},
    {"optCommand_2", "Frame8", "C (Count Reset)", 360, 1080, 1815, 240},
    {"Label1_0", "Frame8", "Channel", 2280, 360, 855, 255},
    {"Label2", "Frame8", "Value", 3480, 360, 615, 255},
    {"ComboSet", "Frame8", nullptr, 2280, 600, 975, 345},
    {"ComboValue", "Frame8", nullptr, 3480, 600, 975, 345},
    {"ComboReset", "Frame8", nullptr, 2280, 960, 975, 345},
    {"cmdSend", "Frame8", "Send", 7020, 300, 1245, 375},
    {"cmdEnd", "Frame8", "End", 8280, 300, 1245, 375},
    {"cmdClear", "Frame8", "List Clear", 9540, 300, 1245, 375},
    {"Frame9", "frmSim_3870", " DI ", 0, 3480, 6975, 1005},
    {"lbsCH_Input_0", "Frame9", "CH00", 240, 240, 480, 225},
    {"txt_Input_0", "Frame9", nullptr, 240, 480, 800, 360},
    {"lbsCH_Input_1", "Frame9", "CH01", 1080, 240, 480, 225},
    {"txt_Input_1", "Frame9", nullptr, 1080, 480, 800, 360},
    {"lbsCH_Input_6", "Frame9", "CH02", 1920, 240, 480, 225},
    {"txt_Input_2", "Frame9", nullptr, 1920, 480, 800, 360},
    {"lbsCH_Input_7", "Frame9", "CH03", 2760, 240, 480, 225},
    {"txt_Input_3", "Frame9", nullptr, 2760, 480, 800, 360},
    {"lbsCH_Input_8", "Frame9", "CH04", 3600, 240, 480, 225},
    {"txt_Input_4", "Frame9", nullptr, 3600, 480, 800, 360},
    {"lbsCH_Input_9", "Frame9", "CH05", 4440, 240, 480, 225},
    {"txt_Input_5", "Frame9", nullptr, 4440, 480, 800, 360},
    {"Frame11_0", "frmSim_3870", " DO", 7080, 3480, 2175, 1005},
    {"lbsCH_Input_15", "Frame11_0", "CH00", 120, 240, 480, 225},
    {"txt_Output_0", "Frame11_0", nullptr, 120, 500, 800, 360},
    {"lbsCH_Input_4", "Frame11_0", "CH01", 960, 240, 480, 225},
    {"txt_Output_1", "Frame11_0", nullptr, 960, 500, 800, 360},
    {"Frame11_1", "frmSim_3870", "CheckSum", 9360, 3480, 1665, 1005},
    {"lbsCH_Input_21", "Frame11_1", "CheckSum", 120, 240, 915, 225},
    {"txt_CheckSum", "Frame11_1", nullptr, 120, 480, 1215, 375},
    {"Frame5_0", "frmSim_3870", " Counter ", 0, 4560, 10995, 1005},
    {"lbsCH_Input_2", "Frame5_0", "Counter 0", 240, 240, 810, 225},
    {"txtCounter_0", "Frame5_0", nullptr, 240, 480, 1275, 330},
    {"lbsCH_Input_3", "Frame5_0", "Counter 1", 1560, 240, 810, 225},
    {"txtCounter_1", "Frame5_0", nullptr, 1680, 480, 1275, 330},
    {"lbsCH_Input_5", "Frame5_0", "Counter 2", 2880, 240, 810, 225},
    {"txtCounter_2", "Frame5_0", nullptr, 2880, 480, 1275, 330},
    {"lbsCH_Input_10", "Frame5_0", "Counter 3", 4200, 240, 810, 225},
    {"txtCounter_3", "Frame5_0", nullptr, 4200, 480, 1275, 330},
    {"lbsCH_Input_11", "Frame5_0", "Counter 4", 5520, 240, 810, 225},
    {"txtCounter_4", "Frame5_0", nullptr, 5520, 480, 1275, 330},
    {"lbsCH_Input_12", "Frame5_0", "Counter 5", 6840, 240, 810, 225},
    {"txtCounter_5", "Frame5_0", nullptr, 6840, 480, 1275, 330},
    {"Frame5_1", "frmSim_3870", "GapTime", 0, 5640, 10995, 1005},
    {"lbsCH_Input_19", "Frame5_1", "GapTime 0", 240, 240, 915, 225},
    {"txtGapTime_0", "Frame5_1", nullptr, 240, 480, 1275, 330},
    {"lbsCH_Input_18", "Frame5_1", "GapTime 1", 1560, 240, 915, 225},
    {"txtGapTime_1", "Frame5_1", nullptr, 1560, 480, 1275, 330},
    {"lbsCH_Input_17", "Frame5_1", "GapTime 2", 2880, 240, 915, 225},
    {"txtGapTime_2", "Frame5_1", nullptr, 2880, 480, 1275, 330},
    {"lbsCH_Input_16", "Frame5_1", "GapTime 3", 4200, 240, 915, 225},
    {"txtGapTime_3", "Frame5_1", nullptr, 4200, 480, 1275, 330},
    {"lbsCH_Input_14", "Frame5_1", "GapTime 4", 5520, 240, 915, 225},
    {"txtGapTime_4", "Frame5_1", nullptr, 5520, 480, 1275, 330},
    {"lbsCH_Input_13", "Frame5_1", "GapTime 5", 6840, 240, 915, 225},
    {"txtGapTime_5", "Frame5_1", nullptr, 6840, 480, 1275, 330},
    {"List1", "frmSim_3870", nullptr, 0, 6840, 11055, 2205},
    {"SSPanel2", "frmSim_3870", nullptr, 0, 9105, 11160, 465},
};

QString captionOf(const QWidget* widget) {
    if (const auto* box = qobject_cast<const QGroupBox*>(widget))
        return box->title();
    if (const auto* label = qobject_cast<const QLabel*>(widget))
        return label->text();
    if (const auto* button = qobject_cast<const QAbstractButton*>(widget))
        return button->text();
    return {};
}

int px(int twips) {
    return (twips + 7) / 15;
}

} // namespace

class UrlRecorder : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened << url; }
};

class WindowLayoutTest : public QObject {
    Q_OBJECT
    std::unique_ptr<frmSim_3870> window_;

    template <typename W = QWidget> W* control(const char* name) const {
        W* widget = window_->findChild<W*>(QString::fromLatin1(name));
        if (!widget)
            qFatal("no control %s", name);
        return widget;
    }

private slots:
    void initTestCase() {
        QStandardPaths::setTestModeEnabled(true);
        vm::installFontSubstitutions();
        window_ = std::make_unique<frmSim_3870>();
    }
    void cleanupTestCase() { window_.reset(); }

    void windowItself() {
        QCOMPARE(window_->objectName(), QStringLiteral("frmSim_3870"));
        QCOMPARE(window_->windowTitle(),
                 QStringLiteral("Velmora 3870/3890 Simulator Ver2.0 (2011.08.16)"));
        QCOMPARE(window_->size(), QSize(744, 638));
        QCOMPARE(window_->minimumSize(), window_->maximumSize());
        const Qt::WindowFlags flags = window_->windowFlags();
        QVERIFY(flags.testFlag(Qt::WindowMinimizeButtonHint));
        QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
    }

    void placement_data() {
        QTest::addColumn<int>("row");
        for (int row = 0; row < int(std::size(kControls)); ++row)
            QTest::newRow(kControls[row].name) << row;
    }
    void placement() {
        QFETCH(int, row);
        const Placed& p = kControls[row];
        const QWidget* widget = control(p.name);
        QCOMPARE(widget->parentWidget()->objectName(), QString::fromLatin1(p.container));
        QCOMPARE(widget->geometry(), QRect(px(p.left), px(p.top), px(p.width), px(p.height)));
        if (p.caption)
            QCOMPARE(captionOf(widget), QString::fromLatin1(p.caption));
    }

    void noUnnamedControls() {
        // Every widget of the design has its name; only a control's own inner parts
        // (the combo boxes' editors, views and scroll bars) go without one.
        int named = 0;
        for (const QWidget* widget : window_->findChildren<QWidget*>()) {
            if (!widget->objectName().isEmpty() &&
                !widget->objectName().startsWith(QLatin1String("qt_")))
                ++named;
        }
        QVERIFY2(named >= int(std::size(kControls)), qPrintable(QString::number(named)));
    }

    void initialStates() {
        auto enabled = [this](const char* name) { return control(name)->isEnabled(); };
        auto checked = [this](const char* name) {
            return control<QRadioButton>(name)->isChecked();
        };
        QVERIFY(checked("optCommand_0") && !checked("optCommand_1") && !checked("optCommand_2"));
        QVERIFY(checked("optInterval_0") && !checked("optInterval_1"));
        QVERIFY(checked("optLog_0") && !checked("optLog_1"));
        QVERIFY(enabled("cmdConnect") && !enabled("cmdDisconnect"));
        QVERIFY(enabled("cmdSend") && !enabled("cmdEnd") && enabled("cmdClear"));
        QVERIFY(enabled("cmdPingStart") && enabled("cmdPingStop"));
        QVERIFY(!enabled("lblTime_0") && !enabled("cboTime") && !enabled("lblTime_1"));
        QVERIFY(!enabled("ComboSet") && !enabled("ComboValue") && !enabled("ComboReset"));
        QCOMPARE(control<QComboBox>("ComboSet")->currentText(), QStringLiteral("1"));
        QCOMPARE(control<QComboBox>("ComboValue")->currentText(), QStringLiteral("0"));
        QCOMPARE(control<QComboBox>("ComboReset")->currentText(), QStringLiteral("1"));
        QCOMPARE(control<QListWidget>("List1")->count(), 0);

        auto* cboTime = control<QComboBox>("cboTime");
        QVERIFY(cboTime->isEditable());
        QStringList entries;
        for (int i = 0; i < cboTime->count(); ++i)
            entries << cboTime->itemText(i);
        QCOMPARE(entries.join(QLatin1Char(',')),
                 QStringLiteral("1,2,3,4,5,6,7,8,9,10,11,12,13,14,15"));

        for (const QLineEdit* box : window_->findChildren<QLineEdit*>()) {
            const QString name = box->objectName();
            if (name.startsWith(QLatin1String("txt_")) ||
                name.startsWith(QLatin1String("txtCounter")) ||
                name.startsWith(QLatin1String("txtGapTime")))
                QVERIFY2(box->text().isEmpty(), qPrintable(name));
        }
        for (const char* name : {"txt_Input_0", "txt_Input_5", "txt_Output_0", "txt_Output_1"}) {
            QVERIFY(control<QLineEdit>(name)->isReadOnly());
            QCOMPARE(control<QLineEdit>(name)->alignment(), Qt::AlignCenter);
        }
        QVERIFY(control<QLineEdit>("txtCounter_3")->alignment().testFlag(Qt::AlignRight));
        QVERIFY(control<QLineEdit>("txtGapTime_5")->alignment().testFlag(Qt::AlignRight));
        QVERIFY(!control<QLineEdit>("txt_CheckSum")->isReadOnly());
        QCOMPARE(control("Label1_1")->cursor().hotSpot(), QPoint(12, 1));
    }

    void colours_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("role");
        QTest::addColumn<QColor>("colour");
        const int caption = QPalette::WindowText;
        const int text = QPalette::Text;
        for (const char* name : {"Frame1", "Frame3", "Frame2", "Frame7", "Frame8"})
            QTest::newRow(name) << QString::fromLatin1(name) << caption << QColor(0, 0, 192);
        for (const char* name : {"Frame9", "Frame11_0", "Frame11_1", "Frame5_0", "Frame5_1"})
            QTest::newRow(name) << QString::fromLatin1(name) << caption << QColor(0, 192, 0);
        QTest::newRow("counter text") << "txtCounter_0" << text << QColor(0, 128, 128);
        QTest::newRow("gap text") << "txtGapTime_5" << text << QColor(0, 128, 128);
        QTest::newRow("input text") << "txt_Input_2" << text << QColor(192, 64, 0);
        QTest::newRow("output text") << "txt_Output_1" << text << QColor(192, 64, 0);
        QTest::newRow("panel") << "SSPanel2" << int(QPalette::Window) << QColor(212, 208, 200);
        // Controls inside a coloured group box keep the window's own text colour.
        const QColor plain = QApplication::palette().color(QPalette::WindowText);
        QTest::newRow("label in blue box") << "Label3" << caption << plain;
        QTest::newRow("option in blue box") << "optCommand_1" << caption << plain;
        QTest::newRow("label in green box") << "lbsCH_Input_2" << caption << plain;
    }
    void colours() {
        QFETCH(QString, name);
        QFETCH(int, role);
        QFETCH(QColor, colour);
        const QWidget* widget = control(qPrintable(name));
        QCOMPARE(widget->palette().color(QPalette::Active, QPalette::ColorRole(role)), colour);
    }

    void fonts_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("family");
        QTest::addColumn<double>("points");
        QTest::addColumn<bool>("bold");
        QTest::newRow("window") << "frmSim_3870"
                                << "Arial" << 9.0 << false;
        QTest::newRow("box caption") << "Frame8"
                                     << "Arial" << 9.0 << true;
        QTest::newRow("DI caption") << "Frame9"
                                    << "Gulim" << 9.0 << true;
        QTest::newRow("input value") << "txt_Input_0"
                                     << "Arial" << 9.75 << true;
        QTest::newRow("counter value") << "txtCounter_5"
                                       << "Arial" << 9.75 << true;
        QTest::newRow("checksum value") << "txt_CheckSum"
                                        << "Arial" << 9.0 << false;
        QTest::newRow("log list") << "List1"
                                  << "GulimChe" << 9.75 << false;
        QTest::newRow("vendor link") << "Label1_1"
                                     << "Gulim" << 9.0 << false;
        QTest::newRow("label in a box") << "Label3"
                                        << "Arial" << 9.0 << false;
        QTest::newRow("option in a box") << "optLog_1"
                                         << "Arial" << 9.0 << false;
    }
    void fonts() {
        QFETCH(QString, name);
        QFETCH(QString, family);
        QFETCH(double, points);
        QFETCH(bool, bold);
        const QWidget* widget =
            name == QLatin1String("frmSim_3870") ? window_.get() : control(qPrintable(name));
        QCOMPARE(widget->font().family(), family);
        QCOMPARE(widget->font().pointSizeF(), points);
        QCOMPARE(widget->font().bold(), bold);
    }

    // With Debian's font packages installed the faces resolve to the substitutes, and the
    // log list is fixed-pitch.
    void substitutesResolve() {
        if (!QFontDatabase::families().contains(QStringLiteral("NanumGothicCoding")))
            QSKIP("fonts-nanum-coding is not installed");
        QCOMPARE(QFontInfo(control("List1")->font()).family(), QStringLiteral("NanumGothicCoding"));
        // A dual-width face: every Latin character has the same advance.
        const QFontMetrics metrics(control("List1")->font());
        QCOMPARE(metrics.horizontalAdvance(QLatin1Char('i')),
                 metrics.horizontalAdvance(QLatin1Char('W')));
        QCOMPARE(QFontInfo(window_->font()).family(), QStringLiteral("Liberation Sans"));
    }

    void focusOrder() {
        const char* expected[] = {"txtDestIP",   "txtDestPort",   "cmdConnect", "cmdPingStart",
                                  "cmdPingStop", "optInterval_0", "optLog_0",   "optCommand_0",
                                  "cmdSend",     "cmdClear"};
        // Walk the focus chain from the address field, keeping enabled controls that take
        // the focus by Tab; option buttons after the first of a group are reached by arrows.
        QStringList order;
        QWidget* widget = control("txtDestIP");
        for (int guard = 0; guard < 200 && order.size() < int(std::size(expected)); ++guard) {
            if (widget->isEnabled() && (widget->focusPolicy() & Qt::TabFocus) &&
                !widget->objectName().isEmpty() && !order.contains(widget->objectName())) {
                const auto* option = qobject_cast<QRadioButton*>(widget);
                if (!option || option->isChecked())
                    order << widget->objectName();
            }
            widget = widget->nextInFocusChain();
        }
        QStringList want;
        for (const char* name : expected)
            want << QString::fromLatin1(name);
        QCOMPARE(order, want);
    }

    void accessibleNames() {
        QCOMPARE(control("txtDestIP")->accessibleName(), QStringLiteral("Destination IP"));
        QCOMPARE(control("txtDestPort")->accessibleName(), QStringLiteral("Port"));
        QCOMPARE(control("cboTime")->accessibleName(), QStringLiteral("Time Interval"));
        QCOMPARE(control("List1")->accessibleName(), QStringLiteral("Log"));
    }

    void vendorLinkOpensItsCaptionOncePerClick() {
        UrlRecorder recorder;
        QDesktopServices::setUrlHandler(QStringLiteral("http"), &recorder, "open");
        auto* link = control<QLabel>("Label1_1");
        QTest::mouseClick(link, Qt::LeftButton);
        QCOMPARE(recorder.opened.size(), 1);
        QCOMPARE(recorder.opened.first(), QUrl(QStringLiteral("http://") + link->text()));
        QTest::mouseClick(control("Label1_0"), Qt::LeftButton); // "Channel" is a plain caption
        QCOMPARE(recorder.opened.size(), 1);
        QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
        QVERIFY(link->text().endsWith(QLatin1String(".example")));
        QCOMPARE(link->font().underline(), false);
    }

    // The vendor address at its place in the bottom panel, with room for the whole line of
    // its face, its full stops on the line (cut short or set below it, they read as commas).
    void vendorCaptionWhollyVisible() {
        const auto* link = control<QLabel>("Label1_1");
        const QFontMetrics metrics(link->font());
        QCOMPARE(link->geometry().topLeft(), QPoint(px(120), px(150)));
        QCOMPARE(link->width(), px(1980));
        QVERIFY(link->height() >= metrics.height());
        QVERIFY(link->geometry().bottom() < link->parentWidget()->height());
        QVERIFY(metrics.boundingRect(QLatin1Char('.')).bottom() < 0);
    }

    // Every control of the layout stands wholly inside its container, so that no caption or
    // box is cut off by the frame or the window it stands in.
    void controlsLieInsideTheirContainers() {
        for (const vm::form::ControlLayout& c : vm::form::controls()) {
            const QString name = QString::fromStdString(c.id.objectName());
            const QWidget* widget = control(qPrintable(name));
            QVERIFY2(widget->parentWidget()->rect().contains(widget->geometry()), qPrintable(name));
        }
    }

    void resizeMovesNothing() {
        const QRect before = control("cmdSend")->geometry();
        window_->Form_Resize();
        window_->showMinimized();
        window_->showNormal();
        QCOMPARE(control("cmdSend")->geometry(), before);
        QCOMPARE(control("SSPanel2")->geometry(), QRect(0, 607, 744, 31));
    }
};

QTEST_MAIN(WindowLayoutTest)
#include "tst_window_layout.moc"
