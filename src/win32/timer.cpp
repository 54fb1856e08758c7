#include "win32/timer.h"

#include <timeapi.h>

#include <algorithm>
#include <vector>

namespace vm::win32 {

namespace {

// The timers that exist, all on the window's thread.
std::vector<Timer*>& timers() {
    static std::vector<Timer*> all;
    return all;
}

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

HANDLE createTimer() {
    // A high-resolution timer where Windows has one (Windows 10 1803 and later), else a plain one.
    HANDLE timer = CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                          TIMER_ALL_ACCESS);
    if (!timer)
        timer = CreateWaitableTimerExW(nullptr, nullptr, 0, TIMER_ALL_ACCESS);
    return timer;
}

} // namespace

Timer::Timer(Resolution resolution, std::function<void()> tick)
    : resolution_(resolution)
    , tick_(std::move(tick))
    , timer_(createTimer()) {
    timers().push_back(this);
}

Timer::~Timer() {
    Stop();
    std::erase(timers(), this);
    CloseHandle(timer_);
}

void Timer::Start(std::chrono::milliseconds interval) {
    Stop();
    const LONG period = LONG(std::clamp<long long>(interval.count(), 1, 0x7FFFFFFF));
    if (resolution_ == Resolution::Fine && timeBeginPeriod(1) == TIMERR_NOERROR)
        finePeriod_ = true;
    LARGE_INTEGER first{};
    first.QuadPart = -10000LL * period; // relative, in 100 ns units
    SetWaitableTimer(timer_, &first, period, nullptr, nullptr, FALSE);
    running_ = true;
}

void Timer::Stop() {
    CancelWaitableTimer(timer_);
    WaitForSingleObject(timer_, 0); // a tick that fell due before is dropped too
    running_ = false;
    if (finePeriod_) {
        timeEndPeriod(1);
        finePeriod_ = false;
    }
}

std::vector<HANDLE> Timer::handles() {
    std::vector<HANDLE> all;
    for (const Timer* timer : timers())
        all.push_back(timer->timer_);
    return all;
}

void Timer::runSignalled(HANDLE handle) {
    // A timer stopped since its signal came ticks no more.
    for (Timer* timer : timers())
        if (timer->timer_ == handle && timer->running_) {
            timer->tick_();
            return;
        }
}

} // namespace vm::win32
