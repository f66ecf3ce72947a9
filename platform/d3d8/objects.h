// The objects behind the Direct3D 8 interfaces. Only platform/d3d8 sees this header.
#pragma once

#include "platform/d3d8/d3d8.h"
#include "platform/d3d8/device_state.h"
#include "platform/d3d8/raster/format_bridge.h"
#include "platform/d3d8/raster/raster.h"
#include "platform/d3d8/state_block.h"
#include "platform/display/display.h"

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

namespace d3d8 {

class DeviceImpl;

// The "video memory" of this device, shared by every device of the process: 256 MiB, or for a
// larger screen room for eight of its 32-bit frames, as a card driving that screen would have.
inline constexpr std::uint64_t kVideoMemoryBytes = 256ull * 1024 * 1024;
std::uint64_t VideoMemoryBytes();
// Grows the budget for a desktop of that size; it never shrinks.
void SizeVideoMemoryFor(UINT width, UINT height);
// The budget or what is free of it as a 32-bit count, saturated.
DWORD VideoMemoryDword(bool freeOnly);
bool ReserveVideoMemory(std::uint64_t bytes);
void ReturnVideoMemory(std::uint64_t bytes);
std::uint64_t VideoMemoryInUse();

inline constexpr UINT kMaxTextureSize = 4096;
inline constexpr UINT kMaxSurfaceSize = 16384;
inline constexpr UINT kMaxPrimitiveCount = 0xFFFFF;
inline constexpr float kMaxPointSize = 64.0f;

// Formats the back end reads and writes, and their mapping.
bool ToPixelFormat(D3DFORMAT format, raster::PixelFormat& out);
bool IsTextureFormat(D3DFORMAT format);
bool IsRenderTargetFormat(D3DFORMAT format);
bool IsDisplayFormat(D3DFORMAT format);
bool IsBackBufferFormatFor(D3DFORMAT display, D3DFORMAT backBuffer);
void FillDeviceCaps(D3DCAPS8& caps);

// Flexible vertex format: the byte offset of each element, -1 when absent.
struct FvfLayout {
    UINT size = 0;
    bool hasRHW = false;
    int normalOffset = -1;
    int diffuseOffset = -1;
    int specularOffset = -1;
    UINT texCount = 0;
    int texOffset[8] = {-1, -1, -1, -1, -1, -1, -1, -1};
    int texDimensions[8] = {};
};
bool DescribeFVF(DWORD fvf, FvfLayout& out);
// Vertices read by PrimitiveCount primitives of Type; 0 for an unknown type.
std::uint64_t VertexCountFor(D3DPRIMITIVETYPE type, UINT primitiveCount);

// Rows are padded to four bytes.
int RowPitch(UINT width, int bytesPerPixel);
UINT FullChainLevels(UINT width, UINT height);
std::uint64_t TextureBytes(UINT width, UINT height, UINT levels, int bytesPerPixel);

// Counting shared by every resource. The count AddRef/Release report keeps the device alive
// (one device reference while it is above zero); bindings (SetTexture, SetStreamSource,
// state blocks, the current render target) hold internal references, so a resource
// released while bound stays usable until it is unbound.
class ResourceCount {
public:
    ResourceCount(DeviceImpl* device, bool blocksReset, bool deviceOwned);
    virtual ~ResourceCount() = default;
    ResourceCount(const ResourceCount&) = delete;
    ResourceCount& operator=(const ResourceCount&) = delete;

    ULONG AddPublic();
    ULONG ReleasePublic();
    void AddInternal() { ++internal_; }
    void ReleaseInternal();
    bool PubliclyAlive() const { return count_ > 0; }
    DeviceImpl* Owner() const { return device_; }

protected:
    void DestroyIfUnused();
    DeviceImpl* device_;

private:
    ULONG count_ = 0;
    ULONG internal_ = 0;
    bool blocksReset_;
    bool deviceOwned_;
};

class Surface;

class Texture final : public IDirect3DTexture8, public ResourceCount {
public:
    Texture(DeviceImpl* device, UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format,
            raster::PixelFormat pixelFormat, D3DPOOL pool);
    ~Texture() override;

