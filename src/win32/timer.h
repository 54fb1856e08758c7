#pragma once

// A window timer on Windows that keeps periods down to 1 ms (SetTimer stops at 10 ms): a
// timer-queue timer whose callback posts one tick to the message loop. Ticks that fall due
// while a tick is still waiting in the queue merge into it, so a busy thread never meets a
// burst of them. A fine timer asks Windows for a 1 ms clock only while it runs.

#include "form/ports.h"
#include "win32/message_target.h"

#include <atomic>
#include <functional>

namespace vm::win32 {

class Timer final : public form::TimerPort, private MessageTarget {
public:
    enum class Resolution { System, Fine };

    Timer(Resolution resolution, std::function<void()> tick);
    ~Timer() override;

    void Start(std::chrono::milliseconds interval) override;
    void Stop() override;

private:
    static void CALLBACK due(void* self, BOOLEAN);
    void onMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

    Resolution resolution_;
    std::function<void()> tick_;
    HANDLE timer_ = nullptr;
    bool finePeriod_ = false;
    std::atomic<unsigned> generation_{0};
    std::atomic<bool> tickQueued_{false};
};

} // namespace vm::win32
