// Shared by the rasterizer's translation units; not part of its interface.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

#include "platform/d3d8/raster/raster.h"

// Routines for vector units wider than the baseline, called only where the CPU has them.
#define HALVORA_AVX2 __attribute__((target("avx2")))
#define HALVORA_AVX512 __attribute__((target("avx2,avx512f,avx512bw,avx512vl,avx512dq")))
// GCC 12's AVX-512 headers trip these warnings inside their own intrinsics.
#if defined(__GNUC__) && !defined(__clang__)
#define HALVORA_INTRINSIC_WARNINGS_OFF                                                       \
    _Pragma("GCC diagnostic push") _Pragma("GCC diagnostic ignored \"-Wmaybe-uninitialized\"") \
        _Pragma("GCC diagnostic ignored \"-Wuninitialized\"")
#define HALVORA_INTRINSIC_WARNINGS_ON _Pragma("GCC diagnostic pop")
#else
#define HALVORA_INTRINSIC_WARNINGS_OFF
#define HALVORA_INTRINSIC_WARNINGS_ON
#endif

namespace raster {

// Direct3D 8 numeric values the back end branches on.
namespace d3d {
inline constexpr std::uint32_t kTopDisable = 1, kTopSelectArg1 = 2, kTopSelectArg2 = 3, kTopModulate = 4,
                               kTopModulate2x = 5, kTopModulate4x = 6, kTopAdd = 7, kTopAddSigned = 8,
                               kTopAddSigned2x = 9, kTopSubtract = 10, kTopAddSmooth = 11,
                               kTopBlendDiffuseAlpha = 12, kTopBlendTextureAlpha = 13,
                               kTopBlendFactorAlpha = 14, kTopBlendTextureAlphaPm = 15,
                               kTopBlendCurrentAlpha = 16, kTopPremodulate = 17,
                               kTopModulateAlphaAddColor = 18, kTopModulateColorAddAlpha = 19,
                               kTopModulateInvAlphaAddColor = 20, kTopModulateInvColorAddAlpha = 21,
                               kTopDotProduct3 = 24, kTopMultiplyAdd = 25, kTopLerp = 26;
inline constexpr std::uint32_t kTaDiffuse = 0, kTaCurrent = 1, kTaTexture = 2, kTaTFactor = 3,
                               kTaSpecular = 4, kTaTemp = 5, kTaSelectMask = 0xF, kTaComplement = 0x10,
                               kTaAlphaReplicate = 0x20;
inline constexpr std::uint32_t kBlendZero = 1, kBlendOne = 2, kBlendSrcColor = 3, kBlendInvSrcColor = 4,
                               kBlendSrcAlpha = 5, kBlendInvSrcAlpha = 6, kBlendDestAlpha = 7,
                               kBlendInvDestAlpha = 8, kBlendDestColor = 9, kBlendInvDestColor = 10,
                               kBlendSrcAlphaSat = 11, kBlendBothSrcAlpha = 12, kBlendBothInvSrcAlpha = 13;
inline constexpr std::uint32_t kBlendOpAdd = 1, kBlendOpSubtract = 2, kBlendOpRevSubtract = 3,
                               kBlendOpMin = 4, kBlendOpMax = 5;
inline constexpr std::uint32_t kCmpNever = 1, kCmpLess = 2, kCmpEqual = 3, kCmpLessEqual = 4,
                               kCmpGreater = 5, kCmpNotEqual = 6, kCmpGreaterEqual = 7, kCmpAlways = 8;
inline constexpr std::uint32_t kShadeFlat = 1;
inline constexpr std::uint32_t kFillPoint = 1, kFillWireframe = 2, kFillSolid = 3;
inline constexpr std::uint32_t kCullNone = 1, kCullCw = 2, kCullCcw = 3;
inline constexpr std::uint32_t kAddressWrap = 1, kAddressMirror = 2, kAddressClamp = 3, kAddressBorder = 4,
                               kAddressMirrorOnce = 5;
inline constexpr std::uint32_t kFilterNone = 0, kFilterPoint = 1, kFilterLinear = 2;
inline constexpr int kPointList = 1, kLineList = 2, kLineStrip = 3, kTriangleList = 4, kTriangleStrip = 5,
                     kTriangleFan = 6;
}  // namespace d3d

// pos is clip space before projection and (x, y, z, rhw) in pixels after it; colour
// channels are 0..255 in r, g, b, a order.
struct Vertex {
    float pos[4];
    float color[4];
    float tex[2];
};

// value(x, y) = c + dx * (x - originX) + dy * (y - originY), at pixel centres.
// Left uninitialised, as are the planes and origin of a triangle's set-up: one is built for
// every primitive, and zeroing them cost more than the set-up that writes them all.
struct Plane {
    float c, dx, dy;
};

// Where a primitive's pixels can change the target at all, as bounds on rows and on each
// row's pixels: x >= startP[k] + startQ[k] * y and x <= endP[k] + endQ[k] * y for every k
// (the texture's two axes and its two diagonals). Outside it they are known to leave the
// target exactly as it is.
// Lines are kept relative to the primitive's origin (the y passed in is y - originY and the
// x they give is x - originX), so that they lose no precision far from the screen's corner.
// Only on is set until a window is found.
struct RowWindow {
    bool on = false;
    int yFirst, yLast;
    float originX, originY;
    static constexpr int kAxes = 4;
    float startP[kAxes], startQ[kAxes], endP[kAxes], endQ[kAxes];
    // Rounding of the lines is far below the eighth of a texel they are widened by; this is
    // on top.
    static constexpr float kSlack = 1.0f / 64;
    static constexpr float kFar = 1 << 30;
};

struct TriangleSetup {
    float originX, originY;
    Plane q, u, v;       // u and v are multiplied by q (perspective-correct)
    Plane color[4];      // r, g, b, a
    bool constantColor = false;
    std::uint32_t argb = 0;  // the colour when constantColor
    bool affine = false;     // q is 1 everywhere
    int level[kMaxStages] = {0, 0};   // mip level per stage
    bool linear[kMaxStages] = {false, false};
    RowWindow window;
};

struct DrawContext;
using SpanFn = void (*)(const DrawContext& ctx, const TriangleSetup& tri, int y, int x0, int x1);
// Half-open pixel range of one row; empty when x0 >= x1.
struct RowSpan {
    int x0, x1;
};
// Rows y0 .. y0 + count - 1 of one primitive at once, spans[k] being row y0 + k.
using RowsFn = void (*)(const DrawContext& ctx, const TriangleSetup& tri, int y0, int count, const RowSpan* spans);

struct ResolvedStage {
    std::uint32_t colorOp, colorArg[3], alphaOp, alphaArg[3];  // arg index 0 = Arg1, 1 = Arg2, 2 = Arg0
    const TextureView* texture;
    int levelCount;  // usable levels from the top
    bool usesTexture;
    std::uint32_t minFilter, magFilter, mipFilter, addressU, addressV, borderColor;
};

// What the specialised span routines read, resolved once per draw (span_select.cpp).
struct FastParams {
    // Channel masks (bits 0-15 b, 16-31 g, 32-47 r, 48-63 a as 16-bit lanes) forced to 255
    // before texture x diffuse: SELECTARG1(texture) forces diffuse to 255, and so on.
    std::uint64_t textureOr = 0, diffuseOr = 0;
    std::uint32_t addressU = 1, addressV = 1;
};

// A 16-bit target drawn through a 32-bit mirror (format_bridge.cpp): target is then the
// mirror, real the surface, span and rows the routines chosen for the mirror.
struct TargetBridge {
    SurfaceView real;
    SpanFn span = nullptr;
    RowsFn rows = nullptr;
};

// The routines a settled-runs wrapper hands on to (settled_runs.cpp).
struct SettledWrap {
    SpanFn span = nullptr;
    RowsFn rows = nullptr;
};

// Blend equations the specialised routines implement.
enum class FastBlend { kReplace, kAlpha, kAdditive, kOneOne };

struct HeldRows;

struct DrawContext {
    const DrawState* state = nullptr;
    SurfaceView target;
    TargetBridge bridge;
    SettledWrap settledWrap;
    bool settles = false;  // span keeps target.settled itself (a constant-colour fill)
    int clipLeft = 0, clipTop = 0, clipRight = 0, clipBottom = 0;  // half-open scissor
    bool flat = false;
    SpanFn span = nullptr;
    RowsFn rows = nullptr;  // when set, does what span does, a primitive's rows per call
    const char* spanName = "general";
    int stageCount = 0;
    ResolvedStage stages[kMaxStages] = {};
    bool blend = false;
    std::uint32_t srcBlend = d3d::kBlendOne, destBlend = d3d::kBlendZero, blendOp = d3d::kBlendOpAdd;
    FastParams fast;
    // A fragment of alpha 0 leaves the target as it was, and zero diffuse alpha forces it.
    bool clearAlphaIsNoop = false;
    // The textured rows blend with this equation, which leaves a pixel as it was wherever
    // texture alpha times diffuse is low enough: a primitive's rows may be cut to the
    // texels above that (footprint.cpp).
    bool windows = false;
    FastBlend windowBlend = FastBlend::kReplace;
    // Where the textured rows may leave pixels to be drawn when the draw call ends.
    HeldRows* held = nullptr;
};

// Storage for ctx.held when its rows may wait (its blend only adds to the target), or null;
// DrawHeldRows draws what waits there.
HeldRows* HoldRows(const DrawContext& ctx);
void DrawHeldRows(HeldRows& held);
// Rows y0 .. y0 + count - 1 (count <= 16, all 16 spans readable) of a constant-colour affine
// bilinear primitive, queued in ctx.held (which must be set) as ctx.rows would queue them,
// settled runs kept.
// False when some row would not wait there: nothing is done then, and ctx.rows draws them.
bool QueueHeldRows(const DrawContext& ctx, const TriangleSetup& t, int y0, int count, const RowSpan* spans);

// Specialised span routines (spans_fast.cpp); null when the CPU lacks what they need.
SpanFn TexturedSpan(FastBlend blend);
RowsFn TexturedRows(FastBlend blend);
SpanFn ColorSpan(FastBlend blend);
// ColorSpan's fill, skipping and marking the target's settled runs (target.settled set).
SpanFn SettlingColorSpan(FastBlend blend);

// Settled-runs upkeep (settled_runs.cpp).
// Called for every row drawn: the ends are stored directly, as a loop over one or two
// flags would become a library call.
inline void Unsettle(SettledRuns& runs, int y, int x0, int x1) {
    if (x0 >= x1) return;
    std::uint8_t* row = runs.flags + static_cast<std::ptrdiff_t>(y) * runs.perRow;
    const unsigned first = static_cast<unsigned>(x0) / SettledRuns::kPixels;
    const unsigned last = static_cast<unsigned>(x1 - 1) / SettledRuns::kPixels;
    row[first] = 0;
    row[last] = 0;
    for (unsigned r = first + 1; r < last; ++r) row[r] = 0;
}
// Makes key the fill the flags describe, clearing them when it was another.
void ClaimSettled(SettledRuns& runs, std::uint64_t key);
std::uint64_t FillKey(FastBlend blend, std::uint32_t argb);
// Routes every other routine's writes through the upkeep; call last in ResolveDraw.
void AttachSettledRuns(DrawContext& ctx);

// The pixels of a constant-colour affine primitive with texture coordinates within the
// corners' that can change the target (footprint.cpp); ctx.windows must be set. False when
// none can; otherwise window.on tells whether any row or pixel was ruled out.
bool FindRowWindow(const DrawContext& ctx, TriangleSetup& t, const Vertex* const* corners, int n);
// The same from the corners' texture coordinates alone.
bool FindRowWindow(const DrawContext& ctx, TriangleSetup& t, const float* u, const float* v, int n);

// The vertex transform of a draw of untransformed vertices (raster.cpp).
struct Transform {
    const float* m = nullptr;
    Viewport vp;
    float guardX = 1, guardY = 1;  // x/w, y/w limits of the guard band
};
inline constexpr float kMinW = 1.0e-5f;  // the near limit on w
// A vertex's diffuse colour as the draw shades it.
inline std::uint32_t DiffuseOf(const DrawState& state, const VertexLayout& layout, const std::uint8_t* p) {
    std::uint32_t diffuse = 0xFFFFFFFFu;
    if (layout.diffuseOffset >= 0) std::memcpy(&diffuse, p + layout.diffuseOffset, 4);
    if (state.lit && !layout.hasRHW) {
        const std::uint32_t alpha = state.litAlphaFromVertex && layout.diffuseOffset >= 0 ? diffuse : state.litColor;
        diffuse = (state.litColor & 0xFFFFFF) | (alpha & 0xFF000000u);
    }
    return diffuse;
}
// The elements a vertex is fetched from are bit for bit those of the vertex at q.
inline bool SameSource(const VertexLayout& layout, const std::uint8_t* p, const std::uint8_t* q) {
    // Words loaded straight from the elements (the last one overlapping the first when the
    // size is not a multiple of eight): copying them into a zeroed block first stalled every
    // compare on a store that could not forward to the load.
    auto same = [&](int offset, std::size_t bytes) {
        if (offset < 0) return true;
        if (bytes < 8) {
            std::uint32_t a, b;
            std::memcpy(&a, p + offset, 4);
            std::memcpy(&b, q + offset, 4);
            return a == b;
        }
        std::uint64_t a0, b0, a1, b1;
        std::memcpy(&a0, p + offset, 8);
        std::memcpy(&b0, q + offset, 8);
        std::memcpy(&a1, p + offset + bytes - 8, 8);
        std::memcpy(&b1, q + offset + bytes - 8, 8);
        return a0 == b0 && a1 == b1;
    };
    return same(layout.positionOffset, layout.hasRHW ? 16 : 12) && same(layout.diffuseOffset, 4) &&
           same(layout.texOffset, 8);
}

// FindRowWindow's inputs and results for sixteen quads, one a lane.
struct WindowLanes {
    static constexpr int kLanes = 16;
    alignas(64) float u[4][kLanes], v[4][kLanes];  // the corners' texture coordinates
    alignas(64) float udx[kLanes], udy[kLanes], vdx[kLanes], vdy[kLanes];  // u and v at corner 0 start the planes
    alignas(64) float originX[kLanes], originY[kLanes];
    std::uint32_t argb[kLanes];
    alignas(64) int yFirst[kLanes], yLast[kLanes];
    alignas(64) float startP[RowWindow::kAxes][kLanes], startQ[RowWindow::kAxes][kLanes];
    alignas(64) float endP[RowWindow::kAxes][kLanes], endQ[RowWindow::kAxes][kLanes];
    unsigned on = 0;  // bit k: lane k's window rules something out
};
// FindRowWindow of the affine constant-colour quads in lanes, all on level `level` of stage 0
// (footprint.cpp): the lanes it returns true for.
unsigned FindRowWindows(const DrawContext& ctx, int level, WindowLanes& w, unsigned lanes);
// Lane k's window, as FindRowWindow would have left it.
void TakeWindow(const WindowLanes& w, int k, RowWindow& out);

// A triangle list's quads, sixteen at a time (quad_block.cpp).
struct QuadBlock {
    const DrawContext* ctx;
    const DrawState* state;
    const VertexLayout* layout;
    const Transform* tf;
    int accept;           // the winding drawn, as RasterQuadPair takes it
    TriangleSetup setup;  // what every quad's set-up shares (QuadBlocksUsable)
};
// Whether a draw's quads can be set up in blocks, filling b.setup's shared part when so.
bool QuadBlocksUsable(const DrawContext& ctx, const DrawState& state, const VertexLayout& layout, QuadBlock& b);
// Quads 0 .. n - 1 (n <= 16) of a list at vertices, six vertices each: those of one colour
// whose second triangle repeats two corners of the first are transformed and set up together
// and drawn as RasterQuadPair draws them, those clear in both triangles are dropped. Bit k of
// the result: quad k was left to the caller, to be fetched and assembled one by one.
unsigned DrawQuadBlock(const QuadBlock& b, const std::uint8_t* vertices, int n);

// Fixed-function state resolution and span routine choice (span_select.cpp).
void ResolveDraw(const DrawState& state, const VertexLayout& layout, const SurfaceView& target,
                 DrawContext& ctx);

// Swaps a 16-bit ctx.target for its 32-bit mirror before the routine is chosen, and wraps
// the chosen routine afterwards (format_bridge.cpp).
void BeginTargetBridge(DrawContext& ctx);
void EndTargetBridge(DrawContext& ctx);

// Triangle, line and point rasterization in screen space (triangle.cpp). flatColor is the
// provoking vertex's colour. acceptWinding +1 draws only clockwise (area > 0 on a y-down
// screen), -1 only counter-clockwise, 0 both. TriangleWinding is that sign after snapping
// (0: degenerate or unusable).
void RasterTriangle(const DrawContext& ctx, const Vertex& a, const Vertex& b, const Vertex& c,
                    const float flatColor[4], int acceptWinding);
int TriangleWinding(const Vertex& a, const Vertex& b, const Vertex& c);
// Two list triangles (a, b, c) and (e, f, d), where e, f are b, c or c, b, forming one convex
// quad with shared attribute planes are scanned as that quad: one span per row instead of
// two. Coverage is the union of the two triangles' (the shared diagonal is interior). False
// when they do not qualify; nothing is drawn then. The corners come one by one, not as
// arrays: loading an array of pointers stored a pointer at a time stalls.
bool RasterQuadPair(const DrawContext& ctx, const Vertex& a, const Vertex& b, const Vertex& c, const Vertex& e,
                    const Vertex& f, const Vertex& d, const float flatFirst[4], const float flatSecond[4],
                    int accept);
// The clipped rows and columns of pixels whose centres lie in the bounding box of a
// primitive's snapped corners.
struct PixelBounds {
    std::int64_t yTop, yEnd, xBegin, xEnd;
    bool Empty() const { return yTop >= yEnd || xBegin >= xEnd; }
};
// The rows of a merged quad (corners X, Y in sixteenths of a pixel, clockwise on the y-down
// screen, box their bounds), once its set-up and window are known: RasterQuadPair's last step.
void ConvexQuadRows(const DrawContext& ctx, const std::int64_t* X, const std::int64_t* Y, const TriangleSetup& t,
                    const PixelBounds& box);
void RasterLine(const DrawContext& ctx, const Vertex& a, const Vertex& b, const float flatColor[4],
                bool lastPixel);
void RasterPoint(const DrawContext& ctx, const Vertex& p, float size);

// The general per-pixel pipeline (shade_general.cpp).
void GeneralSpan(const DrawContext& ctx, const TriangleSetup& tri, int y, int x0, int x1);

// floor(a / b) for b > 0, through a double division: much faster than a 64-bit integer one,
// and exact while |a| < 2^52 (edge set-up stays below 2^51), where a quotient just below an
// integer cannot round onto it. The remainder check guards that all the same.
inline std::int64_t FloorDivide(std::int64_t a, std::int64_t b) {
    constexpr std::int64_t kExact = std::int64_t{1} << 52;
    std::int64_t q;
    if (a > -kExact && a < kExact) {
        // Truncation is floor or one above it; the remainder test below corrects that too.
        q = static_cast<std::int64_t>(static_cast<double>(a) / static_cast<double>(b));
    } else {
        q = a / b;
    }
    // Without branches: the correction follows the data and would mispredict.
    const std::int64_t r = a - q * b;
    return q + (r >> 63) - ((b - 1 - r) >> 63);
}

// Colour arithmetic shared by the paths: x * y / 255 rounded to nearest.
inline std::uint32_t Mul255(std::uint32_t x, std::uint32_t y) {
    const std::uint32_t t = x * y + 128;
    return (t + (t >> 8)) >> 8;
}
inline std::uint32_t Div255(std::uint32_t t) { return (t + 127) / 255; }
// The frame-buffer blend rounds down: a faint fade repeated every frame must reach black
// instead of stalling at the level where rounding gives back what it took.
inline std::uint32_t BlendDiv255(std::uint32_t t) { return t / 255; }

}  // namespace raster