    HRESULT QueryInterface(REFIID riid, void** ppvObj) override;
    ULONG AddRef() override { return AddPublic(); }
    ULONG Release() override { return ReleasePublic(); }
    HRESULT GetDevice(IDirect3DDevice8** ppDevice) override;
    DWORD SetPriority(DWORD PriorityNew) override;
    DWORD GetPriority() override { return priority_; }
    void PreLoad() override {}
    D3DRESOURCETYPE GetType() override { return D3DRTYPE_TEXTURE; }
    DWORD SetLOD(DWORD LODNew) override;
    DWORD GetLOD() override { return lod_; }
    DWORD GetLevelCount() override { return static_cast<DWORD>(levels_.size()); }
    HRESULT GetLevelDesc(UINT Level, D3DSURFACE_DESC* pDesc) override;
    HRESULT GetSurfaceLevel(UINT Level, IDirect3DSurface8** ppSurfaceLevel) override;
    HRESULT LockRect(UINT Level, D3DLOCKED_RECT* pLockedRect, const RECT* pRect, DWORD Flags) override;
    HRESULT UnlockRect(UINT Level) override;
    HRESULT AddDirtyRect(const RECT* pDirtyRect) override { return D3D_OK; }

    const raster::TextureView& View() const { return view_; }
    // What the rasterizer samples: 16-bit levels as a 32-bit copy, rebuilt after a lock.
    const raster::TextureView& SampleView();
    std::uint64_t Bytes() const { return bytes_; }

private:
    struct Level {
        std::vector<std::uint8_t> bits;
        bool locked = false;
    };
    D3DFORMAT format_;
    DWORD usage_;
    D3DPOOL pool_;
    DWORD priority_ = 0;
    DWORD lod_ = 0;
    std::uint64_t bytes_ = 0;
    std::vector<Level> levels_;
    std::vector<raster::SurfaceView> views_;
    std::vector<std::unique_ptr<Surface>> surfaces_;
    raster::TextureView view_;
    raster::ExpandedTexture expanded_;
    bool expandedStale_ = true;
};

// Back buffers, render targets, image surfaces and texture levels.
class Surface final : public IDirect3DSurface8, public ResourceCount {
public:
    enum class Kind { BackBuffer, RenderTarget, Image, TextureLevel };
    Surface(DeviceImpl* device, Kind kind, UINT width, UINT height, D3DFORMAT format,
            raster::PixelFormat pixelFormat, bool lockable);
    // A level of a texture: shares the texture's count and memory.
    Surface(Texture* texture, UINT level, const raster::SurfaceView& view, D3DFORMAT format, D3DPOOL pool);
    ~Surface() override;

    HRESULT QueryInterface(REFIID riid, void** ppvObj) override;
    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT GetDevice(IDirect3DDevice8** ppDevice) override;
    HRESULT GetContainer(REFIID riid, void** ppContainer) override;
    HRESULT GetDesc(D3DSURFACE_DESC* pDesc) override;
    HRESULT LockRect(D3DLOCKED_RECT* pLockedRect, const RECT* pRect, DWORD Flags) override;
    HRESULT UnlockRect() override;

    Kind GetKind() const { return kind_; }
    bool IsRenderTarget() const { return kind_ == Kind::BackBuffer || kind_ == Kind::RenderTarget; }
    const raster::SurfaceView& View() const { return view_; }
    D3DFORMAT Format() const { return format_; }
    // Swaps the pixels of two surfaces of one size and format (flip).
    void SwapPixels(Surface& other);
    // A surface shared by a texture: counting goes to the texture.
    Texture* Container() const { return container_; }

private:
    Kind kind_;
    D3DFORMAT format_;
    D3DPOOL pool_;
    bool lockable_;
    bool locked_ = false;
    std::uint8_t* Pixels() { return shared_ ? shared_->Data() : bits_.data(); }
    std::vector<std::uint8_t> bits_;
    std::unique_ptr<platform::display::SharedPixels> shared_;  // instead of bits_ when the display gave it
    raster::SurfaceView view_;
    raster::SettledRuns settled_;
    std::vector<std::uint8_t> settledFlags_;
    Texture* container_ = nullptr;
    UINT level_ = 0;
    std::uint64_t bytes_ = 0;
};

class VertexBuffer final : public IDirect3DVertexBuffer8, public ResourceCount {
public:
    VertexBuffer(DeviceImpl* device, UINT length, DWORD usage, DWORD fvf, D3DPOOL pool);
    ~VertexBuffer() override;

