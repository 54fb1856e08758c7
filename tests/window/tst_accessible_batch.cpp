// Accessibility announcements in batches: a burst of log lines or field texts reaches the
// desktop's side as the first change at once and then, every 50 ms, the state the burst left.
// The platform here has no accessibility bridge, so Qt raises no events of its own: the test
// gives the handler the events the list and the field raise for each change, as Qt does.

#include "window/accessible_batch.h"

#include <QAccessible>
#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QTest>
#include <QVBoxLayout>

namespace {

// What the desktop's side is told.
struct Told {
    QAccessible::Event type;
    QObject* object;
    int child;
    QString removed;
    QString inserted;
};
QList<Told> told;

void record(QAccessibleEvent* event) {
    Told t{event->type(), event->object(), event->child(), {}, {}};
    if (event->type() == QAccessible::TextUpdated) {
        const auto* update = static_cast<QAccessibleTextUpdateEvent*>(event);
        t.removed = update->textRemoved();
        t.inserted = update->textInserted();
    }
    told << t;
}

QList<Told> toldOf(QObject* object, QAccessible::Event type) {
    QList<Told> found;
    for (const Told& t : told)
        if (t.object == object && t.type == type)
            found << t;
    return found;
}

} // namespace

class AccessibleBatchTest : public QObject {
    Q_OBJECT
    QWidget window_;
    QListWidget* list_ = new QListWidget(&window_);
    QLineEdit* field_ = new QLineEdit(&window_);
    QAccessible::UpdateHandler batch_ = nullptr;

    // A line added and selected, with the events Qt raises for it.
    void addLine(const QString& text) {
        list_->addItem(text);
        list_->setCurrentRow(list_->count() - 1);
        for (const auto type : {QAccessible::Focus, QAccessible::SelectionAdd}) {
            QAccessibleEvent event(list_, type);
            event.setChild(list_->count() - 1);
            batch_(&event);
        }
    }
    void setField(const QString& text) {
        const QString old = field_->text();
        field_->setText(text);
        QAccessibleTextUpdateEvent event(field_, 0, old, text);
        batch_(&event);
    }

private slots:
    void initTestCase() {
        auto* layout = new QVBoxLayout(&window_);
        layout->addWidget(list_);
        layout->addWidget(field_);
        window_.show();
        window_.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window_));
        QTest::mouseClick(list_->viewport(), Qt::LeftButton);
        QVERIFY(list_->hasFocus());
        QAccessible::installUpdateHandler(&record);
        vm::batchAccessibleUpdates();
        vm::batchAccessibleUpdates(); // a second call changes nothing
        batch_ = QAccessible::installUpdateHandler(nullptr);
        QAccessible::installUpdateHandler(batch_);
    }

    void burstOfLinesEndsOnTheNewest() {
        QTest::qWait(60); // a quiet spell before the burst
        told.clear();
        for (int i = 0; i < 200; ++i) {
            addLine(QStringLiteral("line %1").arg(i));
            setField(QString::number(i));
        }
        // The first line and text at once, the rest held.
        QCOMPARE(toldOf(list_, QAccessible::Focus).size(), 1);
        QCOMPARE(toldOf(list_, QAccessible::SelectionAdd).size(), 1);
        QCOMPARE(toldOf(field_, QAccessible::TextUpdated).size(), 1);

        const int newest = list_->count() - 1;
        QTRY_COMPARE(toldOf(list_, QAccessible::Focus).last().child, newest);
        QCOMPARE(toldOf(list_, QAccessible::Focus).size(), 2);
        QCOMPARE(toldOf(list_, QAccessible::SelectionAdd).last().child, newest);
        // The line announced first is no longer selected, and is told so.
        QCOMPARE(toldOf(list_, QAccessible::SelectionRemove).size(), 1);
        QCOMPARE(toldOf(list_, QAccessible::SelectionRemove).last().child, newest - 199);
        // The field: from the text told first to its latest, in one update.
        const QList<Told> texts = toldOf(field_, QAccessible::TextUpdated);
        QCOMPARE(texts.size(), 2);
        QCOMPARE(texts.last().removed, QStringLiteral("0"));
        QCOMPARE(texts.last().inserted, QStringLiteral("199"));

        // After a quiet spell a change is told at once again; other events always are.
        QTest::qWait(60);
        told.clear();
        addLine(QStringLiteral("alone"));
        QAccessibleEvent other(list_, QAccessible::NameChanged);
        batch_(&other);
        QCOMPARE(toldOf(list_, QAccessible::Focus).size(), 1);
        QCOMPARE(toldOf(list_, QAccessible::NameChanged).size(), 1);
        // Keys typed into a field are echoed one by one, however fast they come.
        for (const QString& key : {QStringLiteral("4"), QStringLiteral("2")}) {
            field_->insert(key);
            QAccessibleTextInsertEvent typed(field_, int(field_->text().size()) - 1, key);
            batch_(&typed);
        }
        QCOMPARE(toldOf(field_, QAccessible::TextInserted).size(), 2);
    }
};

QTEST_MAIN(AccessibleBatchTest)
#include "tst_accessible_batch.moc"
