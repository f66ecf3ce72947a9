#pragma once
// DirectDraw 7, loaded from "DDraw.dll" at run time, for the amount of video memory.

#include "platform/ddraw7/ddraw.h"

// Loads the library and looks up DirectDrawCreate (once); the library is freed at exit.
bool LoadDirectDrawLibrary();
// DD: the DirectDraw object, DD7: its DirectDraw 7 interface. False (after message boxes)
// when DirectDraw 7 is not available.
bool CreateInterface(IDirectDraw*& DD, IDirectDraw7*& DD7);
