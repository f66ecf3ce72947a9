// Textures, surfaces and vertex buffers: memory, locking and reference counts.
#include "platform/d3d8/objects.h"
#include "platform/win/presenter.h"

#include <algorithm>
#include <utility>

namespace d3d8 {

int RowPitch(UINT width, int bytesPerPixel) { return static_cast<int>((width * bytesPerPixel + 3u) & ~3u); }

UINT FullChainLevels(UINT width, UINT height)
{
    UINT levels = 1;
    for (UINT size = std::max(width, height); size > 1; size >>= 1)
        ++levels;
    return levels;
}

std::uint64_t TextureBytes(UINT width, UINT height, UINT levels, int bytesPerPixel)
{
    std::uint64_t total = 0;
    for (UINT i = 0; i < levels; ++i) {
        total += static_cast<std::uint64_t>(RowPitch(width, bytesPerPixel)) * height;
        width = std::max(1u, width / 2);
        height = std::max(1u, height / 2);
    }
    return total;
}

namespace {

bool RectInside(const RECT& r, int width, int height)
{
    return r.left >= 0 && r.top >= 0 && r.left < r.right && r.top < r.bottom && r.right <= width &&
           r.bottom <= height;
}

void FillLockedRect(const raster::SurfaceView& view, const RECT* rect, D3DLOCKED_RECT& out)
{
    out.Pitch = view.pitch;
    std::uint8_t* bits = view.bits;
    if (rect)
        bits += static_cast<std::ptrdiff_t>(rect->top) * view.pitch +
                static_cast<std::ptrdiff_t>(rect->left) * raster::BytesPerPixel(view.format);
    out.pBits = bits;
}

}  // namespace

// ---------------------------------------------------------------- counting

ResourceCount::ResourceCount(DeviceImpl* device, bool blocksReset, bool deviceOwned)
    : device_(device), blocksReset_(blocksReset), deviceOwned_(deviceOwned)
{
    if (!deviceOwned_) {
        count_ = 1;
        device_->AddRef();
        if (blocksReset_)
            device_->DefaultPoolAlive(1);
    }
}

ULONG ResourceCount::AddPublic()
{
    if (count_++ == 0) {
        device_->AddRef();
        if (blocksReset_)
            device_->DefaultPoolAlive(1);
    }
    return count_;
}

ULONG ResourceCount::ReleasePublic()
{
    if (count_ == 0)
        return 0;
    ULONG now = --count_;
    if (now == 0) {
        DeviceImpl* device = device_;
        if (blocksReset_)
            device->DefaultPoolAlive(-1);
        DestroyIfUnused();  // may delete this
        device->Release();
    }
    return now;
}

void ResourceCount::ReleaseInternal()
{
    if (internal_ > 0)
        --internal_;
    DestroyIfUnused();
}

void ResourceCount::DestroyIfUnused()
{
    if (count_ == 0 && internal_ == 0 && !deviceOwned_)
        delete this;
}

// ---------------------------------------------------------------- textures

Texture::Texture(DeviceImpl* device, UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format,
                 raster::PixelFormat pixelFormat, D3DPOOL pool)
    : ResourceCount(device, pool == D3DPOOL_DEFAULT, false), format_(format), usage_(usage), pool_(pool)
{
    const int bpp = raster::BytesPerPixel(pixelFormat);
    bytes_ = TextureBytes(width, height, levels, bpp);
    levels_.resize(levels);
    views_.resize(levels);
    for (UINT i = 0; i < levels; ++i) {
        raster::SurfaceView& v = views_[i];
        v.width = static_cast<int>(width);
        v.height = static_cast<int>(height);
        v.pitch = RowPitch(width, bpp);
        v.format = pixelFormat;
        levels_[i].bits.assign(static_cast<std::size_t>(v.pitch) * height, 0);
        v.bits = levels_[i].bits.data();
        width = std::max(1u, width / 2);
        height = std::max(1u, height / 2);
    }
    surfaces_.resize(levels);
    view_.levels = views_.data();
    view_.levelCount = static_cast<int>(levels);
    view_.format = pixelFormat;
    view_.version = raster::NewTextureVersion();
}

Texture::~Texture() { ReturnVideoMemory(bytes_); }

HRESULT Texture::QueryInterface(REFIID riid, void** ppvObj)
{
    if (!ppvObj)
        return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDirect3DResource8 || riid == IID_IDirect3DBaseTexture8 ||
        riid == IID_IDirect3DTexture8) {
        *ppvObj = static_cast<IDirect3DTexture8*>(this);
        AddRef();
        return S_OK;
    }
    *ppvObj = nullptr;
    return E_NOINTERFACE;
}

