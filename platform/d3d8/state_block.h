// Recorded and captured state blocks: a sparse list of the states a block holds, applied in
// order through the device's own setters.
#pragma once

#include "platform/d3d8/d3d8.h"

#include <map>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace d3d8 {

class DeviceImpl;
class Texture;
class VertexBuffer;
struct DeviceState;

class StateBlock {
public:
    StateBlock() = default;
    ~StateBlock();
    StateBlock(const StateBlock&) = delete;
    StateBlock& operator=(const StateBlock&) = delete;

    // The last value recorded for a state wins.
    void RecordRenderState(DWORD state, DWORD value);
    void RecordStageState(DWORD stage, DWORD type, DWORD value);
    void RecordTexture(DWORD stage, Texture* texture);
    void RecordTransform(int slot, const D3DMATRIX& m);
    void RecordLight(DWORD index, const D3DLIGHT8& light);
    void RecordLightEnable(DWORD index, bool enable);
    void RecordMaterial(const D3DMATERIAL8& m) { material_ = m; }
    void RecordViewport(const D3DVIEWPORT8& vp) { viewport_ = vp; }
    void RecordStream(VertexBuffer* vb, UINT stride);
    void RecordVertexShader(DWORD handle) { vertexShader_ = handle; }

    void Apply(DeviceImpl& device) const;
    // Refreshes exactly the recorded states from the device.
    void Capture(const DeviceState& state);

    std::size_t RenderStateCount() const { return renderStates_.size(); }

private:
    std::vector<std::pair<DWORD, DWORD>> renderStates_;
    struct StageEntry {
        DWORD stage, type, value;
    };
    std::vector<StageEntry> stageStates_;
    std::vector<std::pair<DWORD, Texture*>> textures_;  // internal references
    std::vector<std::pair<int, D3DMATRIX>> transforms_;
    std::vector<std::pair<DWORD, D3DLIGHT8>> lights_;
    std::vector<std::pair<DWORD, bool>> lightEnables_;
    std::optional<D3DMATERIAL8> material_;
    std::optional<D3DVIEWPORT8> viewport_;
    bool hasStream_ = false;
    VertexBuffer* stream_ = nullptr;  // internal reference
    UINT streamStride_ = 0;
    std::optional<DWORD> vertexShader_;
};

// Tokens are small non-zero numbers; 0xFFFFFFFF is never handed out.
class StateBlockStore {
public:
    bool Recording() const { return recording_ != nullptr; }
    StateBlock* RecordingBlock() { return recording_.get(); }
    void BeginRecording() { recording_ = std::make_unique<StateBlock>(); }
    DWORD EndRecording() { return Add(std::move(recording_)); }
    DWORD Add(std::unique_ptr<StateBlock> block);
    StateBlock* Find(DWORD token);
    bool Delete(DWORD token);
    void Clear();

private:
    std::map<DWORD, std::unique_ptr<StateBlock>> blocks_;
    std::unique_ptr<StateBlock> recording_;
    DWORD next_ = 1;
};

}  // namespace d3d8
