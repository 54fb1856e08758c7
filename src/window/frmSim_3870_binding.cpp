// Binds each widget of the window to its control of the form: what the form changes (enabled
// state, text, choice, entries, colour, the log list's lines) reaches the widget, and what the
// user does (clicks, typing, picking an entry, keys) reaches the form and its handlers.

#include "form/form.h"
#include "log/loglist.h"
#include "toolkit/colors.h"
#include "window/frmSim_3870.h"
#include "window/keyfilter.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>

#include <functional>

namespace {

namespace form = vm::form;
using form::Property;

QString qText(const std::string& text) {
    return QString::fromStdString(text);
}

void bindEnabled(form::Control& control, QWidget* widget) {
    widget->setEnabled(control.Enabled());
    control.setListener([&control, widget](Property property) {
        if (property == Property::Enabled)
            widget->setEnabled(control.Enabled());
    });
}

void bindButton(form::CommandButton& control, QPushButton* widget, std::function<void()> click) {
    bindEnabled(control, widget);
    QObject::connect(widget, &QPushButton::clicked, widget,
                     [click = std::move(click)] { click(); });
}

void bindOption(form::OptionButton& control, QRadioButton* widget, std::function<void()> click) {
    const auto show = [&control, widget](Property property) {
        if (property == Property::Enabled)
            widget->setEnabled(control.Enabled());
        else if (property == Property::Value)
            widget->setChecked(control.Value());
    };
    show(Property::Enabled);
    show(Property::Value);
    control.setListener(show);
    QObject::connect(widget, &QRadioButton::clicked, widget,
                     [click = std::move(click)] { click(); });
}

void bindTextBox(form::TextBox& control, QLineEdit* widget) {
    const auto show = [&control, widget](Property property) {
        if (property == Property::Enabled) {
            widget->setEnabled(control.Enabled());
        } else if (property == Property::Text) {
            const QString text = qText(control.Text());
            if (widget->text() != text)
                widget->setText(text);
        }
    };
    show(Property::Enabled);
    show(Property::Text);
    control.setListener(show);
    // Typed, pasted or set on the widget itself: the form hears of every change of the text.
    QObject::connect(widget, &QLineEdit::textChanged, widget,
                     [&control](const QString& text) { control.userSetText(text.toStdString()); });
}

void showItems(const form::ComboBox& control, QComboBox* widget) {
    const QSignalBlocker quiet(widget);
    widget->clear();
    for (const std::string& item : control.Items())
        widget->addItem(qText(item));
    if (widget->isEditable())
        widget->setEditText(qText(control.Text()));
    else
        widget->setCurrentIndex(control.ListIndex());
}

void bindComboBox(form::ComboBox& control, QComboBox* widget) {
    const auto show = [&control, widget](Property property) {
        switch (property) {
        case Property::Enabled:
            widget->setEnabled(control.Enabled());
            break;
        case Property::Items:
            showItems(control, widget);
            break;
        case Property::Text:
        case Property::ListIndex:
            if (widget->isEditable()) {
                const QString text = qText(control.Text());
                if (property == Property::ListIndex)
                    widget->setCurrentIndex(control.ListIndex());
                else if (widget->currentText() != text)
                    widget->setEditText(text);
            } else if (widget->currentIndex() != control.ListIndex()) {
                const QSignalBlocker quiet(widget);
                widget->setCurrentIndex(control.ListIndex());
            }
            break;
        case Property::BackColor:
            if (const auto color = control.BackColor()) {
                QPalette palette = widget->palette();
                palette.setColor(QPalette::Base, vm::colorFromBgr(*color));
                widget->setPalette(palette);
            }
            break;
        default:
            break;
        }
    };
    show(Property::Enabled);
    showItems(control, widget);
    show(Property::BackColor);
    control.setListener(show);
    if (widget->isEditable())
        QObject::connect(
            widget, &QComboBox::editTextChanged, widget,
            [&control](const QString& text) { control.userSetText(text.toStdString()); });
    else
        QObject::connect(widget, &QComboBox::currentIndexChanged, widget,
                         [&control](int index) { control.userSetListIndex(index); });
}

void bindListBox(form::ListBox& control, QListWidget* widget) {
    bindEnabled(control, widget);
    control.setLinesListener([widget](const form::ListBox::Change& change) {
        switch (change.kind) {
        case form::ListBox::Change::Kind::Added:
            vm::addLogLine(*widget,
                           QString::fromUtf8(change.line.data(), qsizetype(change.line.size())));
            break;
        case form::ListBox::Change::Kind::RemovedFirst:
            delete widget->takeItem(0);
            break;
        case form::ListBox::Change::Kind::Cleared:
            widget->clear();
            break;
        }
    });
}

template <typename Controls, typename Widgets>
void bindTextBoxes(Controls& controls, Widgets& widgets) {
    for (std::size_t i = 0; i < controls.size(); ++i)
        bindTextBox(controls[i], widgets[i]);
}

} // namespace

