#include "framework/uD3DGlobals.h"

IDirect3D8* D3D = nullptr;
IDirect3DDevice8* Device = nullptr;
IDirect3DSurface8* DefaultRenderTarget = nullptr;
IDirect3DSurface8* Surf1 = nullptr;
IDirect3DSurface8* Surf2 = nullptr;
D3DCAPS8 DeviceCaps = {};
D3DFORMAT TextureFormat = D3DFMT_UNKNOWN;
bool SquareTexturesOnly = false;
bool MirrorAddressing = false;

std::uint32_t FrameCount = 0;
float FrameStep = 1.0f;
float FrameStepSquared = 1.0f;
float ElapsedSteps = 0.0f;
