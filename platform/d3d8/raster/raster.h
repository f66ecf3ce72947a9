// Software rasterizer behind the Direct3D 8 device. The front end resolves API state into
// the plain records below once per draw call; nothing here knows the API types. Numeric
// enum values (texture ops, arguments, blend factors, compare functions, cull/fill/shade
// modes, filters, address modes, primitive types) are the Direct3D 8 ones, passed through.
#pragma once

#include <cstddef>
#include <cstdint>

namespace raster {

enum class PixelFormat : std::uint8_t {
    X8R8G8B8,
    A8R8G8B8,
    R5G6B5,
    X1R5G5B5,
    A1R5G5B5,
    A4R4G4B4,
    X4R4G4B4,
};

int BytesPerPixel(PixelFormat format);
bool HasAlpha(PixelFormat format);

// What is known of a 32-bit render target's runs of kPixels pixels between draws, one flag
// byte a run. kSettled: the last constant-colour fill of `key` left the run exactly as it
// was, so the run holds fixed points of that fill and the same fill again may skip it (a
// fading overlay over a mostly dark frame is then mostly skipped). kShown: the run is as it
// was when the surface was last presented, so a presenter holding that frame need not copy
// it again. Every write into a run clears both. The surface owns the flags; key 0 means no
// kSettled flag is valid. Writes outside the rasterizer must call ForgetRuns.
struct SettledRuns {
    static constexpr int kPixels = 64;
    static constexpr std::uint8_t kSettled = 1, kShown = 2;
    std::uint8_t* flags = nullptr;  // rows rows of perRow flags
    int perRow = 0;
    int rows = 0;
    std::uint64_t key = 0;
};
// Nothing is known of any run any more (the pixels may have been written directly).
void ForgetRuns(SettledRuns& runs);
// The surface has just been presented: every run is as shown.
void MarkRunsShown(SettledRuns& runs);

// One mip level or render target. Pitch is in bytes.
struct SurfaceView {
    std::uint8_t* bits = nullptr;
    int width = 0;
    int height = 0;
    int pitch = 0;
    PixelFormat format = PixelFormat::X8R8G8B8;
    SettledRuns* settled = nullptr;  // optional; 32-bit formats only
};

// levels[0] is the largest; every level has the texture's format.
struct TextureView {
    const SurfaceView* levels = nullptr;
    int levelCount = 0;
    PixelFormat format = PixelFormat::A8R8G8B8;
    // Names the texels as they are: never reused, by this texture or any other, once they
    // may have changed. 0: not known (what is learnt of the texels may not be kept).
    std::uint64_t version = 0;
};
// A version no texture has had yet.
std::uint64_t NewTextureVersion();

// Byte offsets inside one vertex; -1 marks an absent element. With hasRHW the position
// is x,y,z,rhw in screen space (no transform, no lighting, no frustum clipping).
// Texture coordinates are set 0 (two floats). Normals are never read.
struct VertexLayout {
    int stride = 0;
    int positionOffset = 0;
    bool hasRHW = false;
    int diffuseOffset = -1;
    int texOffset = -1;
};

struct StageState {
    std::uint32_t colorOp = 4;    // D3DTOP_MODULATE (stage 0 default)
    std::uint32_t colorArg1 = 2;  // D3DTA_TEXTURE
    std::uint32_t colorArg2 = 1;  // D3DTA_CURRENT
    std::uint32_t colorArg0 = 1;  // D3DTA_CURRENT, for MULTIPLYADD and LERP
    std::uint32_t alphaOp = 2;    // D3DTOP_SELECTARG1
    std::uint32_t alphaArg1 = 2;
    std::uint32_t alphaArg2 = 1;
    std::uint32_t alphaArg0 = 1;
    const TextureView* texture = nullptr;
    std::uint32_t minFilter = 1;  // D3DTEXF_POINT
    std::uint32_t magFilter = 1;
    std::uint32_t mipFilter = 0;  // D3DTEXF_NONE: level 0 only
    std::uint32_t addressU = 1;   // D3DTADDRESS_WRAP
    std::uint32_t addressV = 1;
    std::uint32_t borderColor = 0;
};

inline constexpr int kMaxStages = 2;

struct DrawState {
    // Stages above the first with colorOp DISABLE are off; the front end passes a disabled
    // stage 1 unless it means to use it.
    StageState stages[kMaxStages] = {StageState{}, StageState{1, 2, 1, 1, 1, 2, 1, 1}};

