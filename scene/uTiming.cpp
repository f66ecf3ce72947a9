#include "scene/uTiming.h"

#include "platform/win/windows.h"

#include <algorithm>
#include <cstdint>

namespace {

int64_t ReadFrequency()
{
    LARGE_INTEGER f{};
    if (!QueryPerformanceFrequency(&f) || f.QuadPart <= 0)
        return 1000;  // keeps every division defined
    return f.QuadPart;
}

}  // namespace

int64_t CounterFrequency = ReadFrequency();

int64_t ReadCounter()
{
    LARGE_INTEGER c{};
    QueryPerformanceCounter(&c);
    return c.QuadPart;
}

void TTimeArray::Push()
{
    std::copy_backward(Stamps, Stamps + kCapacity - 1, Stamps + kCapacity);
    if (StampCount < kCapacity)
        StampCount += 1;
    Stamps[0] = ReadCounter();
}

float TTimeArray::AverageFrameTime(int32_t Frames) const
{
    const int32_t n = std::min(StampCount - 1, Frames - 1);
    if (n <= 0)
        return 0.0f;
    int64_t sum = Stamps[0] - Stamps[n];
    if (sum < 0)
        sum = 0;
    return static_cast<float>(static_cast<long double>(sum) / n / CounterFrequency);
}

void Start(TFrameTimer& Timer, float PeriodSeconds)
{
    Timer.LastCount = ReadCounter();
    Timer.Interval = static_cast<float>(CounterFrequency * static_cast<long double>(PeriodSeconds));
    Timer.Accumulated = 0.0f;
    Timer.TicksPerSecond = 0.0f;
    Timer.MeasureStart = Timer.LastCount;
}

void SetPeriod(TFrameTimer& Timer, float PeriodSeconds)
{
    Timer.Interval = static_cast<float>(CounterFrequency * static_cast<long double>(PeriodSeconds));
}

int32_t Poll(TFrameTimer& Timer)
{
    const int64_t now = ReadCounter();
    Timer.Accumulated = static_cast<float>(Timer.Accumulated + static_cast<long double>(now - Timer.LastCount));
    Timer.LastCount = now;
    int32_t result = 0;
    if (Timer.Interval == 0.0f) {
        result = 1;
        Timer.TickCount += 1;
    } else if (Timer.Interval > 0.0f) {
        // After a long stall a short period would loop for a very long time; take the
        // bulk by division and leave the last few periods to the exact loop.
        const long double periods = static_cast<long double>(Timer.Accumulated) / Timer.Interval;
        if (periods > 1024.0L) {
            const int64_t bulk = static_cast<int64_t>(periods) - 2;
            Timer.Accumulated = static_cast<float>(Timer.Accumulated - bulk * static_cast<long double>(Timer.Interval));
            result = static_cast<int32_t>(std::min<int64_t>(bulk, INT32_MAX / 2));
            Timer.TickCount += result;
        }
        while (Timer.Accumulated > Timer.Interval) {
            Timer.Accumulated -= Timer.Interval;
            result += 1;
            Timer.TickCount += 1;
        }
    }
    const int64_t measured = now - Timer.MeasureStart;
    if (measured > CounterFrequency) {
        Timer.TicksPerSecond =
            static_cast<float>(Timer.TickCount / static_cast<long double>(measured) * CounterFrequency);
        Timer.TickCount = 0;
        Timer.MeasureStart = now;
    }
    return result;
}
