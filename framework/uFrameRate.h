#pragma once
// An optional frame-rate report on standard error, for measuring a running saver.
// Enabled by HALVORA_FPS=SECONDS (the report period); off when unset or not a positive number.

#include <cstdint>

class TFrameRateReport {
public:
    // Period in seconds; 0 or less turns the report off.
    explicit TFrameRateReport(double period);
    // Reads the period from the environment once per process.
    static TFrameRateReport& Process();

    // One presented frame at Now seconds; returns true when a report line was due.
    bool Presented(double now);
    double LastRate() const { return lastRate_; }

private:
    double period_;
    double windowStart_ = -1.0;
    std::uint64_t frames_ = 0;
    double lastRate_ = 0.0;
};

// Seconds on the layer's clock (virtual on the offscreen display).
double FrameRateClockSeconds();
