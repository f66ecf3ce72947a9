#include "render/uTex.h"

#include "app/uC.h"
#include "common/uFiles.h"
#include "common/uFormats.h"
#include "common/uStrings.h"
#include "framework/uD3DGlobals.h"
#include "render/uDebug.h"
#include "render/uLog.h"
#include "render/uTGA.h"
#include "scene/math/uMath.h"

#include <algorithm>
#include <cstring>
#include <random>

const char* const ParticleTextureFile = "\\Textures\\Particles.tga";
const char* const ParticleUVFile = "\\Textures\\Particles.uv";

TTexArr* TexArr = nullptr;
UVRect UVTable[kUVCapacity] = {};
int32_t UVCount = 0;
int32_t DitherAmplitude = 0;

namespace {

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

std::string NamePart(const std::string& path)
{
    const std::size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Extension(const std::string& name)
{
    const std::size_t dot = name.find_last_of('.');
    return dot == std::string::npos ? std::string() : name.substr(dot);
}

void ReleaseSlot(TextureSlot& slot) { ReleaseRef(slot.Texture); }

std::minstd_rand& NoiseSource()
{
    static std::minstd_rand source(0x5EED);
    return source;
}

int32_t PowerOfTwoAtLeast(int32_t n)
{
    int32_t p = 1;
    while (p < n)
        p *= 2;
    return p;
}

}  // namespace

// ---------------------------------------------------------------- TTexArr

TTexArr::TTexArr(bool LoadParticles_) : LoadParticles(LoadParticles_)
{
    TexArr = this;
    switch (FormatBitDepth(static_cast<uint32_t>(Options.Format))) {
    case 16: DitherAmplitude = 8; break;
    case 32: DitherAmplitude = 0; break;
    default: break;
    }
}

TTexArr::~TTexArr()
{
    TTexArr::InvalidateDeviceObjects();
    if (TexArr == this)
        TexArr = nullptr;
}

HRESULT TTexArr::RestoreDeviceObjects()
{
    for (TextureSlot& slot : Slots) {
        ReleaseSlot(slot);  // a restore without an invalidation must not leak
        slot = TextureSlot{};
    }
    if (LoadParticles) {
        CreateTex(ParticleTextureSlot, ParticleTextureFile);
        LoadUVFromFile(DataDir + ParticleUVFile, UVTable, UVCount);
    }
    return S_OK;
}

void TTexArr::InvalidateDeviceObjects()
{
    for (TextureSlot& slot : Slots)
        ReleaseSlot(slot);
}

void TTexArr::CreateTex(int32_t Index, const std::string& FileName)
{
    if (Index < 0 || Index >= kTextureSlotCount) {
        ReportError("TTexArr.CreateTex: Invalid slot " + std::to_string(Index) + " for " + Quoted(FileName));
        return;
    }
    TextureSlot& slot = Slots[Index];
    const std::string path = LowerCaseAscii(FileName);
    const std::string name = NamePart(path);
    if (Extension(name) != ".tga") {
        ReportError("TTexArr.CreateTex: Invalid file extension " + Quoted(path));
        slot.Name = name;
        return;
    }
    ReleaseSlot(slot);
    slot = TextureSlot{};
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> pixels;
    if (LoadTextureImage(path, width, height, pixels))
        UploadTexture(pixels.data(), width, height, slot, TextureFormat);
    slot.Name = name;
}

// ---------------------------------------------------------------- images

bool LoadTextureImage(const std::string& FileName, int32_t& Width, int32_t& Height, std::vector<uint8_t>& Pixels)
{
    Width = Height = 0;
    Pixels.clear();
    const std::string path = FileExists(FileName) ? FileName : DataDir + FileName;
    int32_t w = 0;
    int32_t h = 0;
    if (TextureFormat == D3DFMT_A8R8G8B8 || TextureFormat == D3DFMT_X8R8G8B8) {
        // The file's own layout: read in place, never held twice.
        if (!LoadTGABytes(path, w, h, Pixels))
            return false;  // reported by the reader
    } else {
        std::vector<uint32_t> image;
        if (!LoadTGAPixels(path, w, h, image))
            return false;
        const int32_t count = w * h;
        const int32_t bytes = std::max(0, FormatBitDepth(TextureFormat) / 8);
        std::vector<uint8_t> packed(static_cast<std::size_t>(count) * bytes);
        AddNoise(image.data(), count, DitherAmplitude);
        if (bytes != 2 || !ReFormat32BitImage(image.data(), packed.data(), count, TextureFormat)) {
            if (bytes != 2)
                ReFormat32BitImage(image.data(), nullptr, 0, TextureFormat);  // reports the format
            return false;
        }
        Pixels = std::move(packed);
    }
    Width = w;
    Height = h;
    return true;
}

void AddNoise(uint32_t* Pixels, int32_t Count, int32_t Amplitude)
{
    if (Amplitude <= 0)
        return;
    std::uniform_int_distribution<int32_t> noise(0, 2 * Amplitude - 1);
    for (int32_t i = 0; i < Count; ++i) {
        uint32_t p = Pixels[i];
        for (int shift : {16, 8, 0}) {
            const int32_t c = std::clamp(static_cast<int32_t>((p >> shift) & 0xFF) + noise(NoiseSource()) - Amplitude, 0, 255);
            p = (p & ~(0xFFu << shift)) | (static_cast<uint32_t>(c) << shift);
        }
        Pixels[i] = p;
    }
}

bool ReFormat32BitImage(const uint32_t* Src, void* Dst, int32_t Count, D3DFORMAT Format)
{
    uint16_t (*pack)(uint32_t a, uint32_t r, uint32_t g, uint32_t b) = nullptr;
    switch (Format) {
    case D3DFMT_R5G6B5:
        pack = [](uint32_t, uint32_t r, uint32_t g, uint32_t b) {
            return static_cast<uint16_t>(((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3));
        };
        break;
    case D3DFMT_X1R5G5B5:
    case D3DFMT_A1R5G5B5:
        pack = [](uint32_t a, uint32_t r, uint32_t g, uint32_t b) {
            return static_cast<uint16_t>(((a >> 7) << 15) | ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3));
        };
        break;
    case D3DFMT_A4R4G4B4:
    case D3DFMT_X4R4G4B4:
        pack = [](uint32_t a, uint32_t r, uint32_t g, uint32_t b) {
            return static_cast<uint16_t>(((a >> 4) << 12) | ((r >> 4) << 8) | ((g >> 4) << 4) | (b >> 4));
        };
        break;
    default:
        ReportError("ReFormat32BitImage: unknown format.  Format=" + FormatToName(Format));
        return false;
    }
    auto* dst = static_cast<uint8_t*>(Dst);
    for (int32_t i = 0; i < Count; ++i) {
        const uint32_t p = Src[i];
        const uint16_t v = pack(p >> 24, (p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
        std::memcpy(dst + 2 * i, &v, 2);  // little-endian, like the texture memory
    }
    return true;
}

bool UploadTexture(const void* Pixels, int32_t Width, int32_t Height, TextureSlot& Slot, D3DFORMAT Format)
{
    ReleaseRef(Slot.Texture);
    const int32_t bytes = FormatBitDepth(Format) / 8;
    if (Width <= 0 || Height <= 0 || bytes <= 0 || !Device) {
        ReportError("TTexArr.UploadTexture: nothing to upload (" + std::to_string(Width) + "x" +
                    std::to_string(Height) + ", " + FormatToName(Format) + ")");
        return false;
    }
    int32_t texWidth = PowerOfTwoAtLeast(Width);
    int32_t texHeight = PowerOfTwoAtLeast(Height);
    if (SquareTexturesOnly)
        texWidth = texHeight = std::max(texWidth, texHeight);

    IDirect3DTexture8* texture = nullptr;
    const HRESULT created = CreateTextureDirect(static_cast<UINT>(texWidth), static_cast<UINT>(texHeight), 0, 0,
                                                Format, D3DPOOL_MANAGED, &texture);
    if (FAILED(created) || !texture) {
        ReleaseRef(texture);
        return false;  // reported by CreateTextureDirect
    }
    D3DLOCKED_RECT locked{};
    const HRESULT lock = texture->LockRect(0, &locked, nullptr, 0);
    CheckResult(lock);
    if (FAILED(lock) || !locked.pBits) {
        ReportError("TTexArr.UploadTexture: LockRect failed");
        ReleaseRef(texture);
        return false;
    }
    const std::size_t row = static_cast<std::size_t>(Width) * bytes;
    const auto* src = static_cast<const uint8_t*>(Pixels);
    auto* dst = static_cast<uint8_t*>(locked.pBits);
    // One block only when the rows lie back to back in the texture too.
    if (texWidth == Width && static_cast<std::size_t>(locked.Pitch) == row)
        std::memcpy(dst, src, row * Height);
    else
        for (int32_t y = 0; y < Height; ++y)
            std::memcpy(dst + static_cast<std::size_t>(locked.Pitch) * y, src + row * y, row);
    CheckResult(texture->UnlockRect(0));

    Slot.Texture = texture;
    Slot.Width = Width;
    Slot.Height = Height;
    Slot.TexWidth = texWidth;
    Slot.TexHeight = texHeight;
    return true;
}

// ---------------------------------------------------------------- UV table

bool LoadUVFromFile(const std::string& FileName, UVRect* Table, int32_t& Count)
{
    TTextFileReader reader;
    if (!FileExists(FileName) || !reader.Open(FileName)) {
        ReportError("TTexArr.LoadUVFromFile: File not exists " + Quoted(FileName));
        return false;
    }
    Count = 0;
    int32_t ignored = 0;
    std::string line;
    while (reader.ReadLine(line)) {
        if (IsCommentLine(line))
            continue;
        if (Count >= kUVCapacity) {
            ++ignored;
            continue;
        }
        float values[4];
        for (float& v : values) {
            std::string token;
            ExtractToken(line, ' ', token);
            v = static_cast<float>(StrToIntVal(token) / 256.0L);
        }
        Table[Count] = {values[0], values[1], values[2], values[3]};
        Count += 1;
    }
    if (ignored > 0)
        ReportError("TTexArr.LoadUVFromFile: " + std::to_string(ignored) + " data lines past " +
                    std::to_string(kUVCapacity) + " entries ignored in " + Quoted(FileName));
    return true;
}
