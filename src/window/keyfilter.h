#pragma once

#include <QObject>
#include <QString>

#include <functional>

class QAbstractButton;
class QLineEdit;
class QWidget;

namespace vm {

// The character code a key press types, as the entry fields see it: 8 for Backspace
// (alone or with Shift), 127 for Backspace with Ctrl, Alt or Meta (the word deletes and
// undo, which are not the plain Backspace), 13 for Enter, 27 for Escape, 1 to 26 for
// Ctrl+A to Ctrl+Z, otherwise the first character of the typed text. Keys that type
// nothing (arrows, Delete, Home, End, function keys, Tab, lone modifiers) give -1.
int typedCharCode(int key, Qt::KeyboardModifiers modifiers, const QString& text);

// The codes the address, port and interval fields accept: Backspace, "." and the digits.
bool isEntryFieldChar(int code);

// The system beep. Tests count beeps instead of sounding them.
void beep();
void setBeeper(std::function<void()> beeper);

// Raises a key-press handler for each character typed into an entry field, before it is
// inserted. The handler may set the code to 0 to cancel the keystroke. The field is the
// widget that takes the keyboard focus: a line edit, or an editable combo box, which
// hands the keys it receives straight to its own line edit.
class KeyPressFilter : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<void(int& keyAscii)>;

    KeyPressFilter(QWidget* field, Handler handler);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* field_;
    Handler handler_;
};

// Holds what the user puts into a line edit, typed, pasted or dropped, to the field's rules:
// the text put in first passes `filter` (which drops the characters the field refuses, see
// the form's PasteFilter), then the edit is cut to maxLength characters (0: no limit) at the
// end of what was put in. Text set by the program is never filtered or cut, and a longer text
// so set may be edited but not grown.
using InsertFilter = std::function<QString(const QString& inserted)>;
void limitUserText(QLineEdit* field, int maxLength, InsertFilter filter = {});

// Enter (either key) presses the button while it has the focus, as Space does, the way
// a command button of a dialog takes the key.
void pressOnEnter(QAbstractButton* button);

} // namespace vm
