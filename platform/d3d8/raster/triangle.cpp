// Triangle setup and scan conversion. Vertices snap to 1/16 pixel; each edge is an exact
// integer half-plane, and every row's span is the intersection of the three half-planes'
// x intervals, stepped per row with floor division remainders (no per-pixel edge tests).
#include <immintrin.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "platform/d3d8/raster/raster_internal.h"

namespace raster {
namespace {

constexpr int kSubpixelBits = 4;
constexpr std::int64_t kSubpixel = 1 << kSubpixelBits;

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {  // b > 0
    std::int64_t q = a / b;
    if ((a % b) < 0) --q;
    return q;
}

// floor(R / d) for R advancing by step each row.
// Left uninitialised until Init: an edge set is built for every triangle, and zeroing its
// unused steppers cost more than stepping the used ones.
struct FloorStepper {
    std::int64_t q, r, dq, dr, d;
    void Init(std::int64_t value, std::int64_t step, std::int64_t divisor) {
        d = divisor;
        q = FloorDivide(value, d);
        r = value - q * d;
        dq = FloorDivide(step, d);
        dr = step - dq * d;
    }
    // Branch-free: the carry is data-dependent and mispredicts on most rows of a slanted edge.
    void Advance() {
        q += dq;
        r += dr;
        const std::int64_t over = (d - 1 - r) >> 63;  // -1 once r >= d (r < 2d always)
        q -= over;
        r -= d & over;
    }
};

// The sloped edges bounding one side of a convex polygon, from the top down (by their upper
// ends: several may end in one row). The first edge whose end row lies past a row spans it
// (horizontal edges only limit rows).
struct Chain {
    int edge[4];
    std::int64_t top[4], end[4];
    int count = 0;
    void Add(int i, std::int64_t upper, std::int64_t rowEnd) {
        int k = count++;
        for (; k > 0 && top[k - 1] > upper; --k) {
            edge[k] = edge[k - 1];
            top[k] = top[k - 1];
            end[k] = end[k - 1];
        }
        edge[k] = i;
        top[k] = upper;
        end[k] = rowEnd;
    }
};

// Emits rows in batches to ctx.rows or one by one to ctx.span.
class RowEmitter {
public:
    RowEmitter(const DrawContext& ctx, const TriangleSetup& t) : ctx_(ctx), t_(t) {}

    // Rows y0 .. y1 - 1 between one left and one right edge; the steppers come back advanced.
    // Within a convex polygon the edge spanning a row bounds it at least as tightly as every
    // other edge of its side (and the same at a shared corner), so the others need no step.
    void Segment(FloorStepper& left, FloorStepper& right, std::int64_t y0, std::int64_t y1, std::int64_t yEnd,
                 std::int64_t xBegin, std::int64_t xEnd) {
        // Local copies stay in registers; the row callback could otherwise alias them and
        // force every step through memory.
        FloorStepper l = left, r = right;
        for (std::int64_t y = y0; y < y1; ++y) {
            const std::int64_t lo = std::max(xBegin, -l.q), hi = std::min(xEnd, r.q + 1);
            l.Advance();
            r.Advance();
            Row(y, lo, hi, y + 1 == yEnd);
        }
        left = l;
        right = r;
    }

private:
    void Row(std::int64_t y, std::int64_t lo, std::int64_t hi, bool last) {
        if (!ctx_.rows) {
            if (lo < hi) ctx_.span(ctx_, t_, static_cast<int>(y), static_cast<int>(lo), static_cast<int>(hi));
            return;
        }
        batch_[batched_++] = lo < hi ? RowSpan{static_cast<int>(lo), static_cast<int>(hi)} : RowSpan{0, 0};
        if (batched_ == kBatch || last) {
            ctx_.rows(ctx_, t_, static_cast<int>(y + 1 - batched_), batched_, batch_);
            batched_ = 0;
        }
    }

