#include "support/link_widgets.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

namespace {

template <typename Widget> Widget* make(QWidget* parent, const QString& name) {
    auto* widget = new Widget(parent);
    widget->setObjectName(name);
    return widget;
}

template <typename Widget, std::size_t N>
void makeArray(std::array<Widget*, N>& members, QWidget* parent, const QString& name) {
    for (std::size_t i = 0; i < N; ++i)
        members[i] = make<Widget>(parent, QStringLiteral("%1_%2").arg(name).arg(i));
}

QComboBox* pickList(QWidget* parent, const QString& name, const QStringList& entries) {
    auto* combo = make<QComboBox>(parent, name);
    combo->addItems(entries);
    combo->setCurrentIndex(0);
    combo->setEnabled(false);
    return combo;
}

} // namespace

LinkFixture::LinkFixture() {
    auto* tcp = make<QGroupBox>(&root, "Frame1");
    auto* action = make<QGroupBox>(&root, "Frame2");
    auto* level = make<QGroupBox>(&root, "Frame7");
    auto* send = make<QGroupBox>(&root, "Frame8");
    auto* values = make<QGroupBox>(&root, "Frame9");

    view.txtDestIP = make<QLineEdit>(tcp, "txtDestIP");
    view.txtDestPort = make<QLineEdit>(tcp, "txtDestPort");
    view.cmdConnect = make<QPushButton>(tcp, "cmdConnect");
    view.cmdDisconnect = make<QPushButton>(tcp, "cmdDisconnect");
    view.cmdDisconnect->setEnabled(false);

    makeArray(view.optInterval, action, "optInterval");
    view.optInterval[0]->setChecked(true);
    view.cboTime = make<QComboBox>(action, "cboTime");
    view.cboTime->setEditable(true);
    for (int i = 1; i <= 15; ++i)
        view.cboTime->addItem(QString::number(i));
    view.cboTime->setCurrentIndex(0);
    view.cboTime->setEnabled(false);
    makeArray(view.lblTime, action, "lblTime");
    for (QLabel* label : view.lblTime)
        label->setEnabled(false);

    makeArray(view.optLog, level, "optLog");
    view.optLog[0]->setChecked(true);

    makeArray(view.optCommand, send, "optCommand");
    view.optCommand[0]->setChecked(true);
    view.ComboSet = pickList(send, "ComboSet", {"1", "2", "A"});
    view.ComboValue = pickList(send, "ComboValue", {"0", "1"});
    view.ComboReset = pickList(send, "ComboReset", {"1", "2", "3", "4", "5", "6", "A"});
    view.cmdSend = make<QPushButton>(send, "cmdSend");
    view.cmdEnd = make<QPushButton>(send, "cmdEnd");
    view.cmdEnd->setEnabled(false);

    makeArray(view.txt_Input, values, "txt_Input");
    makeArray(view.txt_Output, values, "txt_Output");
    view.txt_CheckSum = make<QLineEdit>(values, "txt_CheckSum");
    makeArray(view.txtCounter, values, "txtCounter");
    makeArray(view.txtGapTime, values, "txtGapTime");

    view.AddLog = [this](const QString& text) {
        if (addLogOverride)
            addLogOverride(text);
        else
            lines << text;
    };
    setDestination("127.0.0.1", "4000");
}

void LinkFixture::setDestination(const QString& host, const QString& port) {
    view.txtDestIP->setText(host);
    view.txtDestPort->setText(port);
}

int LinkFixture::countLines(const QString& afterStamp) const {
    int count = 0;
    for (const QString& line : lines) {
        if (line.size() >= 14 && line.mid(14).startsWith(afterStamp))
            ++count;
    }
    return count;
}
