#pragma once
// The application object's run, from creation to destruction.

#include "platform/win/windows.h"

// Creates App, calls Create_ and ResetTimers, pumps messages (hiding the cursor
// when full screen) and, when full screen, destroys App.
HRESULT RunApplication(bool fullScreen);
