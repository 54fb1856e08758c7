#include "support/link_window.h"

#include "window/frmSim_3870.h"

#include <QAbstractItemModel>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>

namespace vm::test {

LinkWindow::LinkWindow()
    : form(std::make_unique<frmSim_3870>())
    , link(form->link) {
    QListWidget* list = form->List1;
    QObject::connect(list->model(), &QAbstractItemModel::rowsInserted, list,
                     [this, list](const QModelIndex&, int first, int last) {
                         for (int row = first; row <= last; ++row) {
                             lines << list->item(row)->text();
                             if (onLine)
                                 onLine(lines.last());
                         }
                     });
    // The three remembered texts come from the settings store, where other tests leave what
    // they typed: start from the defaults, aimed at loopback.
    setDestination(QStringLiteral("127.0.0.1"), QStringLiteral("4000"));
    form->cboTime->setEditText(QStringLiteral("1"));
}

LinkWindow::~LinkWindow() = default;

void LinkWindow::setDestination(const QString& host, const QString& port) {
    form->txtDestIP->setText(host);
    form->txtDestPort->setText(port);
}

int LinkWindow::countLines(const QString& afterStamp) const {
    int count = 0;
    for (const QString& line : lines) {
        if (line.size() >= 14 && line.mid(14).startsWith(afterStamp))
            ++count;
    }
    return count;
}

} // namespace vm::test
