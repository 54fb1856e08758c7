#include "win32/timer.h"

#include <timeapi.h>

#include <algorithm>

namespace vm::win32 {

namespace {
constexpr UINT kTick = WM_APP + 0x10;
}

Timer::Timer(Resolution resolution, std::function<void()> tick)
    : resolution_(resolution)
    , tick_(std::move(tick)) {}

Timer::~Timer() {
    Stop();
}

void Timer::Start(std::chrono::milliseconds interval) {
    Stop();
    const DWORD period = DWORD(std::clamp<long long>(interval.count(), 1, 0x7FFFFFFF));
    if (resolution_ == Resolution::Fine && timeBeginPeriod(1) == TIMERR_NOERROR)
        finePeriod_ = true;
    CreateTimerQueueTimer(&timer_, nullptr, &Timer::due, this, period, period,
                          WT_EXECUTEINTIMERTHREAD);
}

void Timer::Stop() {
    if (timer_) {
        // Waits for a callback under way; a tick it posted is dropped by its generation.
        DeleteTimerQueueTimer(nullptr, timer_, INVALID_HANDLE_VALUE);
        timer_ = nullptr;
    }
    ++generation_;
    tickQueued_ = false;
    if (finePeriod_) {
        timeEndPeriod(1);
        finePeriod_ = false;
    }
}

void CALLBACK Timer::due(void* context, BOOLEAN) {
    auto* self = static_cast<Timer*>(context);
    if (!self->tickQueued_.exchange(true))
        PostMessageW(self->handle(), kTick, self->generation_.load(), 0);
}

void Timer::onMessage(UINT message, WPARAM wParam, LPARAM) {
    if (message != kTick || wParam != generation_.load())
        return;
    tickQueued_ = false;
    tick_();
}

} // namespace vm::win32
