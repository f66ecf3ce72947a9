#pragma once
// Frame start history for the smoothed frame step, and interval timers, both on the
// high-resolution performance counter.

#include <cstdint>

// Ticks per second of the performance counter, read once at start.
extern int64_t CounterFrequency;

int64_t ReadCounter();

class TTimeArray {
public:
    static constexpr int32_t kCapacity = 256;

    int64_t Stamps[kCapacity] = {};  // [0] is the newest frame start
    int32_t StampCount = 0;

    void Push();
    // Mean seconds of the last Frames - 1 known intervals; 0 when none is known.
    float AverageFrameTime(int32_t Frames) const;
};

struct TFrameTimer {
    int64_t LastCount = 0;
    float Interval = 0.0f;  // counter ticks per period; 0 = one period per poll
    float Accumulated = 0.0f;
    int32_t TickCount = 0;
    float TicksPerSecond = 0.0f;
    int64_t MeasureStart = 0;
};

void Start(TFrameTimer& Timer, float PeriodSeconds);
void SetPeriod(TFrameTimer& Timer, float PeriodSeconds);
// Whole periods elapsed since the previous poll; a period that ends exactly now stays pending.
int32_t Poll(TFrameTimer& Timer);
