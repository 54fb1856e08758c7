#pragma once

#include <QObject>
#include <QString>

#include <functional>

class QLineEdit;

namespace vm {

// The character code a key press types, as the entry fields see it: 8 for Backspace,
// 13 for Enter, 27 for Escape, 1 to 26 for Ctrl+A to Ctrl+Z, otherwise the first
// character of the typed text. Keys that type nothing (arrows, Delete, Home, End,
// function keys, Tab, lone modifiers) give -1.
int typedCharCode(int key, Qt::KeyboardModifiers modifiers, const QString& text);

// The codes the address, port and interval fields accept: Backspace, "." and the digits.
bool isEntryFieldChar(int code);

// The system beep. Tests count beeps instead of sounding them.
void beep();
void setBeeper(std::function<void()> beeper);

// Raises a key-press handler for each character typed into a line edit, before it is
// inserted. The handler may set the code to 0 to cancel the keystroke. A field may also
// be given a maximum length for typed text; text set by the program is never cut.
class KeyPressFilter : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<void(int& keyAscii)>;

    KeyPressFilter(QLineEdit* field, Handler handler, int maxLength = 0);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLineEdit* field_;
    Handler handler_;
    int maxLength_;
};

} // namespace vm