    HRESULT QueryInterface(REFIID riid, void** ppvObj) override;
    ULONG AddRef() override { return AddPublic(); }
    ULONG Release() override { return ReleasePublic(); }
    HRESULT GetDevice(IDirect3DDevice8** ppDevice) override;
    DWORD SetPriority(DWORD PriorityNew) override;
    DWORD GetPriority() override { return priority_; }
    void PreLoad() override {}
    D3DRESOURCETYPE GetType() override { return D3DRTYPE_VERTEXBUFFER; }
    HRESULT Lock(UINT OffsetToLock, UINT SizeToLock, BYTE** ppbData, DWORD Flags) override;
    HRESULT Unlock() override;
    HRESULT GetDesc(D3DVERTEXBUFFER_DESC* pDesc) override;

    const std::uint8_t* Data() const { return data_.data(); }
    std::size_t Size() const { return data_.size(); }
    bool Locked() const { return lockCount_ > 0; }

private:
    std::vector<std::uint8_t> data_;
    DWORD usage_;
    DWORD fvf_;
    D3DPOOL pool_;
    DWORD priority_ = 0;
    int lockCount_ = 0;
};

class Direct3DImpl;

class DeviceImpl final : public IDirect3DDevice8 {
public:
    DeviceImpl(Direct3DImpl* d3d, HWND focusWindow, DWORD behaviorFlags);
    ~DeviceImpl();
    // Validates the parameters and builds the back buffers; the device is usable on D3D_OK.
    HRESULT Initialize(D3DPRESENT_PARAMETERS& params);

    // IUnknown
    HRESULT QueryInterface(REFIID riid, void** ppvObj) override;
    ULONG AddRef() override;
    ULONG Release() override;

