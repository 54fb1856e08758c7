// The window's message loop under Wine, counted in messages, never timed: a due tick waits
// for one message at most however busy the queue, a tick that is always due lets every
// message through, and a timer's signal that the loop's own wait takes still ticks.
#define DOCTEST_CONFIG_IMPLEMENT_WITH_MAIN
#include <doctest/doctest.h>

#include "win32/message_loop.h"
#include "win32/timer.h"

#include <array>
#include <functional>

namespace {

// A busy queue: every message posted by postNext runs `handler`, which may post the next one.
std::function<void()> handler;
constexpr UINT kNext = WM_APP + 7;
void postNext() {
    static const HWND target = [] {
        WNDCLASSW type{};
        type.lpfnWndProc = [](HWND h, UINT m, WPARAM w, LPARAM l) -> LRESULT {
            if (m != kNext)
                return DefWindowProcW(h, m, w, l);
            handler();
            return 0;
        };
        type.lpszClassName = L"tst_message_loop";
        RegisterClassW(&type);
        return CreateWindowExW(0, type.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                               nullptr, nullptr);
    }();
    PostMessageW(target, kNext, 0, 0);
}

int run(HANDLE signal, const std::function<void()>& served) {
    const std::array handles{signal};
    return vm::win32::runMessageLoop(nullptr, handles, [&](std::size_t) { served(); });
}

} // namespace

TEST_CASE("a signal is served before the next message, and never holds the queue back") {
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr); // auto-reset, as a timer
    // The signal comes from inside message `at` of a queue that never empties: at most one
    // message may run before it is served.
    for (const int at : {1, 10, 500}) {
        int messages = 0;
        int servedAfter = -1;
        handler = [&] {
            if (++messages == at)
                SetEvent(event);
            if (messages == at + 2)
                PostQuitMessage(0);
            else
                postNext();
        };
        postNext();
        run(event, [&] { servedAfter = messages; });
        CHECK(servedAfter == at);
    }
    // Signalled again as it is served (a tick slower than its period): signal and message
    // take turns, one tick per message, and the queue still runs to its end.
    int messages = 0;
    int served = 0;
    handler = [&] {
        if (++messages == 100)
            PostQuitMessage(0);
        else
            postNext();
    };
    postNext();
    SetEvent(event);
    run(event, [&] {
        if (++served < 10000)
            SetEvent(event);
        else
            PostQuitMessage(1); // the queue is held back
    });
    CHECK(messages == 100);
    CHECK(served == 101);
    CloseHandle(event);
}

TEST_CASE("a timer ticks while the loop waits with nothing else to do") {
    // Three ticks of a 50 ms timer on an idle queue: each signal comes during the loop's wait,
    // which takes it; a loop that looked again afterwards would find nothing and hang.
    int ticks = 0;
    vm::win32::Timer timer(vm::win32::Timer::Resolution::Fine, [&] {
        if (++ticks == 3)
            PostQuitMessage(0);
    });
    timer.Start(std::chrono::milliseconds(50));
    // Only a bound for a loop that hangs; a working loop ends long before it.
    const UINT_PTR bound =
        SetTimer(nullptr, 0, 10000, [](HWND, UINT, UINT_PTR, DWORD) { PostQuitMessage(1); });
    const std::vector<HANDLE> handles = vm::win32::Timer::handles();
    CHECK(run(handles[0], [&] { vm::win32::Timer::runSignalled(handles[0]); }) == 0);
    KillTimer(nullptr, bound);
    CHECK(ticks == 3);
}
