#include "window/keyfilter.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>

#include <utility>

namespace vm {

int typedCharCode(int key, Qt::KeyboardModifiers modifiers, const QString& text) {
    switch (key) {
    case Qt::Key_Backspace:
        return 8;
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
    return code == 8 || code == '.' || (code >= '0' && code <= '9');
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

KeyPressFilter::KeyPressFilter(QLineEdit* field, Handler handler, int maxLength)
    : QObject(field)
    , field_(field)
    , handler_(std::move(handler))
    , maxLength_(maxLength) {
    // Composed input would bypass key presses; these fields take digits and points only.
    field_->setAttribute(Qt::WA_InputMethodEnabled, false);
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
    if (code == 0)
        return true; // cancelled: nothing is inserted and the editor never sees the key
    if (maxLength_ > 0 && code != 8) {
        const qsizetype kept = field_->text().size() - field_->selectedText().size();
        if (kept >= maxLength_)
            return true; // full: the character is not inserted
    }
    return false;
}

} // namespace vm