HRESULT Texture::GetDevice(IDirect3DDevice8** ppDevice)
{
    if (!ppDevice)
        return D3DERR_INVALIDCALL;
    device_->AddRef();
    *ppDevice = device_;
    return D3D_OK;
}

DWORD Texture::SetPriority(DWORD PriorityNew)
{
    DWORD old = priority_;
    if (pool_ == D3DPOOL_MANAGED)
        priority_ = PriorityNew;
    return old;
}

DWORD Texture::SetLOD(DWORD LODNew)
{
    DWORD old = lod_;
    if (pool_ == D3DPOOL_MANAGED)
        lod_ = std::min<DWORD>(LODNew, GetLevelCount() - 1);
    return old;
}

HRESULT Texture::GetLevelDesc(UINT Level, D3DSURFACE_DESC* pDesc)
{
    if (!pDesc || Level >= levels_.size())
        return D3DERR_INVALIDCALL;
    const raster::SurfaceView& v = views_[Level];
    *pDesc = D3DSURFACE_DESC{};
    pDesc->Format = format_;
    pDesc->Type = D3DRTYPE_SURFACE;
    pDesc->Usage = usage_;
    pDesc->Pool = pool_;
    pDesc->Size = static_cast<UINT>(v.pitch * v.height);
    pDesc->MultiSampleType = D3DMULTISAMPLE_NONE;
    pDesc->Width = static_cast<UINT>(v.width);
    pDesc->Height = static_cast<UINT>(v.height);
    return D3D_OK;
}

HRESULT Texture::GetSurfaceLevel(UINT Level, IDirect3DSurface8** ppSurfaceLevel)
{
    if (!ppSurfaceLevel || Level >= levels_.size())
        return D3DERR_INVALIDCALL;
    if (!surfaces_[Level])
        surfaces_[Level] = std::make_unique<Surface>(this, Level, views_[Level], format_, pool_);
    AddRef();
    *ppSurfaceLevel = surfaces_[Level].get();
    return D3D_OK;
}

HRESULT Texture::LockRect(UINT Level, D3DLOCKED_RECT* pLockedRect, const RECT* pRect, DWORD Flags)
{
    if (!pLockedRect || Level >= levels_.size() || levels_[Level].locked)
        return D3DERR_INVALIDCALL;
    const bool dynamic = (usage_ & D3DUSAGE_DYNAMIC) != 0;
    if ((pool_ == D3DPOOL_DEFAULT && !dynamic) || ((Flags & D3DLOCK_DISCARD) && !dynamic))
        return D3DERR_INVALIDCALL;
    const raster::SurfaceView& v = views_[Level];
    if (pRect && !RectInside(*pRect, v.width, v.height))
        return D3DERR_INVALIDCALL;
    levels_[Level].locked = true;
    expandedStale_ = true;
    view_.version = 0;  // the caller may write the texels until every level is unlocked
    FillLockedRect(v, pRect, *pLockedRect);
    return D3D_OK;
}

const raster::TextureView& Texture::SampleView()
{
    if (!raster::IsSixteenBit(view_.format))
        return view_;
    if (expandedStale_) {
        expanded_.Refresh(view_);
        // A level still locked may be written after this draw.
        expandedStale_ = std::any_of(levels_.begin(), levels_.end(), [](const Level& l) { return l.locked; });
    }
    return expanded_.View();
}

HRESULT Texture::UnlockRect(UINT Level)
{
    if (Level >= levels_.size() || !levels_[Level].locked)
        return D3DERR_INVALIDCALL;
    levels_[Level].locked = false;
    if (std::none_of(levels_.begin(), levels_.end(), [](const auto& l) { return l.locked; }))
        view_.version = raster::NewTextureVersion();
    return D3D_OK;
}

