// Test-only control over the device's failures: what a real adapter does when the display is
// taken away, memory runs out or the runtime is missing.
#pragma once

#include "platform/d3d8/d3d8.h"

namespace d3d8::faults {

// The device becomes lost (TestCooperativeLevel: D3DERR_DEVICELOST) until AllowReset, after
// which it reports D3DERR_DEVICENOTRESET until a successful Reset.
void LoseDevice(IDirect3DDevice8* device);
void AllowReset(IDirect3DDevice8* device);

// The next call of that kind fails with Result (one call each; S_OK cancels).
void FailNextCreateDevice(HRESULT result);
void FailNextReset(HRESULT result);
void FailNextCreateTexture(HRESULT result);
void FailNextCreateVertexBuffer(HRESULT result);

// Direct3DCreate8 returns NULL while set.
void SetDirect3DMissing(bool missing);
// The adapter cannot render into a window while set (no D3DCAPS2_CANRENDERWINDOWED).
void SetNoWindowedRendering(bool noWindowed);
// The device reports D3DPMISCCAPS_NULLREFERENCE (a reference device that renders nothing).
void SetNullReferenceDevice(bool nullReference);

// Everything above back to normal.
void ClearAll();

// Queried by the device.
bool Direct3DMissing();
bool AdapterRendersWindowed();
bool NullReferenceDevice();
HRESULT TakeCreateDeviceFailure();
HRESULT TakeResetFailure();
HRESULT TakeCreateTextureFailure();
HRESULT TakeCreateVertexBufferFailure();

}  // namespace d3d8::faults
