// The device's state as one plain record, the defaults it starts from, and the tables that
// say which render and texture stage state numbers exist.
#pragma once

#include "platform/d3d8/d3d8.h"

#include <array>
#include <map>

namespace d3d8 {

class Texture;
class VertexBuffer;

inline constexpr DWORD kRenderStateCount = 256;
inline constexpr DWORD kStageCount = 8;
inline constexpr DWORD kStageStateCount = 29;  // types 1..28
inline constexpr DWORD kWorldMatrixCount = 256;
inline constexpr DWORD kTransformSlots = 2 + 8 + kWorldMatrixCount;  // view, projection, texture 0-7, world 0-255

bool IsRenderState(DWORD state);
bool IsStageState(DWORD type);
// Slot of a transform type in DeviceState::transforms, or -1 when the type does not exist.
int TransformSlot(DWORD type);
DWORD TransformTypeOfSlot(int slot);

struct LightSlot {
    D3DLIGHT8 light{};
    bool enabled = false;
};

struct DeviceState {
    std::array<DWORD, kRenderStateCount> renderStates{};
    std::array<std::array<DWORD, kStageStateCount>, kStageCount> stageStates{};
    std::array<D3DMATRIX, kTransformSlots> transforms{};
    std::map<DWORD, LightSlot> lights;
    D3DMATERIAL8 material{};
    D3DVIEWPORT8 viewport{};
    // Bindings hold an internal reference (not the one AddRef/Release report).
    std::array<Texture*, kStageCount> textures{};
    VertexBuffer* stream0 = nullptr;
    UINT stream0Stride = 0;
    DWORD vertexShader = 0;
};

// Render and stage states of a new or freshly reset device; the caller sets the viewport.
void SetDefaultStates(DeviceState& state, bool autoDepthStencil, float maxPointSize);
D3DMATRIX IdentityMatrix();
// The light LightEnable creates at an index that was never set.
D3DLIGHT8 DefaultLight();

}  // namespace d3d8