// ---------------------------------------------------------------- surfaces

Surface::Surface(DeviceImpl* device, Kind kind, UINT width, UINT height, D3DFORMAT format,
                 raster::PixelFormat pixelFormat, bool lockable)
    : ResourceCount(device, kind != Kind::Image, kind == Kind::BackBuffer), kind_(kind), format_(format),
      pool_(kind == Kind::Image ? D3DPOOL_SYSTEMMEM : D3DPOOL_DEFAULT), lockable_(lockable)
{
    view_.width = static_cast<int>(width);
    view_.height = static_cast<int>(height);
    view_.format = pixelFormat;
    view_.pitch = RowPitch(width, raster::BytesPerPixel(pixelFormat));
    bytes_ = static_cast<std::uint64_t>(view_.pitch) * height;
    // What is presented lives where the display reads it, sparing a copy of every frame.
    if (kind == Kind::BackBuffer && raster::BytesPerPixel(pixelFormat) == 4)
        shared_ = platform::AllocateFramePixels(static_cast<std::size_t>(bytes_));
    if (!shared_)
        bits_.assign(bytes_, 0);
    view_.bits = Pixels();
    if (IsRenderTarget() && raster::BytesPerPixel(pixelFormat) == 4) {
        settled_.perRow = (view_.width + raster::SettledRuns::kPixels - 1) / raster::SettledRuns::kPixels;
        settled_.rows = view_.height;
        settledFlags_.assign(static_cast<std::size_t>(settled_.perRow) * static_cast<std::size_t>(settled_.rows), 0);
        settled_.flags = settledFlags_.data();
        view_.settled = &settled_;
    }
}

Surface::Surface(Texture* texture, UINT level, const raster::SurfaceView& view, D3DFORMAT format, D3DPOOL pool)
    : ResourceCount(texture->Owner(), false, true), kind_(Kind::TextureLevel), format_(format), pool_(pool),
      lockable_(true), view_(view), container_(texture), level_(level)
{
}

Surface::~Surface() { ReturnVideoMemory(bytes_); }

HRESULT Surface::QueryInterface(REFIID riid, void** ppvObj)
{
    if (!ppvObj)
        return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDirect3DSurface8) {
        *ppvObj = static_cast<IDirect3DSurface8*>(this);
        AddRef();
        return S_OK;
    }
    *ppvObj = nullptr;
    return E_NOINTERFACE;
}

ULONG Surface::AddRef() { return container_ ? container_->AddRef() : AddPublic(); }
ULONG Surface::Release() { return container_ ? container_->Release() : ReleasePublic(); }

HRESULT Surface::GetDevice(IDirect3DDevice8** ppDevice)
{
    if (!ppDevice)
        return D3DERR_INVALIDCALL;
    device_->AddRef();
    *ppDevice = device_;
    return D3D_OK;
}

HRESULT Surface::GetContainer(REFIID riid, void** ppContainer)
{
    if (!ppContainer)
        return D3DERR_INVALIDCALL;
    if (container_)
        return container_->QueryInterface(riid, ppContainer);
    return device_->QueryInterface(riid, ppContainer);
}

HRESULT Surface::GetDesc(D3DSURFACE_DESC* pDesc)
{
    if (!pDesc)
        return D3DERR_INVALIDCALL;
    if (container_)
        return container_->GetLevelDesc(level_, pDesc);
    *pDesc = D3DSURFACE_DESC{};
    pDesc->Format = format_;
    pDesc->Type = D3DRTYPE_SURFACE;
    pDesc->Usage = IsRenderTarget() ? D3DUSAGE_RENDERTARGET : 0;
    pDesc->Pool = pool_;
    pDesc->Size = static_cast<UINT>(bytes_);
    pDesc->MultiSampleType = D3DMULTISAMPLE_NONE;
    pDesc->Width = static_cast<UINT>(view_.width);
    pDesc->Height = static_cast<UINT>(view_.height);
    return D3D_OK;
}

