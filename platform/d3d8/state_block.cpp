#include "platform/d3d8/state_block.h"

#include "platform/d3d8/objects.h"

namespace d3d8 {

namespace {

template <typename Key, typename Value>
void Upsert(std::vector<std::pair<Key, Value>>& list, const Key& key, const Value& value)
{
    for (auto& entry : list) {
        if (entry.first == key) {
            entry.second = value;
            return;
        }
    }
    list.emplace_back(key, value);
}

void Hold(Texture* texture)
{
    if (texture)
        texture->AddInternal();
}

void Drop(Texture* texture)
{
    if (texture)
        texture->ReleaseInternal();
}

}  // namespace

StateBlock::~StateBlock()
{
    for (auto& [stage, texture] : textures_)
        Drop(texture);
    if (stream_)
        stream_->ReleaseInternal();
}

void StateBlock::RecordRenderState(DWORD state, DWORD value) { Upsert(renderStates_, state, value); }

void StateBlock::RecordStageState(DWORD stage, DWORD type, DWORD value)
{
    for (auto& entry : stageStates_) {
        if (entry.stage == stage && entry.type == type) {
            entry.value = value;
            return;
        }
    }
    stageStates_.push_back({stage, type, value});
}

void StateBlock::RecordTexture(DWORD stage, Texture* texture)
{
    Hold(texture);
    for (auto& entry : textures_) {
        if (entry.first == stage) {
            Drop(entry.second);
            entry.second = texture;
            return;
        }
    }
    textures_.emplace_back(stage, texture);
}

void StateBlock::RecordTransform(int slot, const D3DMATRIX& m) { Upsert(transforms_, slot, m); }
void StateBlock::RecordLight(DWORD index, const D3DLIGHT8& light) { Upsert(lights_, index, light); }
void StateBlock::RecordLightEnable(DWORD index, bool enable) { Upsert(lightEnables_, index, enable); }

void StateBlock::RecordStream(VertexBuffer* vb, UINT stride)
{
    if (vb)
        vb->AddInternal();
    if (stream_)
        stream_->ReleaseInternal();
    hasStream_ = true;
    stream_ = vb;
    streamStride_ = stride;
}

void StateBlock::Apply(DeviceImpl& device) const
{
    for (const auto& [state, value] : renderStates_)
        device.ApplyRenderState(state, value);
    for (const auto& e : stageStates_)
        device.ApplyStageState(e.stage, e.type, e.value);
    for (const auto& [stage, texture] : textures_)
        device.ApplyTexture(stage, texture);
    for (const auto& [slot, m] : transforms_)
        device.ApplyTransform(slot, m);
    for (const auto& [index, light] : lights_)
        device.ApplyLight(index, light);
    for (const auto& [index, enable] : lightEnables_)
        device.ApplyLightEnable(index, enable);
    if (material_)
        device.ApplyMaterial(*material_);
    if (viewport_)
        device.ApplyViewport(*viewport_);
    if (hasStream_)
        device.ApplyStream(stream_, streamStride_);
    if (vertexShader_)
        device.ApplyVertexShader(*vertexShader_);
}

void StateBlock::Capture(const DeviceState& s)
{
    for (auto& [state, value] : renderStates_)
        value = s.renderStates[state];
    for (auto& e : stageStates_)
        e.value = s.stageStates[e.stage][e.type];
    for (auto& [stage, texture] : textures_) {
        Texture* now = s.textures[stage];
        Hold(now);
        Drop(texture);
        texture = now;
    }
    for (auto& [slot, m] : transforms_)
        m = s.transforms[static_cast<std::size_t>(slot)];
    for (auto& [index, light] : lights_) {
        auto it = s.lights.find(index);
        if (it != s.lights.end())
            light = it->second.light;
    }
    for (auto& [index, enable] : lightEnables_) {
        auto it = s.lights.find(index);
        if (it != s.lights.end())
            enable = it->second.enabled;
    }
    if (material_)
        material_ = s.material;
    if (viewport_)
        viewport_ = s.viewport;
    if (hasStream_)
        RecordStream(s.stream0, s.stream0Stride);
    if (vertexShader_)
        vertexShader_ = s.vertexShader;
}

DWORD StateBlockStore::Add(std::unique_ptr<StateBlock> block)
{
    while (next_ == 0 || next_ == 0xFFFFFFFF || blocks_.count(next_))
        ++next_;
    DWORD token = next_++;
    blocks_[token] = std::move(block);
    return token;
}

StateBlock* StateBlockStore::Find(DWORD token)
{
    auto it = blocks_.find(token);
    return it == blocks_.end() ? nullptr : it->second.get();
}

bool StateBlockStore::Delete(DWORD token) { return blocks_.erase(token) > 0; }

void StateBlockStore::Clear()
{
    blocks_.clear();
    recording_.reset();
}

}  // namespace d3d8
