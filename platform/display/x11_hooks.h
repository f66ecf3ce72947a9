// Test interface of the X11 backend.
#pragma once

#include "platform/display/display.h"

namespace platform::display::x11 {

// SharedPixels: straight from the frame's own shared memory, without a copy.
enum class PresentPath { NoFrame, SharedMemory, SharedPixels, PutImage };  // no "None": Xlib defines it

// How the last successful Present of this backend reached the server; NoFrame when nothing
// was presented yet or the backend is not the X11 one.
PresentPath LastPresentPath(Backend&);

}  // namespace platform::display::x11
