#pragma once
// Checked device calls: each forwards to the current device and, when the call fails, logs
// what was asked for and the result's text.

#include "platform/d3d8/d3d8.h"

HRESULT SRS(DWORD State, DWORD Value);
HRESULT STSS(DWORD Stage, DWORD Type, DWORD Value);
// Skips the device when Texture is the one the previous ST bound (whatever its stage).
HRESULT ST(DWORD Stage, IDirect3DBaseTexture8* Texture);
HRESULT ASB(DWORD Block);
HRESULT CreateTextureDirect(UINT Width, UINT Height, UINT Levels, DWORD Usage, D3DFORMAT Format, D3DPOOL Pool,
                            IDirect3DTexture8** Texture);

// The texture of the last ST (one counted reference), or none.
IDirect3DBaseTexture8* GetLastTexture();
// Drops LastTexture; at program exit, and by tests between devices.
void ReleaseLastTexture();
