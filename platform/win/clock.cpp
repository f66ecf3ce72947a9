#include "platform/win/clock.h"

#include "platform/win/windows.h"

#include <sched.h>
#include <time.h>

#include <atomic>
#include <cerrno>

namespace {

constexpr LONGLONG kCounterFrequency = 1000000000;  // nanoseconds
constexpr LONGLONG kTicksPerMillisecond = kCounterFrequency / 1000;
// Where a virtual run's counter starts; a fixed value keeps runs identical.
constexpr LONGLONG kVirtualStart = 1000 * kCounterFrequency;

std::atomic<bool> VirtualMode{false};
std::atomic<LONGLONG> VirtualCounter{kVirtualStart};

LONGLONG RealCounter()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<LONGLONG>(now.tv_sec) * kCounterFrequency + now.tv_nsec;
}

LONGLONG Counter()
{
    return VirtualMode.load() ? VirtualCounter.load() : RealCounter();
}

void RealSleep(DWORD milliseconds)
{
    if (milliseconds == 0) {
        sched_yield();
        return;
    }
    timespec remaining{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}

}  // namespace

namespace platform {

void SetVirtualClock(bool on)
{
    if (on && !VirtualMode.load())
        VirtualCounter.store(kVirtualStart);
    VirtualMode.store(on);
}

bool IsVirtualClock() { return VirtualMode.load(); }

void WaitForRetrace(int refreshHz, int intervals, long long& last)
{
    if (VirtualMode.load())
        return;
    const LONGLONG period = kCounterFrequency / (refreshHz >= 24 && refreshHz <= 480 ? refreshHz : 60);
    long long retrace = RealCounter() / period + 1;
    if (last > 0 && retrace < last + intervals)
        retrace = last + intervals;
    last = retrace;
    const LONGLONG at = retrace * period;
    const timespec until{static_cast<time_t>(at / kCounterFrequency), static_cast<long>(at % kCounterFrequency)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
    }
}

}  // namespace platform

void Sleep(DWORD dwMilliseconds)
{
    if (VirtualMode.load())
        VirtualCounter.fetch_add(static_cast<LONGLONG>(dwMilliseconds) * kTicksPerMillisecond);
    else
        RealSleep(dwMilliseconds);
}

DWORD GetTickCount()
{
    return static_cast<DWORD>(static_cast<ULONGLONG>(Counter() / kTicksPerMillisecond));
}

BOOL QueryPerformanceCounter(LARGE_INTEGER* lpPerformanceCount)
{
    if (!lpPerformanceCount)
        return FALSE;
    lpPerformanceCount->QuadPart = Counter();
    return TRUE;
}

BOOL QueryPerformanceFrequency(LARGE_INTEGER* lpFrequency)
{
    if (!lpFrequency)
        return FALSE;
    lpFrequency->QuadPart = kCounterFrequency;
    return TRUE;
}
