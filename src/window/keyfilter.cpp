#include "window/keyfilter.h"

#include "form/form.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QValidator>

#include <algorithm>
#include <utility>

namespace vm {

int typedCharCode(int key, Qt::KeyboardModifiers modifiers, const QString& text) {
    switch (key) {
    case Qt::Key_Backspace:
        return modifiers & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier) ? 0x7F : 8;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return 13;
    case Qt::Key_Escape:
        return 27;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Delete:
        return -1;
    default:
        break;
    }
    const bool control = modifiers.testFlag(Qt::ControlModifier);
    if (control && key >= Qt::Key_A && key <= Qt::Key_Z)
        return key - Qt::Key_A + 1;
    if (text.isEmpty())
        return -1;
    const char16_t first = text.at(0).unicode();
    if (first == 0x7F) // some keyboards report Delete as DEL
        return -1;
    return first;
}

bool isEntryFieldChar(int code) {
    return form::isEntryFieldChar(code);
}

namespace {
std::function<void()>& beeperSlot() {
    static std::function<void()> beeper;
    return beeper;
}
} // namespace

void setBeeper(std::function<void()> beeper) {
    beeperSlot() = std::move(beeper);
}

void beep() {
    if (const auto& beeper = beeperSlot()) {
        beeper();
        return;
    }
    QApplication::beep();
}

KeyPressFilter::KeyPressFilter(QWidget* field, Handler handler)
    : QObject(field)
    , field_(field)
    , handler_(std::move(handler)) {
    // Composed input would bypass key presses; these fields take digits and points only.
    // An editable combo box passes input-method events on to its line edit as well.
    field_->setAttribute(Qt::WA_InputMethodEnabled, false);
    if (const auto* combo = qobject_cast<QComboBox*>(field_); combo && combo->lineEdit())
        combo->lineEdit()->setAttribute(Qt::WA_InputMethodEnabled, false);
    field_->installEventFilter(this);
}

bool KeyPressFilter::eventFilter(QObject* watched, QEvent* event) {
    if (watched != field_)
        return false;
    if (event->type() == QEvent::ShortcutOverride) {
        // Claim Ctrl+letter so that no window shortcut takes it before the filter sees it.
        const auto* keyEvent = static_cast<QKeyEvent*>(event);
        if (typedCharCode(keyEvent->key(), keyEvent->modifiers(), keyEvent->text()) >= 0)
            event->accept();
        return false;
    }
    if (event->type() != QEvent::KeyPress)
        return false;
    const auto* keyEvent = static_cast<QKeyEvent*>(event);
    int code = typedCharCode(keyEvent->key(), keyEvent->modifiers(), keyEvent->text());
    if (code < 0)
        return false; // keys that type nothing work as usual
    handler_(code);
    return code == 0; // cancelled: nothing is inserted and the editor never sees the key
}

namespace {

// Every change the user makes to a line edit passes validate() before it shows: the text put
// in (which ends at the cursor) is filtered, and an edit that leaves the text longer than
// both the limit and the text before it has the excess cut from the end of what was put in.
class UserTextLimit : public QValidator {
public:
    UserTextLimit(QLineEdit* field, int maxLength, InsertFilter filter)
        : QValidator(field)
        , field_(field)
        , maxLength_(maxLength)
        , filter_(std::move(filter))
        , textBefore_(field->text()) {
        connect(field, &QLineEdit::textChanged, this,
                [this](const QString& text) { textBefore_ = text; });
    }

    State validate(QString& input, int& pos) const override {
        // Text the program sets leaves the line edit unmodified; only user edits are held.
        if (!field_->isModified())
            return Acceptable;
        if (filter_)
            filterInserted(input, pos);
        const form::UserEdit edit = form::limitUserEdit(input.toStdString(), std::size_t(pos),
                                                        std::size_t(textBefore_.size()),
                                                        std::size_t(std::max(maxLength_, 0)));
        input = QString::fromStdString(edit.text);
        pos = int(edit.cursor);
        return Acceptable;
    }

private:
    // What was put in lies between the part of the text before it that the edit kept and the
    // cursor; the text after the cursor is the old text's end. (The line edit shows the edit
    // already while it is validated, so the text before is the one last committed.)
    void filterInserted(QString& input, int& pos) const {
        const QString& before = textBefore_;
        const qsizetype keptEnd = input.size() - pos;
        const qsizetype limit = std::min<qsizetype>(pos, before.size() - keptEnd);
        qsizetype start = 0;
        while (start < limit && input.at(start) == before.at(start))
            ++start;
        const QString inserted = input.mid(start, pos - start);
        if (inserted.isEmpty())
            return;
        const QString kept = filter_(inserted);
        if (kept == inserted)
            return;
        input.replace(start, inserted.size(), kept);
        pos = int(start + kept.size());
    }

    QLineEdit* field_;
    int maxLength_;
    InsertFilter filter_;
    QString textBefore_;
};

} // namespace

void limitUserText(QLineEdit* field, int maxLength, InsertFilter filter) {
    field->setValidator(new UserTextLimit(field, maxLength, std::move(filter)));
}

namespace {
class EnterPresses : public QObject {
public:
    explicit EnterPresses(QAbstractButton* button)
        : QObject(button)
        , button_(button) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != button_ || event->type() != QEvent::KeyPress)
            return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        const auto modifiers = key->modifiers() & ~Qt::KeypadModifier;
        if ((key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter) ||
            modifiers != Qt::NoModifier)
            return false;
        // A held key presses once, as Space does.
        if (!key->isAutoRepeat() && button_->isEnabled())
            button_->click();
        return true;
    }

private:
    QAbstractButton* button_;
};
} // namespace

void pressOnEnter(QAbstractButton* button) {
    button->installEventFilter(new EnterPresses(button));
}

} // namespace vm
