// Builds the window's control tree: every control with its design name, caption, initial
// state, colours, font and position (in twips, relative to its container).

#include "toolkit/colors.h"
#include "window/frmSim_3870.h"
#include "window/twips.h"
#include "window/vendorlink.h"

#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>

#include <algorithm>
#include <utility>
#include <vector>

namespace {

// Client area of the window, in twips.
constexpr int kClientWidth = 11160;
constexpr int kClientHeight = 9570;

constexpr quint32 kCommandCaptionColor = 0x00C00000; // dark blue
constexpr quint32 kValueCaptionColor = 0x0000C000;   // green
constexpr quint32 kNumberTextColor = 0x00808000;     // teal
constexpr quint32 kChannelTextColor = 0x000040C0;    // dark orange
constexpr quint32 kPanelColor = 0x00C8D0D4;          // light grey

QFont makeFont(const char* family, double points, bool bold) {
    QFont font(QString::fromLatin1(family));
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

QString arrayName(const char* name, int index) {
    return QStringLiteral("%1_%2").arg(QLatin1String(name)).arg(index);
}

// The window's palette with its text roles marked as set, so that a control keeps them
// instead of taking the coloured caption text of the group box it stands in.
QPalette ownTextPalette(const QPalette& base) {
    QPalette palette = base;
    for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
            palette.setColor(group, role, base.color(group, role));
    return palette;
}

// Collects the controls that take the focus with their design tab numbers, then chains
// them in that order.
class TabOrder {
public:
    void add(QWidget* widget, int tab) { entries_.emplace_back(tab, widget); }
    void apply() {
        std::stable_sort(entries_.begin(), entries_.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        for (std::size_t i = 1; i < entries_.size(); ++i)
            QWidget::setTabOrder(entries_[i - 1].second, entries_[i].second);
    }

private:
    std::vector<std::pair<int, QWidget*>> entries_;
};

struct Builder {
    QWidget* window;
    QFont windowFont;
    QPalette windowPalette;
    TabOrder tabs;

    template <typename W> W* place(W* widget, const QString& name, QRect twips) {
        widget->setObjectName(name);
        widget->setGeometry(twips);
        // Children of a group box take the window's font and colours, not the caption's.
        widget->setFont(windowFont);
        widget->setPalette(windowPalette);
        return widget;
    }

    QGroupBox* frame(const QString& name, const char* caption, QRect twips, quint32 captionColor,
                     const QFont& captionFont) {
        auto* box = new QGroupBox(QString::fromLatin1(caption), window);
        box->setObjectName(name);
        box->setGeometry(twips);
        box->setFont(captionFont);
        QPalette palette = windowPalette;
        palette.setColor(QPalette::WindowText, vm::colorFromBgr(captionColor));
        box->setPalette(palette);
        return box;
    }

    QLabel* label(QWidget* parent, const QString& name, const char* caption, QRect twips) {
        auto* widget = place(new QLabel(QString::fromLatin1(caption), parent), name, twips);
        widget->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        return widget;
    }

    QLineEdit* text(QWidget* parent, const QString& name, QRect twips, int tab) {
        auto* widget = place(new QLineEdit(parent), name, twips);
        tabs.add(widget, tab);
        return widget;
    }

    QPushButton* button(QWidget* parent, const QString& name, const char* caption, QRect twips,
                        int tab, bool enabled) {
        auto* widget = place(new QPushButton(QString::fromLatin1(caption), parent), name, twips);
        widget->setEnabled(enabled);
        widget->setAutoDefault(false);
        tabs.add(widget, tab);
        return widget;
    }

    QRadioButton* option(QWidget* parent, const QString& name, const char* caption, QRect twips,
                         int tab, bool selected) {
        auto* widget = place(new QRadioButton(QString::fromLatin1(caption), parent), name, twips);
        widget->setChecked(selected);
        tabs.add(widget, tab);
        return widget;
    }

    QComboBox* pickList(QWidget* parent, const QString& name, QRect twips, int tab) {
        auto* widget = place(new QComboBox(parent), name, twips);
        widget->setEnabled(false);
        tabs.add(widget, tab);
        return widget;
    }

    // A value box that only the program writes.
    QLineEdit* valueBox(QWidget* parent, const QString& name, QRect twips, int tab,
                        const QFont& font, quint32 textColor, Qt::Alignment alignment,
                        bool readOnly) {
        auto* widget = text(parent, name, twips, tab);
        widget->setFont(font);
        QPalette palette = windowPalette;
        palette.setColor(QPalette::Text, vm::colorFromBgr(textColor));
        widget->setPalette(palette);
        widget->setAlignment(alignment);
        widget->setReadOnly(readOnly);
        return widget;
    }
};

} // namespace

void frmSim_3870::buildControls() {
    using vm::twipsRect;

    setWindowTitle(QStringLiteral("Velmora 3870/3890 Simulator Ver2.0 (2011.08.16)"));
    setFixedSize(vm::twipsToPx(kClientWidth), vm::twipsToPx(kClientHeight));
    setFont(makeFont("Arial", 9, false));

    Builder b{this, font(), ownTextPalette(palette()), {}};
    const QFont captionFont = makeFont("Arial", 9, true);
    const QFont valueFont = makeFont("Arial", 9.75, true);

    // " TCP Information "
    Frame1 = b.frame(QStringLiteral("Frame1"), " TCP Information ", twipsRect(30, 60, 7275, 855),
                     kCommandCaptionColor, captionFont);
    Label3 =
        b.label(Frame1, QStringLiteral("Label3"), "Destination IP", twipsRect(180, 390, 1155, 225));
    txtDestIP = b.text(Frame1, QStringLiteral("txtDestIP"), twipsRect(1380, 330, 1695, 330), 0);
    txtDestIP->setAccessibleName(QStringLiteral("Destination IP"));
    Label4 = b.label(Frame1, QStringLiteral("Label4"), "Port", twipsRect(3240, 390, 330, 225));
    txtDestPort = b.text(Frame1, QStringLiteral("txtDestPort"), twipsRect(3660, 330, 825, 330), 1);
    txtDestPort->setAccessibleName(QStringLiteral("Port"));
    cmdConnect = b.button(Frame1, QStringLiteral("cmdConnect"), "Connect",
                          twipsRect(4680, 300, 1155, 375), 2, true);
    cmdDisconnect = b.button(Frame1, QStringLiteral("cmdDisconnect"), "Disconnect",
                             twipsRect(5850, 300, 1155, 375), 3, false);

    // " Ping TEST "
    Frame3 = b.frame(QStringLiteral("Frame3"), " Ping TEST ", twipsRect(7380, 60, 3675, 855),
                     kCommandCaptionColor, captionFont);
    cmdPingStart = b.button(Frame3, QStringLiteral("cmdPingStart"), "Ping Start",
                            twipsRect(570, 300, 1215, 375), 4, true);
    cmdPingStop = b.button(Frame3, QStringLiteral("cmdPingStop"), "Ping Stop",
                           twipsRect(1950, 300, 1215, 375), 5, true);

    // " Data Send Action "
    Frame2 = b.frame(QStringLiteral("Frame2"), " Data Send Action ", twipsRect(30, 990, 7275, 855),
                     kCommandCaptionColor, captionFont);
    optInterval[0] = b.option(Frame2, arrayName("optInterval", 0), "OneTime Send",
                              twipsRect(420, 405, 1575, 225), 6, true);
    optInterval[1] = b.option(Frame2, arrayName("optInterval", 1), "Repeat",
                              twipsRect(2520, 405, 975, 225), 7, false);
    lblTime[0] =
        b.label(Frame2, arrayName("lblTime", 0), "Time Interval", twipsRect(4080, 390, 1050, 225));
    lblTime[0]->setEnabled(false);
    cboTime = b.pickList(Frame2, QStringLiteral("cboTime"), twipsRect(5235, 330, 825, 345), 8);
    cboTime->setEditable(true);
    cboTime->setInsertPolicy(QComboBox::NoInsert);
    for (int entry = 1; entry <= 15; ++entry)
        cboTime->addItem(QString::number(entry));
    cboTime->setEditText(QStringLiteral("1"));
    cboTime->setAccessibleName(QStringLiteral("Time Interval"));
    cboTime->lineEdit()->setAccessibleName(QStringLiteral("Time Interval"));
    lblTime[1] =
        b.label(Frame2, arrayName("lblTime", 1), "(Second)", twipsRect(6090, 405, 750, 225));
    lblTime[1]->setEnabled(false);

    // " Log Level "
    Frame7 = b.frame(QStringLiteral("Frame7"), " Log Level ", twipsRect(7380, 990, 3675, 855),
                     kCommandCaptionColor, captionFont);
    optLog[0] =
        b.option(Frame7, arrayName("optLog", 0), "List", twipsRect(570, 390, 615, 255), 9, true);
    optLog[1] = b.option(Frame7, arrayName("optLog", 1), "List + File",
                         twipsRect(1800, 390, 1095, 255), 10, false);

    // " Data Send "
    Frame8 = b.frame(QStringLiteral("Frame8"), " Data Send ", twipsRect(0, 1920, 11085, 1455),
                     kCommandCaptionColor, captionFont);
    optCommand[0] = b.option(Frame8, arrayName("optCommand", 0), "R (Request)",
                             twipsRect(360, 360, 1425, 240), 11, true);
    optCommand[1] = b.option(Frame8, arrayName("optCommand", 1), "T (DO Setting) ",
                             twipsRect(360, 720, 1605, 240), 12, false);
    optCommand[2] = b.option(Frame8, arrayName("optCommand", 2), "C (Count Reset)",
                             twipsRect(360, 1080, 1815, 240), 13, false);
    Label1[0] = b.label(Frame8, arrayName("Label1", 0), "Channel", twipsRect(2280, 360, 855, 255));
    Label2 = b.label(Frame8, QStringLiteral("Label2"), "Value", twipsRect(3480, 360, 615, 255));
    ComboSet = b.pickList(Frame8, QStringLiteral("ComboSet"), twipsRect(2280, 600, 975, 345), 46);
    ComboValue =
        b.pickList(Frame8, QStringLiteral("ComboValue"), twipsRect(3480, 600, 975, 345), 50);
    ComboReset =
        b.pickList(Frame8, QStringLiteral("ComboReset"), twipsRect(2280, 960, 975, 345), 47);
    cmdSend = b.button(Frame8, QStringLiteral("cmdSend"), "Send", twipsRect(7020, 300, 1245, 375),
                       14, true);
    cmdEnd = b.button(Frame8, QStringLiteral("cmdEnd"), "End", twipsRect(8280, 300, 1245, 375), 15,
                      false);
    cmdClear = b.button(Frame8, QStringLiteral("cmdClear"), "List Clear",
                        twipsRect(9540, 300, 1245, 375), 16, true);

    // The value boxes stand in columns, a caption label over each box. Labels take no focus,
    // so only the boxes' tab numbers matter.
    struct Column {
        int labelIndex;
        const char* caption;
        int labelLeft;
        int boxLeft;
        int boxTab;
    };
    struct ColumnStyle {
        int labelWidth;
        int boxTop, boxWidth, boxHeight;
        quint32 textColor;
        Qt::Alignment alignment;
        bool readOnly;
    };
    const auto columns = [&](QGroupBox* box, const char* boxName, const auto& table,
                             const ColumnStyle& style, auto& boxes) {
        for (std::size_t k = 0; k < std::size(table); ++k) {
            const Column& c = table[k];
            lbsCH_Input[c.labelIndex] =
                b.label(box, arrayName("lbsCH_Input", c.labelIndex), c.caption,
                        twipsRect(c.labelLeft, 240, style.labelWidth, 225));
            boxes[k] =
                b.valueBox(box, arrayName(boxName, int(k)),
                           twipsRect(c.boxLeft, style.boxTop, style.boxWidth, style.boxHeight),
                           c.boxTab, valueFont, style.textColor, style.alignment, style.readOnly);
        }
    };
    const ColumnStyle channel{480, 480, 800, 360, kChannelTextColor, Qt::AlignCenter, true};
    const ColumnStyle number{
        810, 480, 1275, 330, kNumberTextColor, Qt::AlignRight | Qt::AlignVCenter, false};

    // " DI ": six inputs.
    Frame9 = b.frame(QStringLiteral("Frame9"), " DI ", twipsRect(0, 3480, 6975, 1005),
                     kValueCaptionColor, makeFont("Gulim", 9, true));
    const Column inputs[6] = {{0, "CH00", 240, 240, 22},   {1, "CH01", 1080, 1080, 21},
                              {6, "CH02", 1920, 1920, 40}, {7, "CH03", 2760, 2760, 51},
                              {8, "CH04", 3600, 3600, 52}, {9, "CH05", 4440, 4440, 53}};
    columns(Frame9, "txt_Input", inputs, channel, txt_Input);

    // " DO": two outputs, their boxes a little lower.
    Frame11[0] = b.frame(arrayName("Frame11", 0), " DO", twipsRect(7080, 3480, 2175, 1005),
                         kValueCaptionColor, captionFont);
    const Column outputs[2] = {{15, "CH00", 120, 120, 18}, {4, "CH01", 960, 960, 42}};
    ColumnStyle output = channel;
    output.boxTop = 500;
    columns(Frame11[0], "txt_Output", outputs, output, txt_Output);

    // "CheckSum": window font and colours, left-aligned.
    Frame11[1] = b.frame(arrayName("Frame11", 1), "CheckSum", twipsRect(9360, 3480, 1665, 1005),
                         kValueCaptionColor, captionFont);
    lbsCH_Input[21] = b.label(Frame11[1], arrayName("lbsCH_Input", 21), "CheckSum",
                              twipsRect(120, 240, 915, 225));
    txt_CheckSum =
        b.text(Frame11[1], QStringLiteral("txt_CheckSum"), twipsRect(120, 480, 1215, 375), 80);

    // " Counter " and "GapTime": six columns each, right-aligned numbers.
    Frame5[0] = b.frame(arrayName("Frame5", 0), " Counter ", twipsRect(0, 4560, 10995, 1005),
                        kValueCaptionColor, captionFont);
    const Column counters[6] = {
        {2, "Counter 0", 240, 240, 36},    {3, "Counter 1", 1560, 1680, 37},
        {5, "Counter 2", 2880, 2880, 44},  {10, "Counter 3", 4200, 4200, 57},
        {11, "Counter 4", 5520, 5520, 58}, {12, "Counter 5", 6840, 6840, 59}};
    columns(Frame5[0], "txtCounter", counters, number, txtCounter);

    Frame5[1] = b.frame(arrayName("Frame5", 1), "GapTime", twipsRect(0, 5640, 10995, 1005),
                        kValueCaptionColor, captionFont);
    const Column gaps[6] = {{19, "GapTime 0", 240, 240, 71},   {18, "GapTime 1", 1560, 1560, 70},
                            {17, "GapTime 2", 2880, 2880, 69}, {16, "GapTime 3", 4200, 4200, 68},
                            {14, "GapTime 4", 5520, 5520, 67}, {13, "GapTime 5", 6840, 6840, 66}};
    ColumnStyle gap = number;
    gap.labelWidth = 915;
    columns(Frame5[1], "txtGapTime", gaps, gap, txtGapTime);

    // The log list: fixed-pitch lines, one per entry.
    List1 = new QListWidget(this);
    List1->setObjectName(QStringLiteral("List1"));
    List1->setGeometry(twipsRect(0, 6840, 11055, 2205));
    List1->setFont(makeFont("GulimChe", 9.75, false));
    List1->setUniformItemSizes(true);
    List1->setTextElideMode(Qt::ElideNone); // a line is scrolled to, never cut with "…"
    List1->setSelectionMode(QAbstractItemView::SingleSelection);
    List1->setAccessibleName(QStringLiteral("Log"));
    b.tabs.add(List1, 25);

    // The bottom panel, a raised light-grey strip docked to the bottom edge.
    SSPanel2 = new QFrame(this);
    SSPanel2->setObjectName(QStringLiteral("SSPanel2"));
    SSPanel2->setFrameStyle(QFrame::Panel | QFrame::Raised);
    SSPanel2->setLineWidth(1);
    SSPanel2->setFont(makeFont("Arial", 9, false));
    QPalette panelPalette = b.windowPalette;
    panelPalette.setColor(QPalette::Window, vm::colorFromBgr(kPanelColor));
    SSPanel2->setPalette(panelPalette);
    SSPanel2->setAutoFillBackground(true);
    dockPanel();
    Label1[1] = b.label(SSPanel2, arrayName("Label1", 1), vm::kVendorAddress,
                        twipsRect(120, 150, 1980, 180));
    QFont linkFont = makeFont("Gulim", 9, false);
    Label1[1]->setFont(linkFont);
    // The design's face fits the caption in 180 twips; a substitute face may need a taller
    // line, and cut short it would show the full stops as commas. The label grows down to
    // the face's line height, within the panel.
    const int lineHeight = QFontMetrics(linkFont).height();
    if (Label1[1]->height() < lineHeight)
        Label1[1]->resize(Label1[1]->width(), lineHeight);
    Label1[1]->setPalette(panelPalette);
    Label1[1]->setCursor(vm::vendorLinkCursor());
    Label1[1]->setAccessibleName(QStringLiteral("Vendor web page"));

    b.tabs.apply();
}

void frmSim_3870::dockPanel() {
    const int height = vm::twipsToPx(465);
    SSPanel2->setGeometry(0, this->height() - height, width(), height);
}
