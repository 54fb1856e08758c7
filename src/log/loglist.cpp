#include "log/loglist.h"

#include <QElapsedTimer>
#include <QListWidget>
#include <QTimer>

#include <algorithm>

namespace vm {

namespace {

// Lines that follow each other closer than this are painted together.
constexpr int kRepaintGapMs = 50;

// Keeps a list that takes lines faster than anyone can read them (Repeat at a millisecond
// period adds two thousand a second) from repainting for every line: the lines go into the
// list at once, but while they come in a burst the list is painted at most every
// kRepaintGapMs. A line after a quiet spell is painted at once.
class RepaintThrottle : public QObject {
public:
    explicit RepaintThrottle(QListWidget& list)
        : QObject(&list)
        , list_(list) {
        setObjectName(QStringLiteral("vm_logRepaintThrottle"));
        resume_.setSingleShot(true);
        resume_.setInterval(kRepaintGapMs);
        connect(&resume_, &QTimer::timeout, this, [this] { list_.setUpdatesEnabled(true); });
    }

    static RepaintThrottle& of(QListWidget& list) {
        auto* throttle = list.findChild<RepaintThrottle*>(QStringLiteral("vm_logRepaintThrottle"),
                                                          Qt::FindDirectChildrenOnly);
        return throttle ? *throttle : *new RepaintThrottle(list);
    }

    void lineAdded() {
        const bool burst = sinceLast_.isValid() && sinceLast_.elapsed() < kRepaintGapMs;
        sinceLast_.start();
        if (burst && !resume_.isActive()) {
            list_.setUpdatesEnabled(false);
            resume_.start();
        }
    }

private:
    QListWidget& list_;
    QTimer resume_;
    QElapsedTimer sinceLast_;
};

// A list of uniform item sizes lays every line out at the size of one sample line (the
// newest), so that 1001 lines cost no more than one. Each new line therefore carries the
// width of the widest line seen since the list was last empty, and the height of the
// first: every line shows whole, and the list scrolls sideways to the end of the longest.
// Only the new line is measured.
void sizeNewestLine(QListWidget& list, int newest) {
    QListWidgetItem* item = list.item(newest);
    QSize size = list.sizeHintForIndex(list.model()->index(newest, 0));
    if (const QSize before = newest > 0 ? list.item(newest - 1)->sizeHint() : QSize();
        before.isValid())
        size = QSize(std::max(size.width(), before.width()), before.height());
    item->setSizeHint(size);
}

} // namespace

void addLogLine(QListWidget& list, const QString& text) {
    while (list.count() > kLogListLimit)
        delete list.takeItem(0);
    list.addItem(text);
    const int newest = list.count() - 1;
    sizeNewestLine(list, newest);
    list.setCurrentRow(newest);
    list.scrollToItem(list.item(newest));
    RepaintThrottle::of(list).lineAdded();
}

} // namespace vm
