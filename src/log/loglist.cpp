#include "log/loglist.h"

#include <QListWidget>

namespace vm {

void addLogLine(QListWidget& list, const QString& text) {
    while (list.count() > kLogListLimit)
        delete list.takeItem(0);
    list.addItem(text);
    const int newest = list.count() - 1;
    list.setCurrentRow(newest);
    list.scrollToItem(list.item(newest));
}

} // namespace vm
