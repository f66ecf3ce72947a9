#include "framework/uFrameRate.h"

#include "platform/win/windows.h"

#include <cstdio>
#include <cstdlib>

TFrameRateReport::TFrameRateReport(double period) : period_(period) {}

TFrameRateReport& TFrameRateReport::Process()
{
    static TFrameRateReport report([] {
        const char* text = std::getenv("HALVORA_FPS");
        if (!text || !*text)
            return 0.0;
        char* end = nullptr;
        const double value = std::strtod(text, &end);
        // Garbage or absurd periods leave the report off rather than flooding stderr or never firing.
        if (*end != '\0' || !(value >= 0.1 && value <= 3600.0)) {
            std::fprintf(stderr, "halvora: HALVORA_FPS=\"%s\" is not a period of 0.1 to 3600 seconds; ignored\n", text);
            return 0.0;
        }
        return value;
    }());
    return report;
}

bool TFrameRateReport::Presented(double now)
{
    if (period_ <= 0.0)
        return false;
    if (windowStart_ < 0.0) {
        windowStart_ = now;
        return false;
    }
    ++frames_;
    const double span = now - windowStart_;
    if (span < period_)
        return false;
    lastRate_ = static_cast<double>(frames_) / span;
    std::fprintf(stderr, "halvora: %.2f frames per second\n", lastRate_);
    std::fflush(stderr);
    windowStart_ = now;
    frames_ = 0;
    return true;
}

double FrameRateClockSeconds()
{
    LARGE_INTEGER count{}, frequency{};
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    if (frequency.QuadPart <= 0)
        return 0.0;
    return static_cast<double>(count.QuadPart) / static_cast<double>(frequency.QuadPart);
}
