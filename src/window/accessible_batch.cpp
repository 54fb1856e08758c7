#include "window/accessible_batch.h"

#include <QAccessible>
#include <QApplication>
#include <QElapsedTimer>
#include <QHash>
#include <QLineEdit>
#include <QListView>
#include <QPersistentModelIndex>
#include <QPointer>
#include <QTimer>

#include <array>
#include <bit>

namespace vm {

namespace {

constexpr int kAnnounceGapMs = 50;

// Kinds of change, each announced at most once a gap, as bits. A line's selection raises a
// selection and a deselection together, with its focus: each kind is held on its own, so
// that a single change is told whole at once.
constexpr unsigned kFocus = 1;
constexpr unsigned kSelect = 2;
constexpr unsigned kDeselect = 4;
constexpr unsigned kText = 8;
constexpr int kKinds = 4;

int kindIndex(unsigned kind) {
    return std::countr_zero(kind);
}

// Whether the event tells of a line edit's whole text set anew, as the program sets a value
// box; keys typed into a field are told one by one, as a screen reader echoes them.
bool wholeTextSet(const QAccessibleEvent& event) {
    const auto* edit = qobject_cast<QLineEdit*>(event.object());
    const auto& update = static_cast<const QAccessibleTextUpdateEvent&>(event);
    return edit && update.changePosition() == 0 && update.textInserted() == edit->text();
}

// What a held event would have told: which kind of change, on a list view or a line edit.
unsigned pendingKind(const QAccessibleEvent& event) {
    QObject* object = event.object();
    switch (event.type()) {
    case QAccessible::Focus:
        return qobject_cast<QListView*>(object) && event.child() >= 0 ? kFocus : 0;
    case QAccessible::Selection:
    case QAccessible::SelectionAdd:
        return qobject_cast<QListView*>(object) && event.child() >= 0 ? kSelect : 0;
    case QAccessible::SelectionRemove:
        return qobject_cast<QListView*>(object) && event.child() >= 0 ? kDeselect : 0;
    case QAccessible::TextUpdated:
        return wholeTextSet(event) ? kText : 0;
    default:
        return 0;
    }
}

class AccessibleBatch : public QObject {
public:
    explicit AccessibleBatch(QAccessible::UpdateHandler previous)
        : QObject(qApp)
        , previous_(previous) {
        clock_.start();
        flush_.setSingleShot(true);
        flush_.setInterval(kAnnounceGapMs);
        connect(&flush_, &QTimer::timeout, this, &AccessibleBatch::flush);
    }
    ~AccessibleBatch() override {
        QAccessible::installUpdateHandler(previous_);
        instance = nullptr;
    }

    static inline AccessibleBatch* instance = nullptr;

    static void handle(QAccessibleEvent* event) { instance->update(event); }

private:
    struct Watched {
        QPointer<QObject> object;
        std::array<qint64, kKinds> announcedMs{};
        unsigned pending = 0;
        QString text;                   // a line edit's text as last announced
        QPersistentModelIndex selected; // a list's selected line as last announced
    };

    void update(QAccessibleEvent* event) {
        const unsigned kind = pendingKind(*event);
        if (kind == 0) {
            passOn(event);
            return;
        }
        Watched& watched = watch(event->object());
        const qint64 now = clock_.elapsed();
        qint64& announcedMs = watched.announcedMs[kindIndex(kind)];
        if (!(watched.pending & kind) && now - announcedMs >= kAnnounceGapMs) {
            passOn(event);
            remember(watched, *event);
            announcedMs = now;
            return;
        }
        watched.pending |= kind;
        if (!flush_.isActive())
            flush_.start();
    }

    Watched& watch(QObject* object) {
        auto found = watched_.find(object);
        if (found == watched_.end()) {
            Watched fresh;
            fresh.object = object;
            fresh.announcedMs.fill(-kAnnounceGapMs);
            found = watched_.insert(object, fresh);
            connect(object, &QObject::destroyed, this, [this, object] { watched_.remove(object); });
        }
        return *found;
    }

