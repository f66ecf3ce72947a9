// Process-wide Direct3D objects and the frame clock, shared by the framework and the scene.
#pragma once

#include "platform/d3d8/d3d8.h"

extern IDirect3D8* D3D;
extern IDirect3DDevice8* Device;
extern IDirect3DSurface8* DefaultRenderTarget;
extern IDirect3DSurface8* Surf1;
extern IDirect3DSurface8* Surf2;
extern D3DCAPS8 DeviceCaps;
extern D3DFORMAT TextureFormat;   // format in which textures are created; 0 until one is chosen
extern bool SquareTexturesOnly;   // the device accepts only square textures
extern bool MirrorAddressing;     // the device supports mirrored texture addressing

extern std::uint32_t FrameCount;  // completed frame updates
extern float FrameStep;           // smoothed frame duration in ticks of 1/60 s
extern float FrameStepSquared;
extern float ElapsedSteps;        // running sum of FrameStep
