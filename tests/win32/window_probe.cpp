// Reads the window vm3870sim.exe shows back, as a user sees it, for the tests that drive it
// with real input: one line per control, tab-separated:
//   name  class  enabled  checked  focused  left,top,width,height (screen pixels)  text
// then "line<TAB>text" for each line of the log list, "extent<TAB>pixels" for its scroll width,
// and first a line
// "window<TAB>caption<TAB>client width,height<TAB>dpi". Exit status 1 when no window is open.
#include "form/layout.h"
#include "win32/text.h"
#include "win32/window.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>

namespace {

using vm::win32::narrow;

// WM_GETTEXT itself: GetWindowText does not ask another process's controls for their text.
std::string text(HWND hwnd) {
    std::wstring buffer(std::size_t(SendMessageW(hwnd, WM_GETTEXTLENGTH, 0, 0)) + 1, L'\0');
    buffer.resize(std::size_t(
        SendMessageW(hwnd, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()))));
    return narrow(buffer);
}

std::string className(HWND hwnd) {
    wchar_t name[64]{};
    GetClassNameW(hwnd, name, 64);
    return narrow(name);
}

// One reading of the window; false when no window is open.
bool dump() {
    const HWND window = FindWindowW(L"vm3870sim", nullptr);
    if (!window) {
        std::puts("no window");
        return false;
    }
    RECT client{};
    GetClientRect(window, &client);
    std::printf("window\t%s\t%ld,%ld\t%u\n", text(window).c_str(), client.right, client.bottom,
                GetDpiForWindow(window));
    const HWND focus = [] {
        GUITHREADINFO info{};
        info.cbSize = sizeof info;
        GetGUIThreadInfo(0, &info);
        return info.hwndFocus;
    }();
    const auto all = vm::form::controls();
    for (std::size_t i = 0; i < all.size(); ++i) {
        const HWND control = GetDlgItem(window, vm::win32::kFirstControlId + int(i));
        if (!control)
            continue;
        const std::string name = all[i].id.objectName();
        // A frame shows its caption through a label of its own.
        const HWND caption = GetDlgItem(window, vm::win32::kFirstCaptionId + int(i));
        RECT r{};
        GetWindowRect(control, &r);
        const LRESULT checked = SendMessageW(control, BM_GETCHECK, 0, 0);
        const bool focused = focus == control || (focus && GetParent(focus) == control);
        std::printf("%s\t%s\t%d\t%d\t%d\t%ld,%ld,%ld,%ld\t%s\n", name.c_str(),
                    className(control).c_str(), IsWindowEnabled(control) ? 1 : 0,
                    className(control) == "Button" && checked == BST_CHECKED ? 1 : 0,
                    focused ? 1 : 0, r.left, r.top, r.right - r.left, r.bottom - r.top,
                    text(caption ? caption : control).c_str());
        if (all[i].kind == vm::form::Kind::ListBox) {
            const LRESULT count = SendMessageW(control, LB_GETCOUNT, 0, 0);
            for (LRESULT line = 0; line < count; ++line) {
                // The window may change its lines between these calls: a line gone ends the
                // reading, and the buffer has room for a line that grew meanwhile.
                const LRESULT length = SendMessageW(control, LB_GETTEXTLEN, WPARAM(line), 0);
                if (length == LB_ERR)
                    break;
                std::wstring buffer(std::size_t(std::max<LRESULT>(length, 1024)) * 2, L'\0');
                const LRESULT read = SendMessageW(control, LB_GETTEXT, WPARAM(line),
                                                  reinterpret_cast<LPARAM>(buffer.data()));
                if (read == LB_ERR)
                    break;
                buffer.resize(std::size_t(read));
                std::printf("line\t%s\n", narrow(buffer).c_str());
            }
            std::printf("extent\t%ld\n", long(SendMessageW(control, LB_GETHORIZONTALEXTENT, 0, 0)));
        }
    }
    return true;
}

} // namespace

// With --serve, one reading per line read from standard input, each ended by a line ".", so
// that a test reads the window many times without starting a program each time.
int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "--serve") {
        char request[64];
        while (std::fgets(request, sizeof request, stdin)) {
            dump();
            std::puts(".");
            std::fflush(stdout);
        }
        return 0;
    }
    return dump() ? 0 : 1;
}
