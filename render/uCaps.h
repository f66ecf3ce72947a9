#pragma once
// The Direct3D 8 object for callers outside the framework, and the adapter report in the log.

#include "platform/d3d8/d3d8.h"

#include <string>

// False (after a message box) when Direct3D 8 is missing.
bool CreateD3D8(IDirect3D8*& D3D);
// Appends the report of the default adapter's hardware device to FileName.
void WriteAdapterReport(const std::string& FileName, IDirect3D8* D3D);
