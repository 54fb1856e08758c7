#include "win32/message_loop.h"

namespace vm::win32 {

int runMessageLoop(HWND dialog, std::span<const HANDLE> handles,
                   const std::function<void(std::size_t)>& signalled) {
    const DWORD count = DWORD(handles.size());
    for (;;) {
        // The handles come before the queue: the wait reports the first signalled one.
        const DWORD woke = MsgWaitForMultipleObjectsEx(count, handles.data(), INFINITE, QS_ALLINPUT,
                                                       MWMO_INPUTAVAILABLE);
        if (woke - WAIT_OBJECT_0 < count)
            signalled(woke - WAIT_OBJECT_0);
        MSG message{};
        if (!PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            continue;
        if (message.message == WM_QUIT)
            return int(message.wParam);
        if (dialog && IsDialogMessageW(dialog, &message))
            continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

} // namespace vm::win32
