// What this device can do, stated once: formats, capability record, video memory budget.
#include "platform/d3d8/faults.h"
#include "platform/d3d8/objects.h"

#include <algorithm>

namespace d3d8 {

namespace {
std::uint64_t g_videoMemoryInUse = 0;
std::uint64_t g_videoMemoryBytes = kVideoMemoryBytes;
constexpr std::uint64_t kFramesOfMemory = 8;
}

std::uint64_t VideoMemoryBytes() { return g_videoMemoryBytes; }

void SizeVideoMemoryFor(UINT width, UINT height)
{
    g_videoMemoryBytes = std::max(g_videoMemoryBytes, kFramesOfMemory * width * height * 4);
}

DWORD VideoMemoryDword(bool freeOnly)
{
    const std::uint64_t bytes = freeOnly ? g_videoMemoryBytes - g_videoMemoryInUse : g_videoMemoryBytes;
    return static_cast<DWORD>(std::min<std::uint64_t>(bytes, 0xFFFFFFFFu));
}

bool ReserveVideoMemory(std::uint64_t bytes)
{
    if (bytes > g_videoMemoryBytes - g_videoMemoryInUse)
        return false;
    g_videoMemoryInUse += bytes;
    return true;
}

void ReturnVideoMemory(std::uint64_t bytes) { g_videoMemoryInUse -= bytes < g_videoMemoryInUse ? bytes : g_videoMemoryInUse; }

std::uint64_t VideoMemoryInUse() { return g_videoMemoryInUse; }

bool ToPixelFormat(D3DFORMAT format, raster::PixelFormat& out)
{
    switch (format) {
    case D3DFMT_X8R8G8B8: out = raster::PixelFormat::X8R8G8B8; return true;
    case D3DFMT_A8R8G8B8: out = raster::PixelFormat::A8R8G8B8; return true;
    case D3DFMT_R5G6B5: out = raster::PixelFormat::R5G6B5; return true;
    case D3DFMT_X1R5G5B5: out = raster::PixelFormat::X1R5G5B5; return true;
    case D3DFMT_A1R5G5B5: out = raster::PixelFormat::A1R5G5B5; return true;
    case D3DFMT_A4R4G4B4: out = raster::PixelFormat::A4R4G4B4; return true;
    case D3DFMT_X4R4G4B4: out = raster::PixelFormat::X4R4G4B4; return true;
    default: return false;
    }
}

bool IsTextureFormat(D3DFORMAT format)
{
    raster::PixelFormat unused;
    return ToPixelFormat(format, unused);
}

bool IsRenderTargetFormat(D3DFORMAT format)
{
    return format == D3DFMT_X8R8G8B8 || format == D3DFMT_A8R8G8B8 || format == D3DFMT_R5G6B5;
}

bool IsDisplayFormat(D3DFORMAT format) { return format == D3DFMT_X8R8G8B8 || format == D3DFMT_R5G6B5; }

bool IsBackBufferFormatFor(D3DFORMAT display, D3DFORMAT backBuffer)
{
    if (!IsDisplayFormat(display))
        return false;
    return backBuffer == display || (display == D3DFMT_X8R8G8B8 && backBuffer == D3DFMT_A8R8G8B8);
}

void FillDeviceCaps(D3DCAPS8& c)
{
    c = D3DCAPS8{};
    c.DeviceType = D3DDEVTYPE_HAL;
    c.AdapterOrdinal = 0;
    c.Caps2 = D3DCAPS2_DYNAMICTEXTURES | (faults::AdapterRendersWindowed() ? D3DCAPS2_CANRENDERWINDOWED : 0);
    c.PresentationIntervals = D3DPRESENT_INTERVAL_ONE | D3DPRESENT_INTERVAL_IMMEDIATE;
    c.DevCaps = D3DDEVCAPS_EXECUTESYSTEMMEMORY | D3DDEVCAPS_TLVERTEXSYSTEMMEMORY | D3DDEVCAPS_TEXTURESYSTEMMEMORY |
                D3DDEVCAPS_DRAWPRIMTLVERTEX | D3DDEVCAPS_CANRENDERAFTERFLIP | D3DDEVCAPS_DRAWPRIMITIVES2 |
                D3DDEVCAPS_DRAWPRIMITIVES2EX;
    c.PrimitiveMiscCaps = D3DPMISCCAPS_CULLNONE | D3DPMISCCAPS_CULLCW | D3DPMISCCAPS_CULLCCW |
                          D3DPMISCCAPS_COLORWRITEENABLE | D3DPMISCCAPS_BLENDOP |
                          (faults::NullReferenceDevice() ? D3DPMISCCAPS_NULLREFERENCE : 0);
    // No depth buffer, fog or dithering: RasterCaps and ZCmpCaps stay empty.
    c.SrcBlendCaps = 0x1FFF;   // ZERO .. BOTHINVSRCALPHA
    c.DestBlendCaps = 0x07FF;  // ZERO .. SRCALPHASAT
    c.AlphaCmpCaps = 0xFF;     // NEVER .. ALWAYS
    c.ShadeCaps = D3DPSHADECAPS_COLORGOURAUDRGB | D3DPSHADECAPS_ALPHAGOURAUDBLEND;
    c.TextureCaps = D3DPTEXTURECAPS_PERSPECTIVE | D3DPTEXTURECAPS_POW2 | D3DPTEXTURECAPS_ALPHA |
                    D3DPTEXTURECAPS_MIPMAP;
    c.TextureFilterCaps = D3DPTFILTERCAPS_MINFPOINT | D3DPTFILTERCAPS_MINFLINEAR | D3DPTFILTERCAPS_MIPFPOINT |
                          D3DPTFILTERCAPS_MIPFLINEAR | D3DPTFILTERCAPS_MAGFPOINT | D3DPTFILTERCAPS_MAGFLINEAR;
    c.TextureAddressCaps = D3DPTADDRESSCAPS_WRAP | D3DPTADDRESSCAPS_MIRROR | D3DPTADDRESSCAPS_CLAMP;
    c.LineCaps = D3DLINECAPS_TEXTURE | D3DLINECAPS_BLEND | 0x8;  // ALPHACMP
    c.MaxTextureWidth = kMaxTextureSize;
    c.MaxTextureHeight = kMaxTextureSize;
    c.MaxTextureRepeat = 0x8000;
    c.MaxTextureAspectRatio = kMaxTextureSize;
    c.MaxAnisotropy = 1;
    c.MaxVertexW = 1.0e10f;
    // No guard band: primitives are clipped against the whole clip volume.
    c.FVFCaps = 1;  // one texture coordinate set is read
    c.TextureOpCaps = D3DTEXOPCAPS_DISABLE | D3DTEXOPCAPS_SELECTARG1 | D3DTEXOPCAPS_SELECTARG2 |
                      D3DTEXOPCAPS_MODULATE | D3DTEXOPCAPS_MODULATE2X | D3DTEXOPCAPS_MODULATE4X |
                      D3DTEXOPCAPS_ADD | D3DTEXOPCAPS_ADDSIGNED | D3DTEXOPCAPS_SUBTRACT;
    c.MaxTextureBlendStages = raster::kMaxStages;
    c.MaxSimultaneousTextures = 1;
    c.MaxActiveLights = 8;
    c.MaxPointSize = kMaxPointSize;
    c.MaxPrimitiveCount = kMaxPrimitiveCount;
    c.MaxVertexIndex = kMaxPrimitiveCount;
    c.MaxStreams = 1;
    c.MaxStreamStride = 256;
}

}  // namespace d3d8