    bool alphaBlendEnable = false;
    std::uint32_t srcBlend = 2;   // D3DBLEND_ONE
    std::uint32_t destBlend = 1;  // D3DBLEND_ZERO
    std::uint32_t blendOp = 1;    // D3DBLENDOP_ADD

    bool alphaTestEnable = false;
    std::uint32_t alphaFunc = 8;  // D3DCMP_ALWAYS
    std::uint32_t alphaRef = 0;   // 0..255

    std::uint32_t shadeMode = 2;  // D3DSHADE_GOURAUD
    std::uint32_t cullMode = 3;   // D3DCULL_CCW
    std::uint32_t fillMode = 3;   // D3DFILL_SOLID
    std::uint32_t colorWriteEnable = 0xF;
    std::uint32_t textureFactor = 0xFFFFFFFF;
    float pointSize = 1.0f;
    bool lastPixel = true;

    // Fixed-function lighting as the front end resolved it for transformed (XYZ) vertices.
    // When lit: diffuse rgb = litColor rgb; alpha = the vertex's diffuse alpha when
    // litAlphaFromVertex and the vertex has a diffuse colour, else litColor's alpha.
    // (No lights reach a vertex without a normal: litColor 0xFF000000 is black.)
    bool lit = false;
    std::uint32_t litColor = 0xFF000000;
    bool litAlphaFromVertex = true;

    // There is no depth buffer: depth state is not part of this record.
};

struct Viewport {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    float minZ = 0.0f;
    float maxZ = 1.0f;
};

// Half-open: left <= x < right, top <= y < bottom.
struct Rect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

// worldViewProj is row-major for row vectors: clip = (x,y,z,1) * M, M[12..14] translation.
// It is ignored for hasRHW layouts. Returns false (and draws nothing) when the call would
// read outside vertexData or the arguments are unusable; true otherwise, even when every
// primitive was culled or clipped away.
bool DrawPrimitive(const DrawState& state, const VertexLayout& layout,
                   const std::uint8_t* vertexData, std::size_t vertexDataSize,
                   int primitiveType, int startVertex, int primitiveCount,
                   const float worldViewProj[16], const Viewport& viewport,
                   const SurfaceView& target);

// Vertex k of the primitive stream is vertexData[baseVertexIndex + index[startIndex + k]].
// indexSize is 2 or 4. Bounds-checked like DrawPrimitive: any index reaching outside the
// vertex data makes the whole call draw nothing and return false.
bool DrawIndexedPrimitive(const DrawState& state, const VertexLayout& layout,
                          const std::uint8_t* vertexData, std::size_t vertexDataSize,
                          int baseVertexIndex, const std::uint8_t* indexData,
                          std::size_t indexDataSize, int indexSize, int primitiveType,
                          int startIndex, int primitiveCount, const float worldViewProj[16],
                          const Viewport& viewport, const SurfaceView& target);

// Fills rect (clipped to the surface) with argb converted to the surface's format.
void Clear(const SurfaceView& target, const Rect& rect, std::uint32_t argb);

// Texel codecs, shared with the front end (lock emulation, format conversion).
// DecodePixel expands to A8R8G8B8 by bit replication; formats without alpha read 0xFF.
// EncodePixel rounds each channel to the nearest representable value.
std::uint32_t DecodePixel(PixelFormat format, const std::uint8_t* pixel);
void EncodePixel(PixelFormat format, std::uint8_t* pixel, std::uint32_t argb);
std::uint32_t ReadPixel(const SurfaceView& surface, int x, int y);
void WritePixel(const SurfaceView& surface, int x, int y, std::uint32_t argb);

// Name of the span routine a draw with this state would use ("general" for the fallback);
// lets tests and benchmarks confirm that the fast paths are the ones reached.
const char* SpanRoutineName(const DrawState& state, const VertexLayout& layout,
                            const SurfaceView& target);

// The widest vector instructions the specialised span routines may use (the CPU's own
// limit still applies). The variants draw identically; tests compare them through this.
enum class SimdLevel { kSse2, kAvx2, kAvx512 };
void LimitSimd(SimdLevel level);

}  // namespace raster
