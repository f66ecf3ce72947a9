// Test interface of the window layer.
#pragma once

namespace platform {

// Forgets every window, class, posted message, timer and the quit flag without sending
// messages, and puts the cursor counter back to 0. For tests that install a fresh display.
void ResetWindowsForTests();

}  // namespace platform
