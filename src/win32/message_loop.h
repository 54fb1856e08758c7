#pragma once

// The program's one message loop, which also serves kernel objects that signal events (the
// timers): a signalled object is served before the next message, and a message is served
// after each signal, so that neither a busy queue holds a tick back nor a tick that is always
// due (a handler slower than its period) holds the user's input and the socket's events back.

#include <windows.h>

#include <cstddef>
#include <functional>
#include <span>

namespace vm::win32 {

// Runs until WM_QUIT and returns its exit code. `signalled(i)` serves handles[i], whose
// signal the wait took (an auto-reset object is reset by then). Messages for `dialog` and its
// controls pass IsDialogMessageW first (Tab, the arrow keys, Enter).
int runMessageLoop(HWND dialog, std::span<const HANDLE> handles,
                   const std::function<void(std::size_t)>& signalled);

} // namespace vm::win32