    // IDirect3DDevice8
    HRESULT TestCooperativeLevel() override;
    UINT GetAvailableTextureMem() override;
    HRESULT GetDirect3D(IDirect3D8** ppD3D8) override;
    HRESULT GetDeviceCaps(D3DCAPS8* pCaps) override;
    HRESULT GetDisplayMode(D3DDISPLAYMODE* pMode) override;
    HRESULT GetCreationParameters(D3DDEVICE_CREATION_PARAMETERS* pParameters) override;
    HRESULT Reset(D3DPRESENT_PARAMETERS* pPresentationParameters) override;
    HRESULT Present(const RECT* pSourceRect, const RECT* pDestRect, HWND hDestWindowOverride,
                    const void* pDirtyRegion) override;
    HRESULT GetBackBuffer(UINT BackBuffer, D3DBACKBUFFER_TYPE Type, IDirect3DSurface8** ppBackBuffer) override;
    HRESULT CreateTexture(UINT Width, UINT Height, UINT Levels, DWORD Usage, D3DFORMAT Format, D3DPOOL Pool,
                          IDirect3DTexture8** ppTexture) override;
    HRESULT CreateVertexBuffer(UINT Length, DWORD Usage, DWORD FVF, D3DPOOL Pool,
                               IDirect3DVertexBuffer8** ppVertexBuffer) override;
    HRESULT CreateRenderTarget(UINT Width, UINT Height, D3DFORMAT Format, D3DMULTISAMPLE_TYPE MultiSample,
                               BOOL Lockable, IDirect3DSurface8** ppSurface) override;
    HRESULT CreateImageSurface(UINT Width, UINT Height, D3DFORMAT Format, IDirect3DSurface8** ppSurface) override;
    HRESULT SetRenderTarget(IDirect3DSurface8* pRenderTarget, IDirect3DSurface8* pNewZStencil) override;
    HRESULT GetRenderTarget(IDirect3DSurface8** ppRenderTarget) override;
    HRESULT GetDepthStencilSurface(IDirect3DSurface8** ppZStencilSurface) override;
    HRESULT BeginScene() override;
    HRESULT EndScene() override;
    HRESULT Clear(DWORD Count, const D3DRECT* pRects, DWORD Flags, D3DCOLOR Color, float Z, DWORD Stencil) override;
    HRESULT SetTransform(D3DTRANSFORMSTATETYPE State, const D3DMATRIX* pMatrix) override;
    HRESULT GetTransform(D3DTRANSFORMSTATETYPE State, D3DMATRIX* pMatrix) override;
    HRESULT SetViewport(const D3DVIEWPORT8* pViewport) override;
    HRESULT GetViewport(D3DVIEWPORT8* pViewport) override;
    HRESULT SetMaterial(const D3DMATERIAL8* pMaterial) override;
    HRESULT GetMaterial(D3DMATERIAL8* pMaterial) override;
    HRESULT SetLight(DWORD Index, const D3DLIGHT8* pLight) override;
    HRESULT GetLight(DWORD Index, D3DLIGHT8* pLight) override;
    HRESULT LightEnable(DWORD Index, BOOL Enable) override;
    HRESULT GetLightEnable(DWORD Index, BOOL* pEnable) override;
    HRESULT SetRenderState(D3DRENDERSTATETYPE State, DWORD Value) override;
    HRESULT GetRenderState(D3DRENDERSTATETYPE State, DWORD* pValue) override;
    HRESULT BeginStateBlock() override;
    HRESULT EndStateBlock(DWORD* pToken) override;
    HRESULT ApplyStateBlock(DWORD Token) override;
    HRESULT CaptureStateBlock(DWORD Token) override;
    HRESULT DeleteStateBlock(DWORD Token) override;
    HRESULT CreateStateBlock(D3DSTATEBLOCKTYPE Type, DWORD* pToken) override;
    HRESULT GetTexture(DWORD Stage, IDirect3DBaseTexture8** ppTexture) override;
    HRESULT SetTexture(DWORD Stage, IDirect3DBaseTexture8* pTexture) override;
    HRESULT GetTextureStageState(DWORD Stage, D3DTEXTURESTAGESTATETYPE Type, DWORD* pValue) override;
    HRESULT SetTextureStageState(DWORD Stage, D3DTEXTURESTAGESTATETYPE Type, DWORD Value) override;
    HRESULT ValidateDevice(DWORD* pNumPasses) override;
    HRESULT DrawPrimitive(D3DPRIMITIVETYPE PrimitiveType, UINT StartVertex, UINT PrimitiveCount) override;
    HRESULT DrawPrimitiveUP(D3DPRIMITIVETYPE PrimitiveType, UINT PrimitiveCount, const void* pVertexStreamZeroData,
                            UINT VertexStreamZeroStride) override;
    HRESULT SetVertexShader(DWORD Handle) override;
    HRESULT GetVertexShader(DWORD* pHandle) override;
    HRESULT SetStreamSource(UINT StreamNumber, IDirect3DVertexBuffer8* pStreamData, UINT Stride) override;
    HRESULT GetStreamSource(UINT StreamNumber, IDirect3DVertexBuffer8** ppStreamData, UINT* pStride) override;

    // Bookkeeping used by the resources and the fault interface.
    void DefaultPoolAlive(int delta) { defaultPoolAlive_ += delta; }
    enum class Condition { Operational, Lost, NotReset };
    void Lose();
    void AllowReset();
    Condition GetCondition() const { return condition_; }

    // Applying a state block goes through the same setters as the API, minus validation.
    void ApplyRenderState(DWORD state, DWORD value);
    void ApplyStageState(DWORD stage, DWORD type, DWORD value);
    void ApplyTexture(DWORD stage, Texture* texture);
    void ApplyTransform(int slot, const D3DMATRIX& m);
    void ApplyLight(DWORD index, const D3DLIGHT8& light);
    void ApplyLightEnable(DWORD index, bool enable);
    void ApplyMaterial(const D3DMATERIAL8& m);
    void ApplyViewport(const D3DVIEWPORT8& vp);
    void ApplyStream(VertexBuffer* vb, UINT stride);
    void ApplyVertexShader(DWORD handle);
    const DeviceState& State() const { return state_; }

private:
    HRESULT BuildBackBuffers(const D3DPRESENT_PARAMETERS& params);
    // Paces Present to the display's retraces where the chain asks for it.
    void WaitForRetrace();
    HRESULT CheckPresentParameters(D3DPRESENT_PARAMETERS& params, UINT& width, UINT& height) const;
    void ReleaseBackBuffers();
    void SetCurrentRenderTarget(Surface* target);
    void ResetStateToDefaults();
    void UnbindAll();
    bool Rendering() const { return condition_ == Condition::Operational; }
    HRESULT Draw(D3DPRIMITIVETYPE type, UINT startVertex, UINT count, const std::uint8_t* data,
                 std::size_t size, UINT stride);
    void ResolveDrawState();
    const float* WorldViewProjection();