HRESULT Surface::LockRect(D3DLOCKED_RECT* pLockedRect, const RECT* pRect, DWORD Flags)
{
    if (container_)
        return container_->LockRect(level_, pLockedRect, pRect, Flags);
    if (!pLockedRect || !lockable_ || locked_)
        return D3DERR_INVALIDCALL;
    if (pRect && !RectInside(*pRect, view_.width, view_.height))
        return D3DERR_INVALIDCALL;
    locked_ = true;
    raster::ForgetRuns(settled_);  // the caller may write any pixel
    FillLockedRect(view_, pRect, *pLockedRect);
    return D3D_OK;
}

HRESULT Surface::UnlockRect()
{
    if (container_)
        return container_->UnlockRect(level_);
    if (!locked_)
        return D3DERR_INVALIDCALL;
    locked_ = false;
    raster::ForgetRuns(settled_);  // and draws made while it was locked may have settled runs it then wrote
    return D3D_OK;
}

void Surface::SwapPixels(Surface& other)
{
    // What is known of the pixels goes with them.
    if (view_.settled && other.view_.settled) {
        std::swap(settled_, other.settled_);
        settledFlags_.swap(other.settledFlags_);
    } else {
        raster::ForgetRuns(settled_);
        raster::ForgetRuns(other.settled_);
    }
    bits_.swap(other.bits_);
    shared_.swap(other.shared_);
    view_.bits = Pixels();
    other.view_.bits = other.Pixels();
}

// ---------------------------------------------------------------- vertex buffers

VertexBuffer::VertexBuffer(DeviceImpl* device, UINT length, DWORD usage, DWORD fvf, D3DPOOL pool)
    : ResourceCount(device, pool == D3DPOOL_DEFAULT, false), data_(length, 0), usage_(usage), fvf_(fvf), pool_(pool)
{
}

VertexBuffer::~VertexBuffer() { ReturnVideoMemory(data_.size()); }

HRESULT VertexBuffer::QueryInterface(REFIID riid, void** ppvObj)
{
    if (!ppvObj)
        return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDirect3DResource8 || riid == IID_IDirect3DVertexBuffer8) {
        *ppvObj = static_cast<IDirect3DVertexBuffer8*>(this);
        AddRef();
        return S_OK;
    }
    *ppvObj = nullptr;
    return E_NOINTERFACE;
}

HRESULT VertexBuffer::GetDevice(IDirect3DDevice8** ppDevice)
{
    if (!ppDevice)
        return D3DERR_INVALIDCALL;
    device_->AddRef();
    *ppDevice = device_;
    return D3D_OK;
}

DWORD VertexBuffer::SetPriority(DWORD PriorityNew)
{
    DWORD old = priority_;
    if (pool_ == D3DPOOL_MANAGED)
        priority_ = PriorityNew;
    return old;
}

HRESULT VertexBuffer::Lock(UINT OffsetToLock, UINT SizeToLock, BYTE** ppbData, DWORD Flags)
{
    if (!ppbData)
        return D3DERR_INVALIDCALL;
    const std::size_t length = data_.size();
    if (OffsetToLock > length)
        return D3DERR_INVALIDCALL;
    const std::size_t size = SizeToLock == 0 ? length - OffsetToLock : SizeToLock;
    if (size > length - OffsetToLock)
        return D3DERR_INVALIDCALL;
    ++lockCount_;
    *ppbData = data_.data() + OffsetToLock;
    return D3D_OK;
}

HRESULT VertexBuffer::Unlock()
{
    if (lockCount_ == 0)
        return D3DERR_INVALIDCALL;
    --lockCount_;
    return D3D_OK;
}

HRESULT VertexBuffer::GetDesc(D3DVERTEXBUFFER_DESC* pDesc)
{
    if (!pDesc)
        return D3DERR_INVALIDCALL;
    pDesc->Format = D3DFMT_VERTEXDATA;
    pDesc->Type = D3DRTYPE_VERTEXBUFFER;
    pDesc->Usage = usage_;
    pDesc->Pool = pool_;
    pDesc->Size = static_cast<UINT>(data_.size());
    pDesc->FVF = fvf_;
    return D3D_OK;
}

}  // namespace d3d8
