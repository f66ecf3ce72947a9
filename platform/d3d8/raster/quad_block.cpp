// A particle draw is thousands of small quads, each costing more to fetch, check and set up
// one at a time than its few pixels cost to draw. Here sixteen quads go through those steps
// at once, one per lane, each lane doing the very operations the one-quad path does in the
// same order, so that every quad is drawn bit for bit as it would be alone.
#include <immintrin.h>

#include <cstring>

#include "platform/d3d8/raster/raster_internal.h"

namespace raster {
namespace {

constexpr int kLanes = 16;
constexpr int kSubpixel = 16;
constexpr int kSmallExtent = 64 * kSubpixel;  // sixteenths; the queue's quads are smaller

// The corners as RasterQuadPair orders them: a, b, d, c of the triangles (a, b, c), (b, c, d),
// and the vertex of the six each one is fetched from.
constexpr int kCornerVertex[4] = {0, 1, 5, 2};

// What the vector pass leaves for the lanes it sets up; the texture planes, origin and colour
// are kept where the row windows are found from them.
struct Lanes {
    alignas(64) int X[4][kLanes], Y[4][kLanes];
    alignas(64) int yTop[kLanes], yEnd[kLanes], xBegin[kLanes], xEnd[kLanes];
    alignas(64) float qdx[kLanes], qdy[kLanes];
    WindowLanes win;
    unsigned counterClockwise = 0;  // bit k: quad k's corners turn the other way
};

HALVORA_INTRINSIC_WARNINGS_OFF

// One corner of every lane, transformed and projected as FetchCorners does it.
struct Corner {
    __m512 sx, sy, rhw, u, v;
};

HALVORA_AVX512 inline __m512 Gather(__mmask16 lanes, __m512i at, const std::uint8_t* base) {
    return _mm512_mask_i32gather_ps(_mm512_setzero_ps(), lanes, at, base, 1);
}

// Lanes whose transformed corner is unusable or outside any clip plane.
HALVORA_AVX512 inline __mmask16 TransformCorner(const QuadBlock& b, __mmask16 lanes, __m512i at,
                                                const std::uint8_t* vertices, Corner& out) {
    const VertexLayout& layout = *b.layout;
    const Transform& tf = *b.tf;
    const __m512i po = _mm512_add_epi32(at, _mm512_set1_epi32(layout.positionOffset));
    const __m512 x = Gather(lanes, po, vertices);
    const __m512 y = Gather(lanes, _mm512_add_epi32(po, _mm512_set1_epi32(4)), vertices);
    const __m512 z = Gather(lanes, _mm512_add_epi32(po, _mm512_set1_epi32(8)), vertices);
    const __m512i to = _mm512_add_epi32(at, _mm512_set1_epi32(layout.texOffset));
    out.u = Gather(lanes, to, vertices);
    out.v = Gather(lanes, _mm512_add_epi32(to, _mm512_set1_epi32(4)), vertices);
    const float* m = tf.m;
    auto column = [&](int c) HALVORA_AVX512 {
        const __m512 sum = _mm512_add_ps(_mm512_add_ps(_mm512_mul_ps(x, _mm512_set1_ps(m[c])),
                                                       _mm512_mul_ps(y, _mm512_set1_ps(m[4 + c]))),
                                         _mm512_mul_ps(z, _mm512_set1_ps(m[8 + c])));
        return _mm512_add_ps(sum, _mm512_set1_ps(m[12 + c]));
    };
    const __m512 cx = column(0), cy = column(1), cz = column(2), cw = column(3);
    const __m512 zero = _mm512_setzero_ps();
    auto unordered = [&](__m512 v) HALVORA_AVX512 {
        const __m512 zeroed = _mm512_mul_ps(v, zero);
        return _mm512_cmp_ps_mask(zeroed, zeroed, _CMP_UNORD_Q);
    };
    auto below = [&](__m512 distance) HALVORA_AVX512 { return _mm512_cmp_ps_mask(distance, zero, _CMP_LT_OQ); };
    const __m512 gx = _mm512_mul_ps(_mm512_set1_ps(tf.guardX), cw), gy = _mm512_mul_ps(_mm512_set1_ps(tf.guardY), cw);
    const __mmask16 outside = unordered(cx) | unordered(cy) | unordered(cz) | unordered(cw) |
                              below(_mm512_sub_ps(cw, _mm512_set1_ps(kMinW))) | below(cz) | below(_mm512_sub_ps(cw, cz)) |
                              below(_mm512_sub_ps(gx, cx)) | below(_mm512_add_ps(gx, cx)) | below(_mm512_sub_ps(gy, cy)) |
                              below(_mm512_add_ps(gy, cy));
    const __m512 one = _mm512_set1_ps(1.0f), half = _mm512_set1_ps(0.5f);
    out.rhw = _mm512_div_ps(one, cw);
    out.sx = _mm512_add_ps(_mm512_set1_ps(static_cast<float>(tf.vp.x)),
                           _mm512_mul_ps(_mm512_mul_ps(_mm512_add_ps(one, _mm512_mul_ps(cx, out.rhw)),
                                                       _mm512_set1_ps(static_cast<float>(tf.vp.width))),
                                         half));
    out.sy = _mm512_add_ps(_mm512_set1_ps(static_cast<float>(tf.vp.y)),
                           _mm512_mul_ps(_mm512_mul_ps(_mm512_sub_ps(one, _mm512_mul_ps(cy, out.rhw)),
                                                       _mm512_set1_ps(static_cast<float>(tf.vp.height))),
                                         half));
    return outside;
}

HALVORA_AVX512 inline __m512i Area(const __m512i* X, const __m512i* Y, int i, int j, int k) {
    return _mm512_sub_epi32(_mm512_mullo_epi32(_mm512_sub_epi32(X[j], X[i]), _mm512_sub_epi32(Y[k], Y[i])),
                            _mm512_mullo_epi32(_mm512_sub_epi32(X[k], X[i]), _mm512_sub_epi32(Y[j], Y[i])));
}

// SharesPlanes for affine quads of one colour, in doubles, eight lanes at a time: corner d
// lies on the texture planes through a, b and c.
HALVORA_AVX512 inline __mmask8 SharesPlanesHalf(const Corner* c, int half) {
    auto wide = [half](__m512 v) HALVORA_AVX512 {
        return _mm512_cvtps_pd(half ? _mm512_extractf32x8_ps(v, 1) : _mm512_castps512_ps256(v));
    };
    // a, b, c, d: corners 0, 1, 3, 2 of the quad's order.
    const __m512d ax = wide(c[0].sx), ay = wide(c[0].sy);
    const __m512d bx = _mm512_sub_pd(wide(c[1].sx), ax), by = _mm512_sub_pd(wide(c[1].sy), ay);
    const __m512d cx = _mm512_sub_pd(wide(c[3].sx), ax), cy = _mm512_sub_pd(wide(c[3].sy), ay);
    const __m512d dx = _mm512_sub_pd(wide(c[2].sx), ax), dy = _mm512_sub_pd(wide(c[2].sy), ay);
    const __m512d det = _mm512_sub_pd(_mm512_mul_pd(bx, cy), _mm512_mul_pd(cx, by));
    const __m512d zero = _mm512_setzero_pd(), one = _mm512_set1_pd(1.0), tolerance = _mm512_set1_pd(1e-5);
    const __m512d magnitude = _mm512_castsi512_pd(_mm512_set1_epi64(0x7FFFFFFFFFFFFFFF));
    auto abs = [&](__m512d v) HALVORA_AVX512 { return _mm512_and_pd(v, magnitude); };
    __mmask8 ok = _mm512_cmp_pd_mask(det, zero, _CMP_NEQ_OQ) &
                  _mm512_cmp_pd_mask(abs(det), _mm512_set1_pd(__builtin_inf()), _CMP_LT_OQ);
    const __m512d s = _mm512_div_pd(_mm512_sub_pd(_mm512_mul_pd(dx, cy), _mm512_mul_pd(cx, dy)), det);
    const __m512d t = _mm512_div_pd(_mm512_sub_pd(_mm512_mul_pd(bx, dy), _mm512_mul_pd(dx, by)), det);
    auto predicted = [&](__m512d fa, __m512d fb, __m512d fc) HALVORA_AVX512 {
        return _mm512_add_pd(_mm512_add_pd(fa, _mm512_mul_pd(s, _mm512_sub_pd(fb, fa))),
                             _mm512_mul_pd(t, _mm512_sub_pd(fc, fa)));
    };
    auto near = [&](__m512d a, __m512d b) HALVORA_AVX512 {
        return _mm512_cmp_pd_mask(abs(_mm512_sub_pd(a, b)), _mm512_mul_pd(tolerance, _mm512_add_pd(one, abs(a))),
                                  _CMP_LE_OQ);
    };
    ok &= near(predicted(one, one, one), one);
    ok &= near(predicted(wide(c[0].u), wide(c[1].u), wide(c[3].u)), wide(c[2].u));
    ok &= near(predicted(wide(c[0].v), wide(c[1].v), wide(c[3].v)), wide(c[2].v));
    return ok;  // the colours, all one, lie on their planes wherever s and t are finite
}

// The quads of lanes that can be set up here, fetched, checked and set up; drawn is set to
// the lanes to draw (the others of lanes went wrong somewhere and are left to the caller).
HALVORA_AVX512 __mmask16 SetUpLanes(const QuadBlock& b, const std::uint8_t* vertices, __mmask16 lanes, Lanes& out,
                                    __mmask16& drawn) {
    const DrawContext& ctx = *b.ctx;
    const __m512i lane = _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    const __m512i quadAt = _mm512_mullo_epi32(lane, _mm512_set1_epi32(6 * b.layout->stride));
    Corner c[4];
    __mmask16 bad = 0;
    for (int k = 0; k < 4; ++k) {
        const __m512i at = _mm512_add_epi32(quadAt, _mm512_set1_epi32(kCornerVertex[k] * b.layout->stride));
        bad |= TransformCorner(b, lanes, at, vertices, c[k]);
    }
    // Snapped to the sub-pixel grid.
    const __m512 limit = _mm512_set1_ps(1 << 20), sixteen = _mm512_set1_ps(static_cast<float>(kSubpixel));
    const __m512 magnitude = _mm512_castsi512_ps(_mm512_set1_epi32(0x7FFFFFFF));
    __m512i X[4], Y[4];
    for (int k = 0; k < 4; ++k) {
        bad |= _mm512_cmp_ps_mask(_mm512_and_ps(c[k].sx, magnitude), limit, _CMP_NLT_UQ) |
               _mm512_cmp_ps_mask(_mm512_and_ps(c[k].sy, magnitude), limit, _CMP_NLT_UQ);
        X[k] = _mm512_cvtps_epi32(_mm512_mul_ps(c[k].sx, sixteen));
        Y[k] = _mm512_cvtps_epi32(_mm512_mul_ps(c[k].sy, sixteen));
    }
    lanes &= static_cast<__mmask16>(~bad);
    // The box of pixel centres, clipped; quads without one draw nothing.
    const __m512i minX = _mm512_min_epi32(_mm512_min_epi32(X[0], X[1]), _mm512_min_epi32(X[2], X[3]));
    const __m512i maxX = _mm512_max_epi32(_mm512_max_epi32(X[0], X[1]), _mm512_max_epi32(X[2], X[3]));
    const __m512i minY = _mm512_min_epi32(_mm512_min_epi32(Y[0], Y[1]), _mm512_min_epi32(Y[2], Y[3]));
    const __m512i maxY = _mm512_max_epi32(_mm512_max_epi32(Y[0], Y[1]), _mm512_max_epi32(Y[2], Y[3]));
    const __m512i up = _mm512_set1_epi32(kSubpixel - 1), one = _mm512_set1_epi32(1);
    const __m512i yTop = _mm512_max_epi32(_mm512_set1_epi32(ctx.clipTop), _mm512_srai_epi32(_mm512_add_epi32(minY, up), 4));
    const __m512i yEnd = _mm512_min_epi32(_mm512_set1_epi32(ctx.clipBottom), _mm512_add_epi32(_mm512_srai_epi32(maxY, 4), one));
    const __m512i xBegin = _mm512_max_epi32(_mm512_set1_epi32(ctx.clipLeft), _mm512_srai_epi32(_mm512_add_epi32(minX, up), 4));
    const __m512i xEnd = _mm512_min_epi32(_mm512_set1_epi32(ctx.clipRight), _mm512_add_epi32(_mm512_srai_epi32(maxX, 4), one));
    const __mmask16 boxed = _mm512_cmplt_epi32_mask(yTop, yEnd) & _mm512_cmplt_epi32_mask(xBegin, xEnd);
    const __mmask16 done = lanes & static_cast<__mmask16>(~boxed);  // nothing to draw
    lanes &= boxed;
    // Larger quads are left to the one-quad path, which keeps its areas in 64 bits.
    const __m512i extent = _mm512_set1_epi32(kSmallExtent);
    lanes &= _mm512_cmple_epi32_mask(_mm512_sub_epi32(maxX, minX), extent) &
             _mm512_cmple_epi32_mask(_mm512_sub_epi32(maxY, minY), extent);
    // Both triangles drawn by the winding, and the quad convex.
    const __m512i zeroI = _mm512_setzero_si512();
    const __m512i a1 = Area(X, Y, 0, 1, 3), a2 = Area(X, Y, 1, 3, 2);
    auto accepted = [&](__m512i ar) HALVORA_AVX512 {
        __mmask16 m = _mm512_cmpneq_epi32_mask(ar, zeroI);
        if (b.accept > 0) m &= _mm512_cmpge_epi32_mask(ar, zeroI);
        if (b.accept < 0) m &= _mm512_cmple_epi32_mask(ar, zeroI);
        return m;
    };
    lanes &= accepted(a1) & accepted(a2);
    const __mmask16 clockwise = _mm512_cmpgt_epi32_mask(a1, zeroI);
    for (int i = 0; i < 4; ++i) {
        const __m512i turn = Area(X, Y, i, (i + 1) % 4, (i + 2) % 4);
        lanes &= _mm512_cmpneq_epi32_mask(turn, zeroI) &
                 static_cast<__mmask16>(~(_mm512_cmpgt_epi32_mask(turn, zeroI) ^ clockwise));
    }
    // SetupAttributes on a, b, c, which every lane's quad shares as affine and of one colour.
    const __m512 sixteenth = _mm512_set1_ps(1.0f / kSubpixel);
    auto at = [&](const __m512i* V, int k) HALVORA_AVX512 { return _mm512_mul_ps(_mm512_cvtepi32_ps(V[k]), sixteenth); };
    const __m512 x0 = at(X, 0), y0 = at(Y, 0);
    const __m512 dx1 = _mm512_sub_ps(at(X, 1), x0), dy1 = _mm512_sub_ps(at(Y, 1), y0);
    const __m512 dx2 = _mm512_sub_ps(at(X, 3), x0), dy2 = _mm512_sub_ps(at(Y, 3), y0);
    const __m512 det = _mm512_sub_ps(_mm512_mul_ps(dx1, dy2), _mm512_mul_ps(dx2, dy1));
    lanes &= _mm512_cmp_ps_mask(det, _mm512_setzero_ps(), _CMP_NEQ_OQ) &
             _mm512_cmp_ps_mask(_mm512_and_ps(det, magnitude), _mm512_set1_ps(__builtin_inff()), _CMP_LT_OQ);
    // Affine: one rhw at a, b and c, and at d too.
    lanes &= _mm512_cmp_ps_mask(c[0].rhw, c[1].rhw, _CMP_EQ_OQ) & _mm512_cmp_ps_mask(c[1].rhw, c[3].rhw, _CMP_EQ_OQ) &
             _mm512_cmp_ps_mask(c[2].rhw, c[0].rhw, _CMP_EQ_OQ);
    const __m512 invDet = _mm512_div_ps(_mm512_set1_ps(1.0f), det);
    auto plane = [&](__m512 f0, __m512 f1, __m512 f2, float* outDx, float* outDy) HALVORA_AVX512 {
        const __m512 d1 = _mm512_sub_ps(f1, f0), d2 = _mm512_sub_ps(f2, f0);
        _mm512_store_ps(outDx, _mm512_mul_ps(_mm512_sub_ps(_mm512_mul_ps(d1, dy2), _mm512_mul_ps(d2, dy1)), invDet));
        _mm512_store_ps(outDy, _mm512_mul_ps(_mm512_sub_ps(_mm512_mul_ps(d2, dx1), _mm512_mul_ps(d1, dx2)), invDet));
    };
    const __m512 unit = _mm512_set1_ps(1.0f);
    plane(unit, unit, unit, out.qdx, out.qdy);
    // Texture coordinates times q, which is 1.
    WindowLanes& win = out.win;
    plane(_mm512_mul_ps(c[0].u, unit), _mm512_mul_ps(c[1].u, unit), _mm512_mul_ps(c[3].u, unit), win.udx, win.udy);
    plane(_mm512_mul_ps(c[0].v, unit), _mm512_mul_ps(c[1].v, unit), _mm512_mul_ps(c[3].v, unit), win.vdx, win.vdy);
    lanes &= static_cast<__mmask16>(SharesPlanesHalf(c, 0) | SharesPlanesHalf(c, 1) << 8);

    _mm512_store_ps(win.originX, x0);
    _mm512_store_ps(win.originY, y0);
    for (int k = 0; k < 4; ++k) {
        _mm512_store_si512(out.X[k], X[k]);
        _mm512_store_si512(out.Y[k], Y[k]);
        _mm512_store_ps(win.u[k], _mm512_mul_ps(c[k].u, unit));
        _mm512_store_ps(win.v[k], _mm512_mul_ps(c[k].v, unit));
    }
    _mm512_store_si512(out.yTop, yTop);
    _mm512_store_si512(out.yEnd, yEnd);
    _mm512_store_si512(out.xBegin, xBegin);
    _mm512_store_si512(out.xEnd, xEnd);
    out.counterClockwise = static_cast<unsigned>(~clockwise) & 0xFFFFu;
    drawn = lanes;
    return done;
}

HALVORA_INTRINSIC_WARNINGS_ON

// Lane k's quad, set up as RasterQuadPair sets up its own, with its window, and its rows.
void DrawLane(const QuadBlock& b, const Lanes& l, int k) {
    const DrawContext& ctx = *b.ctx;
    const WindowLanes& win = l.win;
    TriangleSetup t = b.setup;
    t.originX = win.originX[k];
    t.originY = win.originY[k];
    t.q = Plane{1.0f, l.qdx[k], l.qdy[k]};
    t.u = Plane{win.u[0][k], win.udx[k], win.udy[k]};
    t.v = Plane{win.v[0][k], win.vdx[k], win.vdy[k]};
    const std::uint32_t argb = win.argb[k];
    t.argb = argb;
    const float channel[4] = {static_cast<float>((argb >> 16) & 255), static_cast<float>((argb >> 8) & 255),
                              static_cast<float>(argb & 255), static_cast<float>(argb >> 24)};
    for (int i = 0; i < 4; ++i) t.color[i] = Plane{channel[i], 0, 0};
    if (ctx.windows) TakeWindow(win, k, t.window);
    std::int64_t X[4], Y[4];
    for (int i = 0; i < 4; ++i) {
        X[i] = l.X[i][k];
        Y[i] = l.Y[i][k];
    }
    if (l.counterClockwise >> k & 1) {
        std::swap(X[1], X[3]);
        std::swap(Y[1], Y[3]);
    }
    const PixelBounds box{l.yTop[k], l.yEnd[k], l.xBegin[k], l.xEnd[k]};
    ConvexQuadRows(ctx, X, Y, t, box);
}

}  // namespace

bool QuadBlocksUsable(const DrawContext& ctx, const DrawState& state, const VertexLayout& layout, QuadBlock& b) {
    if (!ctx.held || layout.hasRHW || layout.texOffset < 0 || layout.stride > 4096 || !ctx.clearAlphaIsNoop ||
        state.fillMode != d3d::kFillSolid) {
        return false;
    }
    // The levels must not depend on a quad's footprint (ChooseLevels' first case).
    TriangleSetup& t = b.setup;
    for (int s = 0; s < ctx.stageCount; ++s) {
        const ResolvedStage& st = ctx.stages[s];
        if (!st.usesTexture) continue;
        if (st.magFilter != st.minFilter || (st.mipFilter != d3d::kFilterNone && st.levelCount != 1)) return false;
        t.level[s] = 0;
        t.linear[s] = st.magFilter == d3d::kFilterLinear;
    }
    t.constantColor = true;
    t.affine = true;
    t.window.on = false;
    b.ctx = &ctx;
    b.state = &state;
    b.layout = &layout;
    b.accept = state.cullMode == d3d::kCullCcw ? 1 : state.cullMode == d3d::kCullCw ? -1 : 0;
    return true;
}

unsigned DrawQuadBlock(const QuadBlock& b, const std::uint8_t* vertices, int n) {
    const VertexLayout& layout = *b.layout;
    const std::size_t stride = static_cast<std::size_t>(layout.stride);
    const bool flat = b.ctx->flat;
    Lanes l;
    unsigned blocked = 0, fetched = 0;
    for (int q = 0; q < n; ++q) {
        const std::uint8_t* p = vertices + static_cast<std::size_t>(6 * q) * stride;
        std::uint32_t d[6];
        for (int k = 0; k < 6; ++k) d[k] = DiffuseOf(*b.state, layout, p + static_cast<std::size_t>(k) * stride);
        // As the one-quad fetch drops them: a triangle of zero alpha draws nothing.
        auto clear = [&](int k) { return flat ? (d[k] >> 24) == 0 : ((d[k] | d[k + 1] | d[k + 2]) >> 24) == 0; };
        if (clear(0) && clear(3)) continue;
        const bool oneColor = d[1] == d[0] && d[2] == d[0] && d[3] == d[0] && d[4] == d[0] && d[5] == d[0];
        if (oneColor && SameSource(layout, p + 3 * stride, p + stride) && SameSource(layout, p + 4 * stride, p + 2 * stride)) {
            fetched |= 1u << q;
            l.win.argb[q] = d[0];
        } else {
            blocked |= 1u << q;
        }
    }
    if (fetched == 0) return blocked;
    __mmask16 drawn = 0;
    const __mmask16 done = SetUpLanes(b, vertices, static_cast<__mmask16>(fetched), l, drawn);
    unsigned shown = drawn;
    if (b.ctx->windows) shown = FindRowWindows(*b.ctx, b.setup.level[0], l.win, shown);
    for (unsigned m = shown; m != 0; m &= m - 1) DrawLane(b, l, __builtin_ctz(m));
    return blocked | (fetched & ~static_cast<unsigned>(drawn) & ~static_cast<unsigned>(done));
}

}  // namespace raster