    ULONG count_ = 1;
    Direct3DImpl* d3d_;
    HWND focusWindow_;
    std::uint64_t presentSequence_ = 0;  // numbers the frames Present hands on
    long long lastRetrace_ = 0;          // the retrace the last paced Present waited for
    DWORD behaviorFlags_;
    D3DPRESENT_PARAMETERS params_{};
    UINT backWidth_ = 0, backHeight_ = 0;
    std::vector<Surface*> backBuffers_;  // device-owned
    std::unique_ptr<Surface> frontBuffer_;
    Surface* renderTarget_ = nullptr;  // internal reference
    Condition condition_ = Condition::Operational;
    bool resetAllowed_ = true;
    int defaultPoolAlive_ = 0;
    bool inScene_ = false;

    DeviceState state_;
    StateBlockStore blocks_;

    // Derived per draw from state_; refreshed when the matching part of state_ changed.
    raster::DrawState drawState_;
    raster::VertexLayout layout_;
    bool drawStateDirty_ = true;
    bool layoutDirty_ = true;
    bool wvpDirty_ = true;
    bool layoutValid_ = false;
    UINT fvfSize_ = 0;
    float wvp_[16] = {};
};

class Direct3DImpl final : public IDirect3D8 {
public:
    Direct3DImpl();
    HRESULT QueryInterface(REFIID riid, void** ppvObj) override;
    ULONG AddRef() override;
    ULONG Release() override;
    UINT GetAdapterCount() override { return 1; }
    HRESULT GetAdapterIdentifier(UINT Adapter, DWORD Flags, D3DADAPTER_IDENTIFIER8* pIdentifier) override;
    UINT GetAdapterModeCount(UINT Adapter) override;
    HRESULT EnumAdapterModes(UINT Adapter, UINT Mode, D3DDISPLAYMODE* pMode) override;
    HRESULT GetAdapterDisplayMode(UINT Adapter, D3DDISPLAYMODE* pMode) override;
    HRESULT CheckDeviceType(UINT Adapter, D3DDEVTYPE CheckType, D3DFORMAT DisplayFormat, D3DFORMAT BackBufferFormat,
                            BOOL Windowed) override;
    HRESULT CheckDeviceFormat(UINT Adapter, D3DDEVTYPE DeviceType, D3DFORMAT AdapterFormat, DWORD Usage,
                              D3DRESOURCETYPE RType, D3DFORMAT CheckFormat) override;
    HRESULT CheckDeviceMultiSampleType(UINT Adapter, D3DDEVTYPE DeviceType, D3DFORMAT SurfaceFormat, BOOL Windowed,
                                       D3DMULTISAMPLE_TYPE MultiSampleType) override;
    HRESULT CheckDepthStencilMatch(UINT Adapter, D3DDEVTYPE DeviceType, D3DFORMAT AdapterFormat,
                                   D3DFORMAT RenderTargetFormat, D3DFORMAT DepthStencilFormat) override;
    HRESULT GetDeviceCaps(UINT Adapter, D3DDEVTYPE DeviceType, D3DCAPS8* pCaps) override;
    HRESULT CreateDevice(UINT Adapter, D3DDEVTYPE DeviceType, HWND hFocusWindow, DWORD BehaviorFlags,
                         D3DPRESENT_PARAMETERS* pPresentationParameters,
                         IDirect3DDevice8** ppReturnedDeviceInterface) override;

    const std::vector<D3DDISPLAYMODE>& Modes() const { return modes_; }
    const D3DDISPLAYMODE& DesktopMode() const { return desktop_; }
    bool CanRenderWindowed() const;
    bool HasMode(UINT width, UINT height, D3DFORMAT format, UINT refresh) const;

private:
    ~Direct3DImpl() = default;
    ULONG count_ = 1;
    std::vector<D3DDISPLAYMODE> modes_;
    D3DDISPLAYMODE desktop_{};
};

}  // namespace d3d8