    static constexpr int kBatch = 64;
    const DrawContext& ctx_;
    const TriangleSetup& t_;
    RowSpan batch_[kBatch];
    int batched_ = 0;
};

Plane MakePlane(const float f[3], float x1, float y1, float x2, float y2, float invDet) {
    Plane p;
    const float d1 = f[1] - f[0], d2 = f[2] - f[0];
    p.c = f[0];
    p.dx = (d1 * y2 - d2 * y1) * invDet;
    p.dy = (d2 * x1 - d1 * x2) * invDet;
    return p;
}

std::uint32_t PackColor(const float c[4]) {
    // Rounds half away from zero, as lround does, without its library call: every constant
    // colour primitive passes here.
    auto ch = [](float v) -> std::uint32_t {
        if (!(v > 0.0f)) return 0;  // NaN too
        if (!(v < 255.0f)) return 255;
        const int whole = static_cast<int>(v);
        return static_cast<std::uint32_t>(whole + (v - static_cast<float>(whole) >= 0.5f ? 1 : 0));
    };
    return ch(c[3]) << 24 | ch(c[0]) << 16 | ch(c[1]) << 8 | ch(c[2]);
}

void ChooseLevels(const DrawContext& ctx, TriangleSetup& t, float cx, float cy) {
    for (int s = 0; s < ctx.stageCount; ++s) {
        const ResolvedStage& st = ctx.stages[s];
        if (!st.usesTexture) continue;
        t.level[s] = 0;
        if (st.magFilter == st.minFilter && (st.mipFilter == d3d::kFilterNone || st.levelCount == 1)) {
            t.linear[s] = st.magFilter == d3d::kFilterLinear;  // the footprint cannot change anything
            continue;
        }
        const SurfaceView& top = st.texture->levels[0];
        const float q = t.q.c + t.q.dx * cx + t.q.dy * cy;
        const float u = (t.u.c + t.u.dx * cx + t.u.dy * cy) / q;
        const float v = (t.v.c + t.v.dx * cx + t.v.dy * cy) / q;
        const float dudx = (t.u.dx - u * t.q.dx) / q * top.width, dudy = (t.u.dy - u * t.q.dy) / q * top.width;
        const float dvdx = (t.v.dx - v * t.q.dx) / q * top.height, dvdy = (t.v.dy - v * t.q.dy) / q * top.height;
        const float rho2 = std::max(dudx * dudx + dvdx * dvdx, dudy * dudy + dvdy * dvdy);
        const float lod = rho2 > 0 && std::isfinite(rho2) ? 0.5f * std::log2(rho2) : 0.0f;
        const bool magnified = lod <= 0.0f;
        t.linear[s] = (magnified ? st.magFilter : st.minFilter) == d3d::kFilterLinear;
        t.level[s] = 0;
        if (st.mipFilter != d3d::kFilterNone && !magnified) {
            t.level[s] = std::clamp(static_cast<int>(std::floor(lod + 0.5f)), 0, st.levelCount - 1);
        }
    }
}

bool SetupAttributes(const DrawContext& ctx, const Vertex* v[3], const float flatColor[4], float x0, float y0,
                     float x1, float y1, float x2, float y2, TriangleSetup& t) {
    const float dx1 = x1 - x0, dy1 = y1 - y0, dx2 = x2 - x0, dy2 = y2 - y0;
    const float det = dx1 * dy2 - dx2 * dy1;
    if (det == 0.0f || !std::isfinite(det)) return false;
    const float invDet = 1.0f / det;
    t.originX = x0;
    t.originY = y0;

    float q[3] = {v[0]->pos[3], v[1]->pos[3], v[2]->pos[3]};
    t.affine = q[0] == q[1] && q[1] == q[2];
    if (!t.affine) {
        for (float w : q) {
            if (!(w > 0.0f) || !std::isfinite(w)) t.affine = true;  // unusable rhw: interpolate linearly
        }
    }
    if (t.affine) q[0] = q[1] = q[2] = 1.0f;
    const float u[3] = {v[0]->tex[0] * q[0], v[1]->tex[0] * q[1], v[2]->tex[0] * q[2]};
    const float w[3] = {v[0]->tex[1] * q[0], v[1]->tex[1] * q[1], v[2]->tex[1] * q[2]};
    t.q = MakePlane(q, dx1, dy1, dx2, dy2, invDet);
    t.u = MakePlane(u, dx1, dy1, dx2, dy2, invDet);
    t.v = MakePlane(w, dx1, dy1, dx2, dy2, invDet);

    const bool same = std::equal(v[0]->color, v[0]->color + 4, v[1]->color) &&
                      std::equal(v[0]->color, v[0]->color + 4, v[2]->color);
    t.constantColor = ctx.flat || same;
    if (t.constantColor) {
        const float* c = ctx.flat ? flatColor : v[0]->color;
        t.argb = PackColor(c);
        for (int i = 0; i < 4; ++i) t.color[i] = Plane{c[i], 0, 0};
    } else {
        for (int i = 0; i < 4; ++i) {
            const float c[3] = {v[0]->color[i], v[1]->color[i], v[2]->color[i]};
            t.color[i] = MakePlane(c, dx1, dy1, dx2, dy2, invDet);
        }
    }
    ChooseLevels(ctx, t, (dx1 + dx2) / 3.0f, (dy1 + dy2) / 3.0f);
    return true;
}

bool Snap(float f, std::int64_t& out) {
    const float limit = 1 << 20;
    if (!(std::fabs(f) < limit)) return false;
    out = static_cast<std::int64_t>(std::lrint(f * kSubpixel));
    return true;
}

PixelBounds BoundsOf(const DrawContext& ctx, const std::int64_t* X, const std::int64_t* Y, int n) {
    const std::int64_t minY = *std::min_element(Y, Y + n), maxY = *std::max_element(Y, Y + n);
    const std::int64_t minX = *std::min_element(X, X + n), maxX = *std::max_element(X, X + n);
    return {std::max<std::int64_t>(ctx.clipTop, FloorDiv(minY + kSubpixel - 1, kSubpixel)),
            std::min<std::int64_t>(ctx.clipBottom, FloorDiv(maxY, kSubpixel) + 1),
            std::max<std::int64_t>(ctx.clipLeft, FloorDiv(minX + kSubpixel - 1, kSubpixel)),
            std::min<std::int64_t>(ctx.clipRight, FloorDiv(maxX, kSubpixel) + 1)};
}

// Rows of the convex polygon X, Y (n <= 4 vertices, clockwise on the y-down screen), whose
// BoundsOf is box.
void ScanConvex(const DrawContext& ctx, const std::int64_t* X, const std::int64_t* Y, int n, const TriangleSetup& t,
                const PixelBounds& box) {
    if (box.Empty()) return;
    std::int64_t yTop = box.yTop, yEnd = box.yEnd;
    if (t.window.on) {
        yTop = std::max<std::int64_t>(yTop, t.window.yFirst);
        yEnd = std::min<std::int64_t>(yEnd, std::int64_t{t.window.yLast} + 1);
        if (yTop >= yEnd) return;
    }
    const std::int64_t xBegin = box.xBegin, xEnd = box.xEnd;

    // E(P) = dx (Py - Yi) - dy (Px - Xi) > 0 inside; a top or left edge also owns E == 0.
    // At row y that is dx (16 y - Yi) + dy Xi - 16 dy x (minus 1 unless top-left) >= 0.
    auto next = [n](int i) { return i + 1 == n ? 0 : i + 1; };
    auto rowValue = [&](int i, std::int64_t y) {
        const int j = next(i);
        const std::int64_t dx = X[j] - X[i], dy = Y[j] - Y[i];
        const bool topLeft = dy < 0 || (dy == 0 && dx > 0);
        return dx * (y * kSubpixel - Y[i]) + dy * X[i] - (topLeft ? 0 : 1);
    };
    // A horizontal edge's test depends on the row alone: it narrows the rows instead.
    for (int i = 0; i < n; ++i) {
        const int j = next(i);
        if (Y[j] != Y[i]) continue;
        const std::int64_t step = (X[j] - X[i]) * kSubpixel, row = rowValue(i, yTop);
        if (step > 0 && row < 0) yTop += FloorDivide(-row + step - 1, step);
        if (step < 0) yEnd = std::min(yEnd, yTop + FloorDivide(row, -step) + 1);
        if (step == 0 && row < 0) return;
    }
    if (yTop >= yEnd) return;
    // Rising edges bound rows on the left, falling ones on the right.
    Chain left, right;
    for (int i = 0; i < n; ++i) {
        const int j = next(i);
        if (Y[j] == Y[i]) continue;
        (Y[j] < Y[i] ? left : right).Add(i, std::min(Y[i], Y[j]), FloorDiv(std::max(Y[i], Y[j]), kSubpixel) + 1);
    }
    if (left.count == 0 || right.count == 0) return;  // a closed polygon has edges on both sides
    auto stepperAt = [&](int i, std::int64_t y) {
        const int j = next(i);
        FloorStepper s;
        s.Init(rowValue(i, y), (X[j] - X[i]) * kSubpixel, std::abs(Y[j] - Y[i]) * kSubpixel);
        return s;
    };
    // The first edge of a chain that still bounds row y (the last one bounds every row left).
    auto spanning = [](const Chain& c, int k, std::int64_t row) {
        while (k + 1 < c.count && c.end[k] <= row) ++k;
        return k;
    };
    int li = spanning(left, 0, yTop), ri = spanning(right, 0, yTop);
    FloorStepper l = stepperAt(left.edge[li], yTop), r = stepperAt(right.edge[ri], yTop);
    RowEmitter emit(ctx, t);
    for (std::int64_t y = yTop; y < yEnd;) {
        std::int64_t stop = std::min({yEnd, left.end[li], right.end[ri]});
        if (stop <= y) stop = yEnd;  // the last edges reach the bottom row; kept safe regardless
        emit.Segment(l, r, y, stop, yEnd, xBegin, xEnd);
        y = stop;
        if (y >= yEnd) break;
        if (const int k = spanning(left, li, y); k != li) {
            li = k;
            l = stepperAt(left.edge[li], y);
        }
        if (const int k = spanning(right, ri, y); k != ri) {
            ri = k;
            r = stepperAt(right.edge[ri], y);
        }
    }
}

HALVORA_INTRINSIC_WARNINGS_OFF

constexpr int kSmallRows = 16;
constexpr std::int64_t kSmallExtent = 64 * kSubpixel;

// ScanConvex's rows of a convex quad of at most kSmallRows rows and kSmallExtent sub-pixels
// across, all rows at once: a row of a convex polygon is the intersection of its edges'
// half-planes, which is what the edges spanning the row give. Relative to a whole-pixel
// corner of the box, every edge value is held exactly in a float, so each bound is one
// multiplication and a remainder check. False (nothing done) for larger quads.
HALVORA_AVX512 bool SmallQuadRows(const std::int64_t* X, const std::int64_t* Y, const TriangleSetup& t,
                                  const PixelBounds& box, int& y0, int& count, RowSpan* spans) {
    std::int64_t yTop = box.yTop, yEnd = box.yEnd;
    if (t.window.on) {
        yTop = std::max<std::int64_t>(yTop, t.window.yFirst);
        yEnd = std::min<std::int64_t>(yEnd, std::int64_t{t.window.yLast} + 1);
    }
    y0 = static_cast<int>(yTop);
    count = 0;
    if (yTop >= yEnd) return true;
    if (yEnd - yTop > kSmallRows) return false;
    const std::int64_t minX = std::min({X[0], X[1], X[2], X[3]}), maxX = std::max({X[0], X[1], X[2], X[3]});
    const std::int64_t minY = std::min({Y[0], Y[1], Y[2], Y[3]}), maxY = std::max({Y[0], Y[1], Y[2], Y[3]});
    if (maxX - minX > kSmallExtent || maxY - minY > kSmallExtent) return false;
    // The box lies within the corners' bounds, so the corners lie within an extent of it.
    const std::int64_t ox = box.xBegin, oy = yTop;
    int x[4], y[4];
    for (int i = 0; i < 4; ++i) {
        x[i] = static_cast<int>(X[i] - ox * kSubpixel);
        y[i] = static_cast<int>(Y[i] - oy * kSubpixel);
    }
    // Integers below 2^23 in floats: every product and sum here is exact, and a value times
    // its edge's rounded reciprocal is within a few hundredths of the quotient, far inside the
    // unit the remainder check settles.
    const __m512 lane = _mm512_setr_ps(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    const __m512 zero = _mm512_setzero_ps(), one = _mm512_set1_ps(1.0f);
    __m512 lo = zero, hi = _mm512_set1_ps(static_cast<float>(box.xEnd - ox));
    __mmask16 rows = static_cast<__mmask16>((1u << (yEnd - yTop)) - 1);
    alignas(16) float reciprocal[4];
    const __m128 divisors = _mm_cvtepi32_ps(_mm_abs_epi32(_mm_mullo_epi32(
        _mm_setr_epi32(y[1] - y[0], y[2] - y[1], y[3] - y[2], y[0] - y[3]), _mm_set1_epi32(kSubpixel))));
    _mm_store_ps(reciprocal, _mm_div_ps(_mm_set1_ps(1.0f), divisors));  // infinite for level edges, unused
    for (int i = 0; i < 4; ++i) {
        const int j = i + 1 == 4 ? 0 : i + 1;
        const int dx = x[j] - x[i], dy = y[j] - y[i];
        const bool topLeft = dy < 0 || (dy == 0 && dx > 0);
        // rowValue of ScanConvex at each row.
        const __m512 value = _mm512_fmadd_ps(lane, _mm512_set1_ps(static_cast<float>(dx * kSubpixel)),
                                             _mm512_set1_ps(static_cast<float>(dy * x[i] - dx * y[i] - (topLeft ? 0 : 1))));
        if (dy == 0) {
            rows &= _mm512_cmp_ps_mask(value, zero, _CMP_GE_OQ);
            continue;
        }
        // floor(value / divisor), settled from the rounded quotient by its remainder.
        const __m512 d = _mm512_set1_ps(static_cast<float>(std::abs(dy) * kSubpixel));
        __m512 q = _mm512_roundscale_ps(_mm512_mul_ps(value, _mm512_set1_ps(reciprocal[i])),
                                        _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC);
        const __m512 r = _mm512_fnmadd_ps(q, d, value);
        q = _mm512_mask_sub_ps(q, _mm512_cmp_ps_mask(r, zero, _CMP_LT_OQ), q, one);
        q = _mm512_mask_add_ps(q, _mm512_cmp_ps_mask(r, d, _CMP_GE_OQ), q, one);
        if (dy < 0) {
            lo = _mm512_max_ps(lo, _mm512_sub_ps(zero, q));
        } else {
            hi = _mm512_min_ps(hi, _mm512_add_ps(q, one));
        }
    }
    rows &= _mm512_cmp_ps_mask(lo, hi, _CMP_LT_OQ);
    const __m512i origin = _mm512_set1_epi32(static_cast<int>(ox));
    const __m512i x0 = _mm512_maskz_add_epi32(rows, _mm512_cvtps_epi32(lo), origin);
    const __m512i x1 = _mm512_maskz_add_epi32(rows, _mm512_cvtps_epi32(hi), origin);
    const __m512i first = _mm512_setr_epi32(0, 16, 1, 17, 2, 18, 3, 19, 4, 20, 5, 21, 6, 22, 7, 23);
    const __m512i second = _mm512_add_epi32(first, _mm512_set1_epi32(8));
    static_assert(sizeof(RowSpan) == 8 && kSmallRows == 16);
    _mm512_storeu_si512(spans, _mm512_permutex2var_epi32(x0, first, x1));
    _mm512_storeu_si512(spans + 8, _mm512_permutex2var_epi32(x0, second, x1));
    count = static_cast<int>(yEnd - yTop);
    return true;
}

HALVORA_INTRINSIC_WARNINGS_ON

bool Near(double a, double b, double tolerance) { return std::fabs(a - b) <= tolerance * (1.0 + std::fabs(a)); }

// The fourth vertex, as submitted, lies on the attribute planes through the first three.
// Tested before snapping: the snapped corners of an exact parallelogram are no longer
// coplanar, and the merged quad then differs from its two triangles only by a shift below
// the sub-pixel grid, as snapping itself shifts every triangle.
bool SharesPlanes(const Vertex& a, const Vertex& b, const Vertex& c, const Vertex& d, bool affine, bool flat) {
    const double bx = double{b.pos[0]} - a.pos[0], by = double{b.pos[1]} - a.pos[1];
    const double cx = double{c.pos[0]} - a.pos[0], cy = double{c.pos[1]} - a.pos[1];
    const double dx = double{d.pos[0]} - a.pos[0], dy = double{d.pos[1]} - a.pos[1];
    const double det = bx * cy - cx * by;
    if (det == 0.0 || !std::isfinite(det)) return false;
    const double s = (dx * cy - cx * dy) / det, t = (bx * dy - dx * by) / det;
    auto predicted = [&](double fa, double fb, double fc) { return fa + s * (fb - fa) + t * (fc - fa); };
    auto q = [affine](const Vertex& v) { return affine ? 1.0 : double{v.pos[3]}; };
    if (!Near(predicted(q(a), q(b), q(c)), q(d), 1e-5)) return false;
    for (int i = 0; i < 2; ++i) {
        const double expect = predicted(a.tex[i] * q(a), b.tex[i] * q(b), c.tex[i] * q(c));
        if (!Near(expect, d.tex[i] * q(d), 1e-5)) return false;
    }
    if (flat) return true;
    for (int i = 0; i < 4; ++i) {
        if (std::fabs(predicted(a.color[i], b.color[i], c.color[i]) - d.color[i]) > 0.02) return false;
    }
    return true;
}

bool SameVertex(const Vertex& a, const Vertex& b) { return &a == &b || std::memcmp(&a, &b, sizeof(Vertex)) == 0; }

}  // namespace

int TriangleWinding(const Vertex& a, const Vertex& b, const Vertex& c) {
    std::int64_t X[3], Y[3];
    const Vertex* v[3] = {&a, &b, &c};
    for (int i = 0; i < 3; ++i) {
        if (!Snap(v[i]->pos[0], X[i]) || !Snap(v[i]->pos[1], Y[i])) return 0;
    }
    const std::int64_t area = (X[1] - X[0]) * (Y[2] - Y[0]) - (X[2] - X[0]) * (Y[1] - Y[0]);
    return area > 0 ? 1 : area < 0 ? -1 : 0;
}

void RasterTriangle(const DrawContext& ctx, const Vertex& a, const Vertex& b, const Vertex& c,
                    const float flatColor[4], int acceptWinding) {
    std::int64_t X[3], Y[3];
    const Vertex* v[3] = {&a, &b, &c};
    for (int i = 0; i < 3; ++i) {
        if (!Snap(v[i]->pos[0], X[i]) || !Snap(v[i]->pos[1], Y[i])) return;
    }
    std::int64_t area = (X[1] - X[0]) * (Y[2] - Y[0]) - (X[2] - X[0]) * (Y[1] - Y[0]);
    if (area == 0 || (acceptWinding > 0 && area < 0) || (acceptWinding < 0 && area > 0)) return;
    if (area < 0) {
        std::swap(X[1], X[2]);
        std::swap(Y[1], Y[2]);
        std::swap(v[1], v[2]);
    }

    const float fx[3] = {X[0] / float(kSubpixel), X[1] / float(kSubpixel), X[2] / float(kSubpixel)};
    const float fy[3] = {Y[0] / float(kSubpixel), Y[1] / float(kSubpixel), Y[2] / float(kSubpixel)};
    TriangleSetup t;
    if (!SetupAttributes(ctx, v, flatColor, fx[0], fy[0], fx[1], fy[1], fx[2], fy[2], t)) return;
    ScanConvex(ctx, X, Y, 3, t, BoundsOf(ctx, X, Y, 3));
}

bool RasterQuadPair(const DrawContext& ctx, const Vertex& av, const Vertex& bv, const Vertex& cv, const Vertex& e,
                    const Vertex& f, const Vertex& dv, const float flatFirst[4], const float flatSecond[4],
                    int accept) {
    const Vertex *a = &av, *b = &bv, *c = &cv, *d = &dv;
    const bool bFirst = SameVertex(e, *b);
    const bool shared = (bFirst && SameVertex(f, *c)) || (SameVertex(e, *c) && SameVertex(f, *b));
    if (!shared) return false;
    if (ctx.flat && !std::equal(flatFirst, flatFirst + 4, flatSecond)) return false;
    const Vertex* quad[4] = {a, b, d, c};
    std::int64_t X[4], Y[4];
    for (int i = 0; i < 4; ++i) {
        if (!Snap(quad[i]->pos[0], X[i]) || !Snap(quad[i]->pos[1], Y[i])) return false;
    }
    // Particles at the ends of their lives shrink below a pixel: when no pixel centre lies
    // even in the box around both triangles, neither draws anything, merged or not.
    const PixelBounds box = BoundsOf(ctx, X, Y, 4);
    if (box.Empty()) return true;
    auto area = [&](int i, int j, int k) { return (X[j] - X[i]) * (Y[k] - Y[i]) - (X[k] - X[i]) * (Y[j] - Y[i]); };
    const std::int64_t a1 = area(0, 1, 3);  // a, b, c
    const std::int64_t a2 = bFirst ? area(1, 3, 2) : area(3, 1, 2);
    auto accepted = [](std::int64_t ar, int winding) { return ar != 0 && !(winding > 0 && ar < 0) && !(winding < 0 && ar > 0); };
    if (!accepted(a1, accept) || !accepted(a2, accept)) return false;
    // Convex: every corner of a, b, d, c turns the same way as a, b, c.
    for (int i = 0; i < 4; ++i) {
        const std::int64_t turn = area(i, (i + 1) % 4, (i + 2) % 4);
        if (turn == 0 || (turn > 0) != (a1 > 0)) return false;
    }
    const Vertex* v[3] = {a, b, c};
    TriangleSetup t;
    if (!SetupAttributes(ctx, v, flatFirst, X[0] / float(kSubpixel), Y[0] / float(kSubpixel), X[1] / float(kSubpixel),
                         Y[1] / float(kSubpixel), X[3] / float(kSubpixel), Y[3] / float(kSubpixel), t)) {
        return false;
    }
    // An affine triangle (equal rhw) merges only with a fourth vertex of that rhw.
    if (t.affine && d->pos[3] != a->pos[3] && a->pos[3] == b->pos[3] && b->pos[3] == c->pos[3]) return false;
    if (!SharesPlanes(*a, *b, *c, *d, t.affine, ctx.flat)) return false;
    if (ctx.windows && t.constantColor && t.affine && !FindRowWindow(ctx, t, quad, 4)) return true;
    if (a1 < 0) {
        std::swap(X[1], X[3]);
        std::swap(Y[1], Y[3]);
    }
    ConvexQuadRows(ctx, X, Y, t, box);
    return true;
}

void ConvexQuadRows(const DrawContext& ctx, const std::int64_t* X, const std::int64_t* Y, const TriangleSetup& t,
                    const PixelBounds& box) {
    // A particle's rows go straight to the queue they would wait in.
    if (ctx.held && t.constantColor && t.affine && t.linear[0]) {
        RowSpan spans[kSmallRows];
        int y0, count;
        if (SmallQuadRows(X, Y, t, box, y0, count, spans)) {
            if (!QueueHeldRows(ctx, t, y0, count, spans)) ctx.rows(ctx, t, y0, count, spans);
            return;
        }
    }
    ScanConvex(ctx, X, Y, 4, t, box);  // the box of the corners in any order
}

void RasterPoint(const DrawContext& ctx, const Vertex& p, float size) {
    if (!(size > 0.0f)) size = 1.0f;
    const float h = std::min(size, 8192.0f) * 0.5f;
    Vertex corner[4] = {p, p, p, p};
    const float dx[4] = {-h, h, -h, h}, dy[4] = {-h, -h, h, h};
    for (int i = 0; i < 4; ++i) {
        corner[i].pos[0] += dx[i];
        corner[i].pos[1] += dy[i];
    }
    RasterTriangle(ctx, corner[0], corner[1], corner[2], p.color, 0);
    RasterTriangle(ctx, corner[2], corner[1], corner[3], p.color, 0);
}

// Lines step one pixel per unit of the major axis from the rounded start; attributes come
// from a plane that varies only along the line, so the span routines shade them.
void RasterLine(const DrawContext& ctx, const Vertex& a, const Vertex& b, const float flatColor[4],
                bool lastPixel) {
    const float x0 = a.pos[0], y0 = a.pos[1], x1 = b.pos[0], y1 = b.pos[1];
    const float limit = 1 << 20;
    if (!(std::fabs(x0) < limit && std::fabs(y0) < limit && std::fabs(x1) < limit && std::fabs(y1) < limit)) return;
    const float ldx = x1 - x0, ldy = y1 - y0;
    const float len2 = ldx * ldx + ldy * ldy;
    if (len2 == 0.0f) return;

    TriangleSetup t;
    t.originX = x0;
    t.originY = y0;
    auto along = [&](float f0, float f1) { return Plane{f0, (f1 - f0) * ldx / len2, (f1 - f0) * ldy / len2}; };
    float q0 = a.pos[3], q1 = b.pos[3];
    t.affine = q0 == q1 || !(q0 > 0.0f) || !(q1 > 0.0f) || !std::isfinite(q0) || !std::isfinite(q1);
    if (t.affine) q0 = q1 = 1.0f;
    t.q = along(q0, q1);
    t.u = along(a.tex[0] * q0, b.tex[0] * q1);
    t.v = along(a.tex[1] * q0, b.tex[1] * q1);
    t.constantColor = ctx.flat || std::equal(a.color, a.color + 4, b.color);
    const float* fc = ctx.flat ? flatColor : a.color;
    for (int i = 0; i < 4; ++i) t.color[i] = t.constantColor ? Plane{fc[i], 0, 0} : along(a.color[i], b.color[i]);
    if (t.constantColor) t.argb = PackColor(fc);
    ChooseLevels(ctx, t, ldx * 0.5f, ldy * 0.5f);

    const bool xMajor = std::fabs(ldx) >= std::fabs(ldy);
    const float m0 = xMajor ? x0 : y0, m1 = xMajor ? x1 : y1;
    const float n0 = xMajor ? y0 : x0, slope = xMajor ? ldy / ldx : ldx / ldy;
    const long first = std::lround(std::floor(m0 + 0.5f)), last = std::lround(std::floor(m1 + 0.5f));
    const long step = last >= first ? 1 : -1;
    const long count = std::labs(last - first) + (lastPixel ? 1 : 0);
    for (long k = 0; k < count; ++k) {
        const long m = first + k * step;
        const long n = std::lround(std::floor(n0 + (static_cast<float>(m) - m0) * slope + 0.5f));
        const long px = xMajor ? m : n, py = xMajor ? n : m;
        if (px < ctx.clipLeft || px >= ctx.clipRight || py < ctx.clipTop || py >= ctx.clipBottom) continue;
        ctx.span(ctx, t, static_cast<int>(py), static_cast<int>(px), static_cast<int>(px) + 1);
    }
}

}  // namespace raster