void frmSim_3870::bindControls() {
    form::frmSim_3870& f = *form_;

    // " TCP Information "
    bindTextBox(f.txtDestIP, txtDestIP);
    bindTextBox(f.txtDestPort, txtDestPort);
    bindButton(f.cmdConnect, cmdConnect, [&f] { f.cmdConnect_Click(); });
    bindButton(f.cmdDisconnect, cmdDisconnect, [&f] { f.cmdDisconnect_Click(); });
    // " Ping TEST "
    bindButton(f.cmdPingStart, cmdPingStart, [&f] { f.cmdPingStart_Click(); });
    bindButton(f.cmdPingStop, cmdPingStop, [&f] { f.cmdPingStop_Click(); });
    // " Data Send Action ", " Log Level ", " Data Send "
    for (int i = 0; i < int(optInterval.size()); ++i)
        bindOption(f.optInterval[i], optInterval[i], [&f, i] { f.optInterval_Click(i); });
    for (std::size_t i = 0; i < lblTime.size(); ++i)
        bindEnabled(f.lblTime[i], lblTime[i]);
    bindComboBox(f.cboTime, cboTime);
    connect(cboTime, &QComboBox::activated, this, [&f](int index) {
        f.cboTime.userSetListIndex(index);
        f.cboTime_Click();
    });
    for (int i = 0; i < int(optLog.size()); ++i)
        bindOption(f.optLog[i], optLog[i], [&f, i] { f.optLog_Click(i); });
    for (int i = 0; i < int(optCommand.size()); ++i)
        bindOption(f.optCommand[i], optCommand[i], [&f, i] { f.optCommand_Click(i); });
    bindComboBox(f.ComboSet, ComboSet);
    bindComboBox(f.ComboValue, ComboValue);
    bindComboBox(f.ComboReset, ComboReset);
    bindButton(f.cmdSend, cmdSend, [&f] { f.cmdSend_Click(); });
    bindButton(f.cmdEnd, cmdEnd, [&f] { f.cmdEnd_Click(); });
    bindButton(f.cmdClear, cmdClear, [&f] { f.cmdClear_Click(); });
    // The value boxes and the log list
    bindTextBoxes(f.txt_Input, txt_Input);
    bindTextBoxes(f.txt_Output, txt_Output);
    bindTextBox(f.txt_CheckSum, txt_CheckSum);
    bindTextBoxes(f.txtCounter, txtCounter);
    bindTextBoxes(f.txtGapTime, txtGapTime);
    bindListBox(f.List1, List1);

    // Keys: the filter decides on each typed character before it goes in; pasted and dropped
    // text passes the same rule, and what the user puts in is cut to the field's limit.
    new vm::KeyPressFilter(txtDestIP, [&f](int& KeyAscii) { f.txtDestIP_KeyPress(KeyAscii); });
    new vm::KeyPressFilter(txtDestPort, [&f](int& KeyAscii) { f.txtDestPort_KeyPress(KeyAscii); });
    new vm::KeyPressFilter(cboTime, [&f](int& KeyAscii) { f.cboTime_KeyPress(KeyAscii); });
    const vm::InsertFilter pasted = [&f](const QString& inserted) {
        return QString::fromStdString(f.PasteFilter(inserted.toStdString()));
    };
    vm::limitUserText(txtDestIP, int(f.txtDestIP.MaxLength()), pasted);
    vm::limitUserText(txtDestPort, int(f.txtDestPort.MaxLength()), pasted);
    vm::limitUserText(cboTime->lineEdit(), int(f.cboTime.MaxLength()), pasted);
}
