// IDirect3DDevice8: life cycle, swap chain, loss and reset, scenes, clears and resource creation.
#include "platform/d3d8/faults.h"
#include "platform/win/clock.h"
#include "platform/win/com.h"
#include "platform/d3d8/objects.h"
#include "platform/win/presenter.h"

#include <algorithm>
#include <cmath>

namespace d3d8 {

namespace {

bool IsPowerOfTwo(UINT v) { return v != 0 && (v & (v - 1)) == 0; }

D3DFORMAT DisplayFormatOf(D3DFORMAT backBuffer)
{
    return backBuffer == D3DFMT_A8R8G8B8 ? D3DFMT_X8R8G8B8 : backBuffer;
}

bool ValidPool(D3DPOOL pool) { return pool == D3DPOOL_DEFAULT || pool == D3DPOOL_MANAGED || pool == D3DPOOL_SYSTEMMEM; }

raster::Rect ViewportRect(const D3DVIEWPORT8& vp)
{
    return {static_cast<int>(vp.X), static_cast<int>(vp.Y), static_cast<int>(vp.X + vp.Width),
            static_cast<int>(vp.Y + vp.Height)};
}

}  // namespace

DeviceImpl::DeviceImpl(Direct3DImpl* d3d, HWND focusWindow, DWORD behaviorFlags)
    : d3d_(d3d), focusWindow_(focusWindow), behaviorFlags_(behaviorFlags)
{
    d3d_->AddRef();
    SetDefaultStates(state_, false, kMaxPointSize);
}

DeviceImpl::~DeviceImpl()
{
    blocks_.Clear();
    UnbindAll();
    ReleaseBackBuffers();
    d3d_->Release();
}

HRESULT DeviceImpl::Initialize(D3DPRESENT_PARAMETERS& params)
{
    UINT width = 0, height = 0;
    D3DPRESENT_PARAMETERS checked = params;
    HRESULT hr = CheckPresentParameters(checked, width, height);
    if (FAILED(hr))
        return hr;
    params.BackBufferCount = checked.BackBufferCount;
    params_ = checked;
    backWidth_ = width;
    backHeight_ = height;
    hr = BuildBackBuffers(params_);
    if (FAILED(hr))
        return hr;
    ResetStateToDefaults();
    return D3D_OK;
}

HRESULT DeviceImpl::CheckPresentParameters(D3DPRESENT_PARAMETERS& p, UINT& width, UINT& height) const
{
    if (p.BackBufferCount == 0)
        p.BackBufferCount = 1;
    if (p.BackBufferCount > 3 || p.SwapEffect < D3DSWAPEFFECT_DISCARD || p.SwapEffect > D3DSWAPEFFECT_COPY_VSYNC)
        return D3DERR_INVALIDCALL;
    const bool copy = p.SwapEffect == D3DSWAPEFFECT_COPY || p.SwapEffect == D3DSWAPEFFECT_COPY_VSYNC;
    if (copy && p.BackBufferCount != 1)
        return D3DERR_INVALIDCALL;
    if (p.MultiSampleType != D3DMULTISAMPLE_NONE || (p.Flags & ~D3DPRESENTFLAG_LOCKABLE_BACKBUFFER))
        return D3DERR_INVALIDCALL;
    if (p.EnableAutoDepthStencil)
        return D3DERR_INVALIDCALL;  // no depth-stencil format is available
    const HWND window = p.hDeviceWindow ? p.hDeviceWindow : focusWindow_;
    if (!window)
        return D3DERR_INVALIDCALL;

    width = p.BackBufferWidth;
    height = p.BackBufferHeight;
    if (p.Windowed) {
        if (!d3d_->CanRenderWindowed())
            return D3DERR_NOTAVAILABLE;
        if (p.FullScreen_RefreshRateInHz != 0 || p.FullScreen_PresentationInterval != D3DPRESENT_INTERVAL_DEFAULT)
            return D3DERR_INVALIDCALL;
        if (!IsBackBufferFormatFor(d3d_->DesktopMode().Format, p.BackBufferFormat))
            return D3DERR_INVALIDCALL;
        if (width == 0 || height == 0) {
            int cw = 0, ch = 0;
            if (!platform::GetWindowClientSize(window, cw, ch))
                return D3DERR_INVALIDCALL;
            if (width == 0)
                width = static_cast<UINT>(std::max(1, cw));
            if (height == 0)
                height = static_cast<UINT>(std::max(1, ch));
        }
    } else {
        const DWORD interval = p.FullScreen_PresentationInterval;
        if (interval != D3DPRESENT_INTERVAL_DEFAULT && interval != D3DPRESENT_INTERVAL_ONE &&
            interval != D3DPRESENT_INTERVAL_IMMEDIATE)
            return D3DERR_INVALIDCALL;
        const D3DFORMAT display = DisplayFormatOf(p.BackBufferFormat);
        if (!IsBackBufferFormatFor(display, p.BackBufferFormat) ||
            !d3d_->HasMode(width, height, display, p.FullScreen_RefreshRateInHz))
            return D3DERR_INVALIDCALL;
    }
    if (width > kMaxSurfaceSize || height > kMaxSurfaceSize)
        return D3DERR_INVALIDCALL;
    return D3D_OK;
}

HRESULT DeviceImpl::BuildBackBuffers(const D3DPRESENT_PARAMETERS& p)
{
    raster::PixelFormat pf;
    ToPixelFormat(p.BackBufferFormat, pf);
    const bool flip = p.SwapEffect == D3DSWAPEFFECT_FLIP;
    const UINT surfaces = p.BackBufferCount + (flip ? 1 : 0);
    const std::uint64_t bytes =
        static_cast<std::uint64_t>(RowPitch(backWidth_, raster::BytesPerPixel(pf))) * backHeight_ * surfaces;
    if (!ReserveVideoMemory(bytes))
        return D3DERR_OUTOFVIDEOMEMORY;
    const bool lockable = (p.Flags & D3DPRESENTFLAG_LOCKABLE_BACKBUFFER) != 0;
    for (UINT i = 0; i < p.BackBufferCount; ++i)
        backBuffers_.push_back(
            new Surface(this, Surface::Kind::BackBuffer, backWidth_, backHeight_, p.BackBufferFormat, pf, lockable));
    if (flip)
        frontBuffer_ = std::make_unique<Surface>(this, Surface::Kind::BackBuffer, backWidth_, backHeight_,
                                                 p.BackBufferFormat, pf, false);
    SetCurrentRenderTarget(backBuffers_[0]);
    return D3D_OK;
}

void DeviceImpl::ReleaseBackBuffers()
{
    SetCurrentRenderTarget(nullptr);
    for (Surface* s : backBuffers_)
        delete s;
    backBuffers_.clear();
    frontBuffer_.reset();
}

void DeviceImpl::SetCurrentRenderTarget(Surface* target)
{
    if (target)
        target->AddInternal();
    Surface* old = renderTarget_;
    renderTarget_ = target;
    if (old)
        old->ReleaseInternal();
    if (target) {
        state_.viewport = {0, 0, static_cast<DWORD>(target->View().width), static_cast<DWORD>(target->View().height),
                           0.0f, 1.0f};
        drawStateDirty_ = true;
    }
}

void DeviceImpl::UnbindAll()
{
    for (Texture*& t : state_.textures) {
        Texture* old = t;
        t = nullptr;
        if (old)
            old->ReleaseInternal();
    }
    VertexBuffer* vb = state_.stream0;
    state_.stream0 = nullptr;
    if (vb)
        vb->ReleaseInternal();
}

void DeviceImpl::ResetStateToDefaults()
{
    UnbindAll();
    SetDefaultStates(state_, params_.EnableAutoDepthStencil != 0, kMaxPointSize);
    if (renderTarget_)
        state_.viewport = {0, 0, static_cast<DWORD>(renderTarget_->View().width),
                           static_cast<DWORD>(renderTarget_->View().height), 0.0f, 1.0f};
    drawStateDirty_ = layoutDirty_ = wvpDirty_ = true;
}

// ---------------------------------------------------------------- IUnknown

HRESULT DeviceImpl::QueryInterface(REFIID riid, void** ppvObj)
{
    return platform::QuerySingleInterface<IDirect3DDevice8>(this, IID_IDirect3DDevice8, riid, ppvObj);
}

ULONG DeviceImpl::AddRef() { return ++count_; }

ULONG DeviceImpl::Release()
{
    bool last = false;
    ULONG now = platform::DropReference(count_, last);
    if (last)
        delete this;
    return now;
}

// ---------------------------------------------------------------- queries

HRESULT DeviceImpl::TestCooperativeLevel()
{
    switch (condition_) {
    case Condition::Lost: return D3DERR_DEVICELOST;
    case Condition::NotReset: return D3DERR_DEVICENOTRESET;
    default: return D3D_OK;
    }
}

UINT DeviceImpl::GetAvailableTextureMem()
{
    const std::uint64_t mb = 1024 * 1024;
    const std::uint64_t free = VideoMemoryBytes() - VideoMemoryInUse();
    return static_cast<UINT>(std::min<std::uint64_t>((free + mb / 2) / mb * mb, 0xFFFFFFFFu));
}

HRESULT DeviceImpl::GetDirect3D(IDirect3D8** ppD3D8)
{
    if (!ppD3D8)
        return D3DERR_INVALIDCALL;
    d3d_->AddRef();
    *ppD3D8 = d3d_;
    return D3D_OK;
}

HRESULT DeviceImpl::GetDeviceCaps(D3DCAPS8* pCaps)
{
    if (!pCaps)
        return D3DERR_INVALIDCALL;
    FillDeviceCaps(*pCaps);
    return D3D_OK;
}

HRESULT DeviceImpl::GetDisplayMode(D3DDISPLAYMODE* pMode)
{
    if (!pMode)
        return D3DERR_INVALIDCALL;
    if (params_.Windowed) {
        *pMode = d3d_->DesktopMode();
    } else {
        pMode->Width = backWidth_;
        pMode->Height = backHeight_;
        pMode->RefreshRate = params_.FullScreen_RefreshRateInHz;
        pMode->Format = DisplayFormatOf(params_.BackBufferFormat);
    }
    return D3D_OK;
}

HRESULT DeviceImpl::GetCreationParameters(D3DDEVICE_CREATION_PARAMETERS* pParameters)
{
    if (!pParameters)
        return D3DERR_INVALIDCALL;
    pParameters->AdapterOrdinal = 0;
    pParameters->DeviceType = D3DDEVTYPE_HAL;
    pParameters->hFocusWindow = focusWindow_;
    pParameters->BehaviorFlags = behaviorFlags_;
    return D3D_OK;
}

// ---------------------------------------------------------------- loss and reset

void DeviceImpl::Lose()
{
    condition_ = Condition::Lost;
    resetAllowed_ = false;
}

void DeviceImpl::AllowReset()
{
    resetAllowed_ = true;
    if (condition_ == Condition::Lost)
        condition_ = Condition::NotReset;
}

HRESULT DeviceImpl::Reset(D3DPRESENT_PARAMETERS* pPresentationParameters)
{
    if (!pPresentationParameters || blocks_.Recording())
        return D3DERR_INVALIDCALL;
    if (condition_ == Condition::Lost && !resetAllowed_)
        return D3DERR_DEVICELOST;
    // A failed reset leaves the device waiting for another one; nothing else will restore it here.
    const HRESULT injected = faults::TakeResetFailure();
    if (FAILED(injected)) {
        condition_ = Condition::NotReset;
        return injected;
    }
    if (defaultPoolAlive_ > 0) {
        condition_ = Condition::NotReset;
        return D3DERR_DEVICELOST;
    }
    D3DPRESENT_PARAMETERS checked = *pPresentationParameters;
    UINT width = 0, height = 0;
    HRESULT hr = CheckPresentParameters(checked, width, height);
    if (FAILED(hr)) {
        condition_ = Condition::NotReset;
        return hr;
    }
    pPresentationParameters->BackBufferCount = checked.BackBufferCount;

    UnbindAll();
    ReleaseBackBuffers();
    params_ = checked;
    backWidth_ = width;
    backHeight_ = height;
    hr = BuildBackBuffers(params_);
    if (FAILED(hr)) {
        condition_ = Condition::NotReset;
        return hr;
    }
    ResetStateToDefaults();
    inScene_ = false;
    condition_ = Condition::Operational;
    return D3D_OK;
}

// ---------------------------------------------------------------- swap chain

HRESULT DeviceImpl::Present(const RECT* pSourceRect, const RECT* pDestRect, HWND hDestWindowOverride,
                            const void* pDirtyRegion)
{
    if (!Rendering())
        return D3DERR_DEVICELOST;
    const bool copy = params_.SwapEffect == D3DSWAPEFFECT_COPY || params_.SwapEffect == D3DSWAPEFFECT_COPY_VSYNC;
    if ((pSourceRect || pDestRect || pDirtyRegion) && !copy)
        return D3DERR_INVALIDCALL;
    if (backBuffers_.empty())
        return D3DERR_INVALIDCALL;

    const raster::SurfaceView& view = backBuffers_[0]->View();
    RECT source = {0, 0, view.width, view.height};
    if (pSourceRect) {
        source.left = std::max<LONG>(pSourceRect->left, 0);
        source.top = std::max<LONG>(pSourceRect->top, 0);
        source.right = std::min<LONG>(pSourceRect->right, view.width);
        source.bottom = std::min<LONG>(pSourceRect->bottom, view.height);
        if (source.left >= source.right || source.top >= source.bottom)
            return D3DERR_INVALIDCALL;
    }
    platform::PresentFrame frame{};
    frame.pixels = view.bits + static_cast<std::ptrdiff_t>(source.top) * view.pitch +
                   static_cast<std::ptrdiff_t>(source.left) * raster::BytesPerPixel(view.format);
    frame.width = source.right - source.left;
    frame.height = source.bottom - source.top;
    frame.pitchBytes = view.pitch;
    frame.format = backBuffers_[0]->Format();

    HWND window = hDestWindowOverride ? hDestWindowOverride : params_.hDeviceWindow;
    if (!window)
        window = focusWindow_;
    // Under the copy effect the back buffer keeps its pixels: what did not change since the
    // last present need not be copied again.
    raster::SettledRuns* runs = backBuffers_[0]->View().settled;
    platform::display::UnchangedRuns unchanged{};
    if (runs && copy && !pSourceRect) {
        unchanged = {runs->flags, raster::SettledRuns::kPixels, runs->perRow, raster::SettledRuns::kShown,
                     backBuffers_[0], ++presentSequence_};
        frame.unchanged = &unchanged;
    }
    WaitForRetrace();
    const bool shown = platform::PresentToWindow(window, frame);
    if (frame.unchanged)
        raster::MarkRunsShown(*runs);

    if (params_.SwapEffect == D3DSWAPEFFECT_FLIP && frontBuffer_) {
        frontBuffer_->SwapPixels(*backBuffers_[0]);
        for (std::size_t i = 1; i < backBuffers_.size(); ++i)
            backBuffers_[i - 1]->SwapPixels(*backBuffers_[i]);
    }
    return shown ? D3D_OK : D3DERR_INVALIDCALL;
}

// A full-screen chain shows at most one frame a refresh unless its interval is IMMEDIATE,
// and a windowed one under COPY_VSYNC copies in the retrace: Present waits for it.
void DeviceImpl::WaitForRetrace()
{
    const bool fullScreen = !params_.Windowed && params_.FullScreen_PresentationInterval != D3DPRESENT_INTERVAL_IMMEDIATE;
    if (!fullScreen && params_.SwapEffect != D3DSWAPEFFECT_COPY_VSYNC)
        return;
    const UINT hz = params_.Windowed || params_.FullScreen_RefreshRateInHz == 0 ? d3d_->DesktopMode().RefreshRate
                                                                              : params_.FullScreen_RefreshRateInHz;
    platform::WaitForRetrace(static_cast<int>(hz), 1, lastRetrace_);
}

HRESULT DeviceImpl::GetBackBuffer(UINT BackBuffer, D3DBACKBUFFER_TYPE Type, IDirect3DSurface8** ppBackBuffer)
{
    if (!ppBackBuffer)
        return D3DERR_INVALIDCALL;
    *ppBackBuffer = nullptr;
    if (BackBuffer >= backBuffers_.size() || Type != D3DBACKBUFFER_TYPE_MONO)
        return D3DERR_INVALIDCALL;
    backBuffers_[BackBuffer]->AddRef();
    *ppBackBuffer = backBuffers_[BackBuffer];
    return D3D_OK;
}

HRESULT DeviceImpl::SetRenderTarget(IDirect3DSurface8* pRenderTarget, IDirect3DSurface8* pNewZStencil)
{
    if (pNewZStencil)
        return D3DERR_INVALIDCALL;  // this device never hands out a depth-stencil surface
    if (!pRenderTarget)
        return D3D_OK;
    Surface* target = static_cast<Surface*>(pRenderTarget);
    if (target->Owner() != this || !target->IsRenderTarget())
        return D3DERR_INVALIDCALL;
    SetCurrentRenderTarget(target);  // also when it is the current one: the viewport resets
    return D3D_OK;
}

HRESULT DeviceImpl::GetRenderTarget(IDirect3DSurface8** ppRenderTarget)
{
    if (!ppRenderTarget)
        return D3DERR_INVALIDCALL;
    *ppRenderTarget = renderTarget_;
    if (!renderTarget_)
        return D3DERR_NOTFOUND;
    renderTarget_->AddRef();
    return D3D_OK;
}

HRESULT DeviceImpl::GetDepthStencilSurface(IDirect3DSurface8** ppZStencilSurface)
{
    if (!ppZStencilSurface)
        return D3DERR_INVALIDCALL;
    *ppZStencilSurface = nullptr;
    return D3DERR_NOTFOUND;
}

// ---------------------------------------------------------------- scenes and clears

HRESULT DeviceImpl::BeginScene()
{
    if (inScene_)
        return D3DERR_INVALIDCALL;
    inScene_ = true;
    return D3D_OK;
}

HRESULT DeviceImpl::EndScene()
{
    if (!inScene_)
        return D3DERR_INVALIDCALL;
    inScene_ = false;
    return D3D_OK;
}

HRESULT DeviceImpl::Clear(DWORD Count, const D3DRECT* pRects, DWORD Flags, D3DCOLOR Color, float Z, DWORD Stencil)
{
    if (Flags & ~(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL))
        return D3DERR_INVALIDCALL;
    if (Flags & (D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL))
        return D3DERR_INVALIDCALL;  // no depth-stencil surface
    if (!Rendering() || !renderTarget_ || !(Flags & D3DCLEAR_TARGET))
        return D3D_OK;
    const raster::SurfaceView& target = renderTarget_->View();
    const raster::Rect vp = ViewportRect(state_.viewport);
    if (!pRects) {
        raster::Clear(target, vp, Color);
        return D3D_OK;
    }
    for (DWORD i = 0; i < Count; ++i) {
        const D3DRECT& r = pRects[i];
        if (r.x1 > r.x2 || r.y1 > r.y2)
            continue;
        raster::Rect clipped{std::max<int>(r.x1, vp.left), std::max<int>(r.y1, vp.top),
                             std::min<int>(r.x2, vp.right), std::min<int>(r.y2, vp.bottom)};
        if (clipped.left < clipped.right && clipped.top < clipped.bottom)
            raster::Clear(target, clipped, Color);
    }
    return D3D_OK;
}

// ---------------------------------------------------------------- resource creation

HRESULT DeviceImpl::CreateTexture(UINT Width, UINT Height, UINT Levels, DWORD Usage, D3DFORMAT Format, D3DPOOL Pool,
                                  IDirect3DTexture8** ppTexture)
{
    if (!ppTexture)
        return D3DERR_INVALIDCALL;
    *ppTexture = nullptr;
    const HRESULT injected = faults::TakeCreateTextureFailure();
    if (FAILED(injected))
        return injected;
    if (Width == 0 || Height == 0 || Width > kMaxTextureSize || Height > kMaxTextureSize ||
        !IsPowerOfTwo(Width) || !IsPowerOfTwo(Height))
        return D3DERR_INVALIDCALL;
    if ((Usage & ~D3DUSAGE_DYNAMIC) || !ValidPool(Pool))
        return D3DERR_INVALIDCALL;
    raster::PixelFormat pf;
    if (!ToPixelFormat(Format, pf))
        return D3DERR_INVALIDCALL;
    const UINT full = FullChainLevels(Width, Height);
    if (Levels == 0)
        Levels = full;
    if (Levels > full)
        return D3DERR_INVALIDCALL;
    if (!ReserveVideoMemory(TextureBytes(Width, Height, Levels, raster::BytesPerPixel(pf))))
        return D3DERR_OUTOFVIDEOMEMORY;
    *ppTexture = new Texture(this, Width, Height, Levels, Usage, Format, pf, Pool);
    return D3D_OK;
}

HRESULT DeviceImpl::CreateVertexBuffer(UINT Length, DWORD Usage, DWORD FVF, D3DPOOL Pool,
                                       IDirect3DVertexBuffer8** ppVertexBuffer)
{
    if (!ppVertexBuffer)
        return D3DERR_INVALIDCALL;
    *ppVertexBuffer = nullptr;
    const HRESULT injected = faults::TakeCreateVertexBufferFailure();
    if (FAILED(injected))
        return injected;
    const DWORD knownUsage =
        D3DUSAGE_WRITEONLY | D3DUSAGE_DYNAMIC | D3DUSAGE_SOFTWAREPROCESSING | D3DUSAGE_DONOTCLIP | D3DUSAGE_POINTS;
    if (Length == 0 || (Usage & ~knownUsage) || !ValidPool(Pool))
        return D3DERR_INVALIDCALL;
    if (FVF != 0) {
        FvfLayout layout;
        if (!DescribeFVF(FVF, layout) || Length < layout.size)
            return D3DERR_INVALIDCALL;
    }
    if (!ReserveVideoMemory(Length))
        return D3DERR_OUTOFVIDEOMEMORY;
    *ppVertexBuffer = new VertexBuffer(this, Length, Usage, FVF, Pool);
    return D3D_OK;
}

HRESULT DeviceImpl::CreateRenderTarget(UINT Width, UINT Height, D3DFORMAT Format, D3DMULTISAMPLE_TYPE MultiSample,
                                       BOOL Lockable, IDirect3DSurface8** ppSurface)
{
    if (!ppSurface)
        return D3DERR_INVALIDCALL;
    *ppSurface = nullptr;
    raster::PixelFormat pf;
    if (Width == 0 || Height == 0 || Width > kMaxSurfaceSize || Height > kMaxSurfaceSize ||
        !IsRenderTargetFormat(Format) || !ToPixelFormat(Format, pf) || MultiSample != D3DMULTISAMPLE_NONE)
        return D3DERR_INVALIDCALL;
    if (!ReserveVideoMemory(static_cast<std::uint64_t>(RowPitch(Width, raster::BytesPerPixel(pf))) * Height))
        return D3DERR_OUTOFVIDEOMEMORY;
    *ppSurface = new Surface(this, Surface::Kind::RenderTarget, Width, Height, Format, pf, Lockable != 0);
    return D3D_OK;
}

HRESULT DeviceImpl::CreateImageSurface(UINT Width, UINT Height, D3DFORMAT Format, IDirect3DSurface8** ppSurface)
{
    if (!ppSurface)
        return D3DERR_INVALIDCALL;
    *ppSurface = nullptr;
    raster::PixelFormat pf;
    if (Width == 0 || Height == 0 || Width > kMaxSurfaceSize || Height > kMaxSurfaceSize ||
        !ToPixelFormat(Format, pf))
        return D3DERR_INVALIDCALL;
    if (!ReserveVideoMemory(static_cast<std::uint64_t>(RowPitch(Width, raster::BytesPerPixel(pf))) * Height))
        return D3DERR_OUTOFVIDEOMEMORY;
    *ppSurface = new Surface(this, Surface::Kind::Image, Width, Height, Format, pf, true);
    return D3D_OK;
}

}  // namespace d3d8
