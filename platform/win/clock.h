#pragma once
// The layer's clock behind Sleep and the performance counter.

namespace platform {

// In virtual mode the performance counter stands still except that Sleep(ms)
// advances it by ms at once, so runs are fast and repeat exactly.
void SetVirtualClock(bool on);
bool IsVirtualClock();

}  // namespace platform
