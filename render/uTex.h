#pragma once
// The texture store: 2048 slots of textures made from TGA files in the texture format the
// device accepts, and the shared UV table of the particle texture.

#include "scene/uBasic.h"

#include "platform/d3d8/d3d8.h"

#include <cstdint>
#include <string>
#include <vector>

constexpr int32_t kTextureSlotCount = 2048;
constexpr int32_t kUVCapacity = 256;
constexpr int32_t ParticleTextureSlot = 100;
extern const char* const ParticleTextureFile;  // "\Textures\Particles.tga", below the data folder
extern const char* const ParticleUVFile;       // "\Textures\Particles.uv"

// Texture coordinates in 0..1 of a 256-texel reference texture.
struct UVRect {
    float U0;
    float V0;
    float U1;
    float V1;
};

struct TextureSlot {
    int32_t Width = 0;
    int32_t Height = 0;
    int32_t TexWidth = 0;   // powers of two not below the image size
    int32_t TexHeight = 0;
    IDirect3DTexture8* Texture = nullptr;  // one reference owned by the slot
    std::string Name;  // lower-case file name of the last CreateTex
};

class TTexArr : public TBasic {
public:
    const char* ClassName() const override { return "TTexArr"; }
    bool LoadParticles = false;
    TextureSlot Slots[kTextureSlotCount];

    explicit TTexArr(bool LoadParticles_);
    ~TTexArr() override;

    // Clears every slot; with LoadParticles, loads the particle texture and the UV table.
    HRESULT RestoreDeviceObjects() override;
    void InvalidateDeviceObjects() override;

    // A file that cannot be turned into a texture is reported and leaves the slot empty.
    void CreateTex(int32_t Index, const std::string& FileName);
};

extern TTexArr* TexArr;
extern UVRect UVTable[kUVCapacity];
extern int32_t UVCount;
extern int32_t DitherAmplitude;  // noise added before packing into 16 bits: 8 or 0

// Pixels of a 32-bit TGA in TextureFormat, top row first. False (reported) when the file is
// missing or unreadable, or TextureFormat cannot be produced.
bool LoadTextureImage(const std::string& FileName, int32_t& Width, int32_t& Height, std::vector<uint8_t>& Pixels);
void AddNoise(uint32_t* Pixels, int32_t Count, int32_t Amplitude);
// Packs 32-bit pixels into a 16-bit format; false (reported, Dst untouched) for other formats.
bool ReFormat32BitImage(const uint32_t* Src, void* Dst, int32_t Count, D3DFORMAT Format);
// Creates the slot's texture and copies the image into its top-left corner. False
// (reported) when the texture cannot be created or locked; the slot then holds none.
bool UploadTexture(const void* Pixels, int32_t Width, int32_t Height, TextureSlot& Slot, D3DFORMAT Format);
// Data lines past the table's capacity are reported once and ignored.
bool LoadUVFromFile(const std::string& FileName, UVRect* Table, int32_t& Count);