    // The state a passed-on event told, so that a later batch says what changed since.
    static void remember(Watched& watched, const QAccessibleEvent& event) {
        if (auto* edit = qobject_cast<QLineEdit*>(watched.object))
            watched.text = edit->text();
        else if (auto* view = qobject_cast<QListView*>(watched.object);
                 view && view->model() &&
                 (event.type() == QAccessible::SelectionAdd ||
                  event.type() == QAccessible::Selection))
            watched.selected = view->model()->index(event.child(), view->modelColumn());
    }

    // Tells, for every object with held events, the state they left.
    void flush() {
        const qint64 now = clock_.elapsed();
        for (Watched& watched : watched_) {
            if (watched.pending == 0 || !watched.object)
                continue;
            if (auto* edit = qobject_cast<QLineEdit*>(watched.object))
                announceText(watched, *edit);
            else if (auto* view = qobject_cast<QListView*>(watched.object))
                announceLine(watched, *view);
            for (int kind = 0; kind < kKinds; ++kind) {
                if (watched.pending & (1u << kind))
                    watched.announcedMs[std::size_t(kind)] = now;
            }
            watched.pending = 0;
        }
    }

    void announceText(Watched& watched, QLineEdit& edit) {
        const QString text = edit.text();
        if (text == watched.text)
            return;
        QAccessibleTextUpdateEvent event(&edit, 0, watched.text, text);
        passOn(&event);
        watched.text = text;
    }

    // A list view's accessible children are its lines, numbered by row.
    void announceLine(Watched& watched, QListView& view) {
        // Qt makes an accessible object for every line whose selection it tells of, before
        // any handler runs, and keeps it until the line leaves the list; with a thousand of
        // them, each line added or trimmed costs a walk over all. Dropping them once a batch
        // keeps that walk short; the line announced next gets a fresh one.
        QAccessibleTableModelChangeEvent reset(&view, QAccessibleTableModelChangeEvent::ModelReset);
        QAccessible::updateAccessibility(&reset);
        const QModelIndex current = view.currentIndex();
        if (watched.pending & kFocus && view.hasFocus() && current.isValid()) {
            QAccessibleEvent event(&view, QAccessible::Focus);
            event.setChild(current.row());
            passOn(&event);
        }
        if (!(watched.pending & (kSelect | kDeselect)) || !view.selectionModel())
            return;
        const QModelIndex before = watched.selected;
        if (before.isValid() && before != current && !view.selectionModel()->isSelected(before)) {
            QAccessibleEvent event(&view, QAccessible::SelectionRemove);
            event.setChild(before.row());
            passOn(&event);
        }
        if (current.isValid() && view.selectionModel()->isSelected(current)) {
            QAccessibleEvent event(&view, QAccessible::SelectionAdd);
            event.setChild(current.row());
            passOn(&event);
            watched.selected = current;
        }
    }

    // On to the handler that was there before, or else to the desktop's accessibility bridge,
    // which is reached through Qt's own path with this handler set aside for the call.
    void passOn(QAccessibleEvent* event) {
        if (previous_) {
            previous_(event);
            return;
        }
        // Qt has already applied a table's model change to the table's accessible object
        // before any handler runs, and would apply it again on its own path; the bridge has
        // nothing to say about it.
        if (event->type() == QAccessible::TableModelChanged)
            return;
        QAccessible::installUpdateHandler(nullptr);
        QAccessible::updateAccessibility(event);
        QAccessible::installUpdateHandler(&AccessibleBatch::handle);
    }

    QAccessible::UpdateHandler previous_;
    QElapsedTimer clock_;
    QTimer flush_;
    QHash<QObject*, Watched> watched_;
};

} // namespace

void batchAccessibleUpdates() {
    if (AccessibleBatch::instance)
        return;
    // The handler that was there before still receives every event this one passes on.
    AccessibleBatch::instance =
        new AccessibleBatch(QAccessible::installUpdateHandler(&AccessibleBatch::handle));
}

} // namespace vm
