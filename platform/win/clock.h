#pragma once
// The layer's clock behind Sleep and the performance counter.

namespace platform {

// In virtual mode the performance counter stands still except that Sleep(ms)
// advances it by ms at once, so runs are fast and repeat exactly.
void SetVirtualClock(bool on);
bool IsVirtualClock();

// The display's vertical retraces, refreshHz a second on the monotonic clock. Blocks until
// the first retrace after now that is at least `intervals` after `last` (the retrace the
// previous wait ended on, 0 for none), and stores it in `last`. A rate outside 24 to 480 Hz
// is taken as 60. With the virtual clock nothing waits: a virtual run has no display.
void WaitForRetrace(int refreshHz, int intervals, long long& last);

}  // namespace platform
