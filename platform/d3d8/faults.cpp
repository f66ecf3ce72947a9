#include "platform/d3d8/faults.h"

#include "platform/d3d8/objects.h"

namespace d3d8::faults {

namespace {
struct Faults {
    HRESULT createDevice = S_OK;
    HRESULT reset = S_OK;
    HRESULT createTexture = S_OK;
    HRESULT createVertexBuffer = S_OK;
    bool direct3DMissing = false;
    bool noWindowed = false;
    bool nullReference = false;
};
Faults g_faults;

HRESULT Take(HRESULT& slot)
{
    HRESULT result = slot;
    slot = S_OK;
    return result;
}
}  // namespace

void LoseDevice(IDirect3DDevice8* device)
{
    if (device)
        static_cast<DeviceImpl*>(device)->Lose();
}

void AllowReset(IDirect3DDevice8* device)
{
    if (device)
        static_cast<DeviceImpl*>(device)->AllowReset();
}

void FailNextCreateDevice(HRESULT result) { g_faults.createDevice = result; }
void FailNextReset(HRESULT result) { g_faults.reset = result; }
void FailNextCreateTexture(HRESULT result) { g_faults.createTexture = result; }
void FailNextCreateVertexBuffer(HRESULT result) { g_faults.createVertexBuffer = result; }
void SetDirect3DMissing(bool missing) { g_faults.direct3DMissing = missing; }
void SetNoWindowedRendering(bool noWindowed) { g_faults.noWindowed = noWindowed; }
void SetNullReferenceDevice(bool nullReference) { g_faults.nullReference = nullReference; }
void ClearAll() { g_faults = Faults{}; }

bool Direct3DMissing() { return g_faults.direct3DMissing; }
bool AdapterRendersWindowed() { return !g_faults.noWindowed; }
bool NullReferenceDevice() { return g_faults.nullReference; }
HRESULT TakeCreateDeviceFailure() { return Take(g_faults.createDevice); }
HRESULT TakeResetFailure() { return Take(g_faults.reset); }
HRESULT TakeCreateTextureFailure() { return Take(g_faults.createTexture); }
HRESULT TakeCreateVertexBufferFailure() { return Take(g_faults.createVertexBuffer); }

}  // namespace d3d8::faults
