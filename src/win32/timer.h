#pragma once

// A window timer on Windows that keeps periods down to 1 ms (SetTimer stops at 10 ms): a
// periodic waitable timer (high-resolution where Windows has one) that the message loop waits
// on beside its queue (message_loop.h). The wait takes the timer's signal, so ticks that fell
// due while the thread was busy merge into one. A fine timer asks Windows for a 1 ms clock
// only while it runs.

#include "form/ports.h"

#include <windows.h>

#include <functional>
#include <vector>

namespace vm::win32 {

class Timer final : public form::TimerPort {
public:
    enum class Resolution { System, Fine };

    Timer(Resolution resolution, std::function<void()> tick);
    ~Timer() override;
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;

    void Start(std::chrono::milliseconds interval) override;
    void Stop() override;

    // The timers' handles, signalled when due: the message loop waits on them beside its queue.
    static std::vector<HANDLE> handles();
    // Runs the tick of the timer whose handle a wait found signalled (and so took its signal).
    static void runSignalled(HANDLE handle);

private:
    Resolution resolution_;
    std::function<void()> tick_;
    HANDLE timer_ = nullptr;
    bool running_ = false;
    bool finePeriod_ = false;
};

} // namespace vm::win32
