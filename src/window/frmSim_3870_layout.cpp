// Builds the window's control tree from the window's layout (form/layout.h): every control
// with its design name, caption, initial state, colours, font and position, and the focus
// order.

#include "form/layout.h"
#include "toolkit/colors.h"
#include "window/frmSim_3870.h"
#include "window/keyfilter.h"
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

#include <map>
#include <string>
#include <type_traits>

namespace {

namespace layout = vm::form;

QString qText(std::string_view text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

QFont makeFont(const layout::Font& design) {
    QFont font(qText(design.face));
    font.setPointSizeF(design.points);
    font.setBold(design.bold);
    return font;
}

QRect pixels(const layout::TwipsRect& twips) {
    return vm::twipsRect(twips.left, twips.top, twips.width, twips.height);
}

Qt::Alignment alignment(layout::Align align) {
    switch (align) {
    case layout::Align::Center:
        return Qt::AlignCenter;
    case layout::Align::Right:
        return Qt::AlignRight | Qt::AlignVCenter;
    case layout::Align::Left:
        break;
    }
    return Qt::AlignLeft | Qt::AlignVCenter;
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

// One widget of the kind the layout names, with its caption, font, colours and state.
QWidget* createControl(const layout::ControlLayout& c, QWidget* parent,
                       const QPalette& windowPalette) {
    const QString caption = qText(c.caption);
    QPalette palette = windowPalette;
    QWidget* widget = nullptr;
    switch (c.kind) {
    case layout::Kind::GroupBox: {
        widget = new QGroupBox(caption, parent);
        if (c.foreColor != layout::kNoColor)
            palette.setColor(QPalette::WindowText, vm::colorFromBgr(c.foreColor));
        break;
    }
    case layout::Kind::Label: {
        auto* label = new QLabel(caption, parent);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        widget = label;
        break;
    }
    case layout::Kind::TextBox: {
        auto* box = new QLineEdit(caption, parent);
        if (c.foreColor != layout::kNoColor)
            palette.setColor(QPalette::Text, vm::colorFromBgr(c.foreColor));
        if (c.align != layout::Align::Left)
            box->setAlignment(alignment(c.align));
        box->setReadOnly(c.readOnly);
        widget = box;
        break;
    }
    case layout::Kind::ComboEdit:
    case layout::Kind::ComboPick: {
        auto* combo = new QComboBox(parent);
        for (const std::string_view entry : c.entries)
            combo->addItem(qText(entry));
        if (c.kind == layout::Kind::ComboEdit) {
            combo->setEditable(true);
            combo->setInsertPolicy(QComboBox::NoInsert);
            combo->setEditText(caption);
            combo->lineEdit()->setAccessibleName(qText(c.accessibleName));
        }
        widget = combo;
        break;
    }
    case layout::Kind::OptionButton: {
        auto* option = new QRadioButton(caption, parent);
        option->setChecked(c.selected);
        widget = option;
        break;
    }
    case layout::Kind::Button: {
        auto* button = new QPushButton(caption, parent);
        button->setAutoDefault(false);
        vm::pressOnEnter(button);
        widget = button;
        break;
    }
    case layout::Kind::ListBox: {
        auto* list = new QListWidget(parent);
        list->setUniformItemSizes(true);
        list->setTextElideMode(Qt::ElideNone); // a line is scrolled to, never cut with "…"
        list->setSelectionMode(QAbstractItemView::SingleSelection);
        widget = list;
        break;
    }
    case layout::Kind::Panel: {
        auto* panel = new QFrame(parent);
        panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
        panel->setLineWidth(1);
        panel->setAutoFillBackground(true);
        widget = panel;
        break;
    }
    }
    if (c.backColor != layout::kNoColor)
        palette.setColor(QPalette::Window, vm::colorFromBgr(c.backColor));
    widget->setObjectName(QString::fromStdString(c.id.objectName()));
    widget->setGeometry(pixels(c.twips));
    // Children of a group box take their own font and colours, not the caption's.
    widget->setFont(makeFont(c.font));
    widget->setPalette(palette);
    widget->setEnabled(c.enabled);
    if (!c.accessibleName.empty())
        widget->setAccessibleName(qText(c.accessibleName));
    return widget;
}

} // namespace

void frmSim_3870::buildControls() {
    setWindowTitle(qText(layout::kWindowCaption));
    setFixedSize(vm::twipsToPx(layout::kClientWidth), vm::twipsToPx(layout::kClientHeight));
    setFont(makeFont(layout::kWindowFont));

    const QPalette windowPalette = ownTextPalette(palette());
    std::map<std::string, QWidget*, std::less<>> built{{layout::kWindow.objectName(), this}};
    for (const layout::ControlLayout& c : layout::controls()) {
        QWidget* parent = built.at(c.container.objectName());
        built[c.id.objectName()] = createControl(c, parent, windowPalette);
    }
    const auto take = [&](auto*& member, const layout::ControlId& id) {
        member =
            qobject_cast<std::remove_reference_t<decltype(*member)>*>(built.at(id.objectName()));
        Q_ASSERT(member);
    };
    const auto takeArray = [&](auto& members, std::string_view name) {
        for (std::size_t i = 0; i < members.size(); ++i)
            if (built.contains(layout::ControlId{name, int(i)}.objectName()))
                take(members[i], layout::ControlId{name, int(i)});
    };
    take(Frame1, {"Frame1"});
    take(Label3, {"Label3"});
    take(txtDestIP, {"txtDestIP"});
    take(Label4, {"Label4"});
    take(txtDestPort, {"txtDestPort"});
    take(cmdConnect, {"cmdConnect"});
    take(cmdDisconnect, {"cmdDisconnect"});
    take(Frame3, {"Frame3"});
    take(cmdPingStart, {"cmdPingStart"});
    take(cmdPingStop, {"cmdPingStop"});
    take(Frame2, {"Frame2"});
    takeArray(optInterval, "optInterval");
    takeArray(lblTime, "lblTime");
    take(cboTime, {"cboTime"});
    take(Frame7, {"Frame7"});
    takeArray(optLog, "optLog");
    take(Frame8, {"Frame8"});
    takeArray(optCommand, "optCommand");
    takeArray(Label1, "Label1");
    take(Label2, {"Label2"});
    take(ComboSet, {"ComboSet"});
    take(ComboValue, {"ComboValue"});
    take(ComboReset, {"ComboReset"});
    take(cmdSend, {"cmdSend"});
    take(cmdEnd, {"cmdEnd"});
    take(cmdClear, {"cmdClear"});
    take(Frame9, {"Frame9"});
    takeArray(Frame11, "Frame11");
    takeArray(Frame5, "Frame5");
    takeArray(lbsCH_Input, "lbsCH_Input");
    takeArray(txt_Input, "txt_Input");
    takeArray(txt_Output, "txt_Output");
    take(txt_CheckSum, {"txt_CheckSum"});
    takeArray(txtCounter, "txtCounter");
    takeArray(txtGapTime, "txtGapTime");
    take(List1, {"List1"});
    take(SSPanel2, {"SSPanel2"});
    dockPanel();

    // The design's face fits the vendor address in 180 twips; a substitute face may need a
    // taller line, and cut short it would show the full stops as commas. The label grows down
    // to the face's line height, within the panel.
    QLabel* link = Label1[1];
    const int lineHeight = QFontMetrics(link->font()).height();
    if (link->height() < lineHeight)
        link->resize(link->width(), lineHeight);
    link->setCursor(vm::vendorLinkCursor());

    // Tab follows the window's reading order.
    QWidget* previous = nullptr;
    for (const layout::ControlId& id : layout::tabOrder()) {
        QWidget* widget = built.at(id.objectName());
        if (previous)
            QWidget::setTabOrder(previous, widget);
        previous = widget;
    }
}

void frmSim_3870::dockPanel() {
    const auto* panel = layout::find({"SSPanel2"});
    const int height = vm::twipsToPx(panel->twips.height);
    SSPanel2->setGeometry(0, this->height() - height, width(), height);
}
