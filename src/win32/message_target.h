#pragma once

// A message-only window on the window's thread. The Win32 ports receive their events through
// it (socket notifications, timer ticks, posted events), so that every event arrives as a
// message in the program's one message loop, one at a time, never inside a running handler.

#include <windows.h>

#include <deque>
#include <functional>

namespace vm::win32 {

class MessageTarget {
public:
    MessageTarget();
    virtual ~MessageTarget();
    MessageTarget(const MessageTarget&) = delete;
    MessageTarget& operator=(const MessageTarget&) = delete;

    HWND handle() const { return hwnd_; }

protected:
    // Messages from WM_APP + 0x10 upwards are the port's own.
    static constexpr UINT kFirstOwnMessage = WM_APP + 0x10;

    // Runs the event later, from the message loop, after the events posted before it.
    void post(std::function<void()> event);
    // Whether events posted before are still to run.
    bool postedPending() const { return !posted_.empty(); }
    // A message of the port's own (WM_TIMER, or kFirstOwnMessage and above).
    virtual void onMessage(UINT message, WPARAM wParam, LPARAM lParam) = 0;

private:
    static LRESULT CALLBACK procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    HWND hwnd_ = nullptr;
    std::deque<std::function<void()>> posted_;
};

} // namespace vm::win32
