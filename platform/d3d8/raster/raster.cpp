// Entry points: argument checks, vertex fetch and transform, primitive assembly, clipping.
#include <emmintrin.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "platform/d3d8/raster/raster_internal.h"

namespace raster {
namespace {

constexpr float kScreenGuard = 32768.0f;  // transformed vertices beyond this are clipped in 2D
constexpr int kMaxPolygon = 16;

// Clip-volume planes; a vertex's outcode has bit p set when it is outside plane p.
enum : std::uint8_t {
    kOutW = 1, kOutNear = 2, kOutFar = 4, kOutRight = 8, kOutLeft = 16, kOutTop = 32, kOutBottom = 64,
    kOutInvalid = 128,  // non-finite: anything touching it is dropped
};
constexpr int kPlaneCount = 7;

struct Batch {
    std::vector<Vertex> clip;    // clip space (transformed layouts) or screen space (hasRHW)
    std::vector<Vertex> screen;  // projected, valid where outcode is 0
    std::vector<std::uint8_t> outcode;
    std::vector<int> slot;  // where vertex k of a triangle list was fetched: k or an equal earlier one
};

Batch& Scratch() {
    static thread_local Batch batch;
    return batch;
}

float PlaneDistance(const Vertex& v, int plane, const Transform& tf) {
    const float x = v.pos[0], y = v.pos[1], z = v.pos[2], w = v.pos[3];
    switch (plane) {
    case 0: return w - kMinW;
    case 1: return z;
    case 2: return w - z;
    case 3: return tf.guardX * w - x;
    case 4: return tf.guardX * w + x;
    case 5: return tf.guardY * w - y;
    default: return tf.guardY * w + y;
    }
}

// Screen-space planes for pretransformed vertices.
float ScreenDistance(const Vertex& v, int plane) {
    switch (plane) {
    case 3: return kScreenGuard - v.pos[0];
    case 4: return kScreenGuard + v.pos[0];
    case 5: return kScreenGuard - v.pos[1];
    case 6: return kScreenGuard + v.pos[1];
    default: return 1.0f;
    }
}

std::uint8_t ClipOutcode(const Vertex& v, const Transform& tf) {
    // Infinity and NaN times zero are NaN; finite values give zero.
    const __m128 zeroed = _mm_mul_ps(_mm_loadu_ps(v.pos), _mm_setzero_ps());
    if (_mm_movemask_ps(_mm_cmpunord_ps(zeroed, zeroed)) != 0) return kOutInvalid;
    // The planes of PlaneDistance, unrolled: every vertex of every draw passes here.
    const float x = v.pos[0], y = v.pos[1], z = v.pos[2], w = v.pos[3];
    static_assert(kPlaneCount == 7);
    const unsigned code = unsigned(w - kMinW < 0) | unsigned(z < 0) << 1 | unsigned(w - z < 0) << 2 |
                          unsigned(tf.guardX * w - x < 0) << 3 | unsigned(tf.guardX * w + x < 0) << 4 |
                          unsigned(tf.guardY * w - y < 0) << 5 | unsigned(tf.guardY * w + y < 0) << 6;
    return static_cast<std::uint8_t>(code);
}

std::uint8_t ScreenOutcode(const Vertex& v) {
    if (!std::isfinite(v.pos[0]) || !std::isfinite(v.pos[1])) return kOutInvalid;
    std::uint8_t code = 0;
    for (int p = 3; p < kPlaneCount; ++p) {
        if (ScreenDistance(v, p) < 0) code |= static_cast<std::uint8_t>(1 << p);
    }
    return code;
}

// Screen x, y, z and rhw of clip-space position c, in one register.
inline __m128 ProjectedPosition(const float c[4], const Transform& tf) {
    const float rhw = 1.0f / c[3];
    return _mm_setr_ps(static_cast<float>(tf.vp.x) + (1.0f + c[0] * rhw) * static_cast<float>(tf.vp.width) * 0.5f,
                       static_cast<float>(tf.vp.y) + (1.0f - c[1] * rhw) * static_cast<float>(tf.vp.height) * 0.5f,
                       tf.vp.minZ + c[2] * rhw * (tf.vp.maxZ - tf.vp.minZ), rhw);
}

Vertex Project(const Vertex& c, const Transform& tf) {
    Vertex s = c;
    _mm_storeu_ps(s.pos, ProjectedPosition(c.pos, tf));
    return s;
}

Vertex Lerp(const Vertex& a, const Vertex& b, float t) {
    Vertex r;
    for (int i = 0; i < 4; ++i) r.pos[i] = a.pos[i] + (b.pos[i] - a.pos[i]) * t;
    for (int i = 0; i < 4; ++i) r.color[i] = a.color[i] + (b.color[i] - a.color[i]) * t;
    for (int i = 0; i < 2; ++i) r.tex[i] = a.tex[i] + (b.tex[i] - a.tex[i]) * t;
    return r;
}

// Pretransformed vertices interpolate in screen space: texture coordinates go through
// u * rhw so that the clipped vertices keep perspective-correct values.
Vertex ToScreenLinear(const Vertex& v, bool perspective) {
    Vertex r = v;
    if (perspective) {
        r.tex[0] *= v.pos[3];
        r.tex[1] *= v.pos[3];
    }
    return r;
}
Vertex FromScreenLinear(const Vertex& v, bool perspective) {
    Vertex r = v;
    if (perspective) {
        r.tex[0] /= v.pos[3];
        r.tex[1] /= v.pos[3];
    }
    return r;
}

template <class Distance>
int ClipPolygon(Vertex* poly, int count, std::uint8_t planes, Distance distance) {
    Vertex tmp[kMaxPolygon];
    for (int p = 0; p < kPlaneCount && count > 0; ++p) {
        if (!(planes >> p & 1)) continue;
        int out = 0;
        for (int i = 0; i < count; ++i) {
            const Vertex& a = poly[i];
            const Vertex& b = poly[(i + 1) % count];
            const float da = distance(a, p), db = distance(b, p);
            if (da >= 0) tmp[out++] = a;
            if ((da >= 0) != (db >= 0) && out < kMaxPolygon) tmp[out++] = Lerp(a, b, da / (da - db));
            if (out >= kMaxPolygon - 1) break;
        }
        count = out;
        std::copy(tmp, tmp + count, poly);
    }
    return count;
}

class Assembler {
public:
    Assembler(const DrawContext& ctx, const DrawState& state, const Transform& tf, bool rhw, Batch& batch)
        : ctx_(ctx), state_(state), tf_(tf), rhw_(rhw), b_(batch) {}

    void Triangle(int i0, int i1, int i2, bool reversed, int provoking) {
        const std::uint8_t o0 = b_.outcode[i0], o1 = b_.outcode[i1], o2 = b_.outcode[i2];
        if ((o0 | o1 | o2) & kOutInvalid) return;
        int accept = 0;
        if (state_.cullMode == d3d::kCullCcw) accept = 1;
        if (state_.cullMode == d3d::kCullCw) accept = -1;
        if (reversed) accept = -accept;
        const float* flat = b_.clip[provoking].color;
        if (Invisible(i0, i1, i2, flat)) return;
        if ((o0 | o1 | o2) == 0) {
            Emit(b_.screen[i0], b_.screen[i1], b_.screen[i2], flat, accept);
            return;
        }
        if (o0 & o1 & o2) return;
        Vertex poly[kMaxPolygon];
        int n = 3;
        const bool persp = rhw_ && PerspectiveRhw(i0, i1, i2);
        if (rhw_) {
            poly[0] = ToScreenLinear(b_.clip[i0], persp);
            poly[1] = ToScreenLinear(b_.clip[i1], persp);
            poly[2] = ToScreenLinear(b_.clip[i2], persp);
            n = ClipPolygon(poly, n, o0 | o1 | o2, [](const Vertex& v, int p) { return ScreenDistance(v, p); });
            for (int i = 0; i < n; ++i) poly[i] = FromScreenLinear(poly[i], persp);
        } else {
            poly[0] = b_.clip[i0];
            poly[1] = b_.clip[i1];
            poly[2] = b_.clip[i2];
            n = ClipPolygon(poly, n, o0 | o1 | o2,
                            [this](const Vertex& v, int p) { return PlaneDistance(v, p, tf_); });
            for (int i = 0; i < n; ++i) poly[i] = Project(poly[i], tf_);
        }
        for (int i = 1; i + 1 < n; ++i) Emit(poly[0], poly[i], poly[i + 1], flat, accept);
    }

    // Two list triangles at once when both are on screen and solid; false: draw them singly.
    bool TrianglePair(int k0, int k1, int k2, int m0, int m1, int m2) {
        if (state_.fillMode != d3d::kFillSolid) return false;
        if ((b_.outcode[k0] | b_.outcode[k1] | b_.outcode[k2] | b_.outcode[m0] | b_.outcode[m1] | b_.outcode[m2]) != 0) {
            return false;
        }
        if (Invisible(k0, k1, k2, b_.clip[k0].color) && Invisible(m0, m1, m2, b_.clip[m0].color)) return true;
        int accept = 0;
        if (state_.cullMode == d3d::kCullCcw) accept = 1;
        if (state_.cullMode == d3d::kCullCw) accept = -1;
        return RasterQuadPair(ctx_, b_.screen[k0], b_.screen[k1], b_.screen[k2], b_.screen[m0], b_.screen[m1],
                              b_.screen[m2], b_.clip[k0].color, b_.clip[m0].color, accept);
    }

    void Line(int i0, int i1) {
        const std::uint8_t o0 = b_.outcode[i0], o1 = b_.outcode[i1];
        if (((o0 | o1) & kOutInvalid) || (o0 & o1)) return;
        const float* flat = b_.clip[i0].color;
        if ((o0 | o1) == 0) {
            RasterLine(ctx_, b_.screen[i0], b_.screen[i1], flat, state_.lastPixel);
            return;
        }
        const bool persp = rhw_ && PerspectiveRhw(i0, i1, i1);
        Vertex a = rhw_ ? ToScreenLinear(b_.clip[i0], persp) : b_.clip[i0];
        Vertex b = rhw_ ? ToScreenLinear(b_.clip[i1], persp) : b_.clip[i1];
        float t0 = 0, t1 = 1;
        for (int p = 0; p < kPlaneCount; ++p) {
            if (!(((o0 | o1) >> p) & 1)) continue;
            const float da = rhw_ ? ScreenDistance(a, p) : PlaneDistance(a, p, tf_);
            const float db = rhw_ ? ScreenDistance(b, p) : PlaneDistance(b, p, tf_);
            const float t = da / (da - db);
            if (da < 0) t0 = std::max(t0, t);
            if (db < 0) t1 = std::min(t1, t);
        }
        if (t0 >= t1) return;
        Vertex ca = Lerp(a, b, t0), cb = Lerp(a, b, t1);
        if (rhw_) {
            ca = FromScreenLinear(ca, persp);
            cb = FromScreenLinear(cb, persp);
        } else {
            ca = Project(ca, tf_);
            cb = Project(cb, tf_);
        }
        RasterLine(ctx_, ca, cb, flat, state_.lastPixel || t1 < 1);
    }

    void Point(int i) {
        if (b_.outcode[i] != 0) return;  // points are clipped by their centre
        RasterPoint(ctx_, b_.screen[i], state_.pointSize);
    }

private:
    // Dead particles and the transparent ends of their lives: zero alpha at every corner
    // stays zero across the triangle, so it cannot change a pixel.
    bool Invisible(int i0, int i1, int i2, const float* flat) const {
        if (!ctx_.clearAlphaIsNoop) return false;
        if (ctx_.flat) return flat[3] == 0.0f;
        return b_.clip[i0].color[3] == 0.0f && b_.clip[i1].color[3] == 0.0f && b_.clip[i2].color[3] == 0.0f;
    }

    bool PerspectiveRhw(int i0, int i1, int i2) const {
        for (int i : {i0, i1, i2}) {
            const float w = b_.clip[i].pos[3];
            if (!(w > 0.0f) || !std::isfinite(w)) return false;
        }
        return true;
    }

    void Emit(const Vertex& a, const Vertex& b, const Vertex& c, const float* flat, int accept) {
        if (state_.fillMode == d3d::kFillSolid || (state_.fillMode != d3d::kFillPoint &&
                                                   state_.fillMode != d3d::kFillWireframe)) {
            RasterTriangle(ctx_, a, b, c, flat, accept);
            return;
        }
        const int winding = TriangleWinding(a, b, c);
        if (winding == 0 || (accept != 0 && winding != accept)) return;
        if (state_.fillMode == d3d::kFillWireframe) {
            RasterLine(ctx_, a, b, flat, false);
            RasterLine(ctx_, b, c, flat, false);
            RasterLine(ctx_, c, a, flat, false);
        } else {
            for (const Vertex* v : {&a, &b, &c}) RasterPoint(ctx_, *v, state_.pointSize);
        }
    }

    const DrawContext& ctx_;
    const DrawState& state_;
    const Transform& tf_;
    bool rhw_;
    Batch& b_;
};

std::size_t ElementEnd(const VertexLayout& layout) {
    std::size_t end = static_cast<std::size_t>(layout.positionOffset) + (layout.hasRHW ? 16 : 12);
    if (layout.diffuseOffset >= 0) end = std::max(end, static_cast<std::size_t>(layout.diffuseOffset) + 4);
    if (layout.texOffset >= 0) end = std::max(end, static_cast<std::size_t>(layout.texOffset) + 8);
    return end;
}

bool LayoutUsable(const VertexLayout& layout) {
    return layout.stride > 0 && layout.positionOffset >= 0 && layout.diffuseOffset >= -1 && layout.texOffset >= -1;
}

// Vertices first .. first + count - 1 lie inside the buffer.
bool RangeInBuffer(const VertexLayout& layout, std::size_t size, std::int64_t first, std::int64_t count) {
    if (first < 0 || count <= 0) return count == 0 && first >= 0;
    const std::uint64_t last = static_cast<std::uint64_t>(first + count - 1);
    const std::uint64_t stride = static_cast<std::uint64_t>(layout.stride);
    if (last > (std::numeric_limits<std::uint64_t>::max() - ElementEnd(layout)) / stride) return false;
    return last * stride + ElementEnd(layout) <= size;
}

float LoadFloat(const std::uint8_t* p) {
    float f;
    std::memcpy(&f, p, 4);
    return f;
}

void SetColor(Vertex& v, std::uint32_t argb) {
    v.color[0] = static_cast<float>((argb >> 16) & 255);
    v.color[1] = static_cast<float>((argb >> 8) & 255);
    v.color[2] = static_cast<float>(argb & 255);
    v.color[3] = static_cast<float>(argb >> 24);
}

// Each element is stored once, whole, from a register, and the screen copy is built from the
// same registers: copying the clip-space vertex back out of memory, or returning the
// projection through the stack, stalled on stores too narrow to forward to the loads.
void FetchVertex(const VertexLayout& layout, const std::uint8_t* p, std::uint32_t diffuse, const Transform& tf,
                 Batch& b, std::size_t i) {
    Vertex& v = b.clip[i];
    const std::uint8_t* pos = p + layout.positionOffset;
    const __m128 color = _mm_cvtepi32_ps(_mm_setr_epi32(static_cast<int>((diffuse >> 16) & 255),
                                                        static_cast<int>((diffuse >> 8) & 255),
                                                        static_cast<int>(diffuse & 255), static_cast<int>(diffuse >> 24)));
    __m128 tex = _mm_setzero_ps();
    if (layout.texOffset >= 0) tex = _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + layout.texOffset)));
    _mm_storeu_ps(v.color, color);
    _mm_storel_pi(reinterpret_cast<__m64*>(v.tex), tex);
    std::uint8_t& code = b.outcode[i];
    __m128 screen;
    if (layout.hasRHW) {
        screen = _mm_loadu_ps(reinterpret_cast<const float*>(pos));
        _mm_storeu_ps(v.pos, screen);
        code = ScreenOutcode(v);
    } else {
        const float x = LoadFloat(pos), y = LoadFloat(pos + 4), z = LoadFloat(pos + 8);
        const float* m = tf.m;
        // The rows of the matrix scaled and summed in the order the scalar expression
        // x * m[c] + y * m[4 + c] + z * m[8 + c] + m[12 + c] gives, four columns at once.
        const __m128 sum = _mm_add_ps(_mm_add_ps(_mm_mul_ps(_mm_set1_ps(x), _mm_loadu_ps(m)),
                                                 _mm_mul_ps(_mm_set1_ps(y), _mm_loadu_ps(m + 4))),
                                      _mm_mul_ps(_mm_set1_ps(z), _mm_loadu_ps(m + 8)));
        _mm_storeu_ps(v.pos, _mm_add_ps(sum, _mm_loadu_ps(m + 12)));
        code = ClipOutcode(v, tf);
        if (code != 0) return;
        screen = ProjectedPosition(v.pos, tf);
    }
    Vertex& s = b.screen[i];
    _mm_storeu_ps(s.pos, screen);
    _mm_storeu_ps(s.color, color);
    _mm_storel_pi(reinterpret_cast<__m64*>(s.tex), tex);
}

// FetchVertex for four untransformed vertices at once, one per lane: every lane's arithmetic
// is the scalar path's, operation for operation, so the results are bit for bit the same.
void FetchCorners(const VertexLayout& layout, const std::uint8_t* const p[4], const std::uint32_t diffuse[4],
                  const Transform& tf, Batch& b, const std::size_t at[4]) {
    auto lanes = [&](int offset) {
        return _mm_setr_ps(LoadFloat(p[0] + offset), LoadFloat(p[1] + offset), LoadFloat(p[2] + offset),
                           LoadFloat(p[3] + offset));
    };
    const int po = layout.positionOffset;
    const __m128 x = lanes(po), y = lanes(po + 4), z = lanes(po + 8);
    const float* m = tf.m;
    auto column = [&](int c) {
        const __m128 sum = _mm_add_ps(_mm_add_ps(_mm_mul_ps(x, _mm_set1_ps(m[c])), _mm_mul_ps(y, _mm_set1_ps(m[4 + c]))),
                                      _mm_mul_ps(z, _mm_set1_ps(m[8 + c])));
        return _mm_add_ps(sum, _mm_set1_ps(m[12 + c]));
    };
    __m128 cx = column(0), cy = column(1), cz = column(2), cw = column(3);

    // ClipOutcode's tests, lane by lane.
    const __m128 zero = _mm_setzero_ps();
    auto unordered = [&](__m128 v) {
        const __m128 zeroed = _mm_mul_ps(v, zero);
        return _mm_cmpunord_ps(zeroed, zeroed);
    };
    const __m128 invalid = _mm_or_ps(_mm_or_ps(unordered(cx), unordered(cy)), _mm_or_ps(unordered(cz), unordered(cw)));
    const __m128 gx = _mm_mul_ps(_mm_set1_ps(tf.guardX), cw), gy = _mm_mul_ps(_mm_set1_ps(tf.guardY), cw);
    auto bit = [&](__m128 distance, int plane) {
        return _mm_and_si128(_mm_castps_si128(_mm_cmplt_ps(distance, zero)), _mm_set1_epi32(1 << plane));
    };
    __m128i code = _mm_or_si128(_mm_or_si128(bit(_mm_sub_ps(cw, _mm_set1_ps(kMinW)), 0), bit(cz, 1)),
                                _mm_or_si128(bit(_mm_sub_ps(cw, cz), 2), bit(_mm_sub_ps(gx, cx), 3)));
    code = _mm_or_si128(code, _mm_or_si128(_mm_or_si128(bit(_mm_add_ps(gx, cx), 4), bit(_mm_sub_ps(gy, cy), 5)),
                                           bit(_mm_add_ps(gy, cy), 6)));
    const __m128i bad = _mm_castps_si128(invalid);
    code = _mm_or_si128(_mm_andnot_si128(bad, code), _mm_and_si128(bad, _mm_set1_epi32(kOutInvalid)));
    alignas(16) std::int32_t codes[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(codes), code);

    // Project's arithmetic.
    const __m128 rhw = _mm_div_ps(_mm_set1_ps(1.0f), cw), half = _mm_set1_ps(0.5f), one = _mm_set1_ps(1.0f);
    __m128 sx = _mm_add_ps(_mm_set1_ps(static_cast<float>(tf.vp.x)),
                           _mm_mul_ps(_mm_mul_ps(_mm_add_ps(one, _mm_mul_ps(cx, rhw)),
                                                 _mm_set1_ps(static_cast<float>(tf.vp.width))),
                                      half));
    __m128 sy = _mm_add_ps(_mm_set1_ps(static_cast<float>(tf.vp.y)),
                           _mm_mul_ps(_mm_mul_ps(_mm_sub_ps(one, _mm_mul_ps(cy, rhw)),
                                                 _mm_set1_ps(static_cast<float>(tf.vp.height))),
                                      half));
    __m128 sz = _mm_add_ps(_mm_set1_ps(tf.vp.minZ), _mm_mul_ps(_mm_mul_ps(cz, rhw), _mm_set1_ps(tf.vp.maxZ - tf.vp.minZ)));
    __m128 sw = rhw;
    _MM_TRANSPOSE4_PS(cx, cy, cz, cw);
    _MM_TRANSPOSE4_PS(sx, sy, sz, sw);
    const __m128 clipPos[4] = {cx, cy, cz, cw}, screenPos[4] = {sx, sy, sz, sw};
    for (int k = 0; k < 4; ++k) {
        const std::uint32_t d = diffuse[k];
        const __m128 color = _mm_cvtepi32_ps(_mm_setr_epi32(static_cast<int>((d >> 16) & 255), static_cast<int>((d >> 8) & 255),
                                                            static_cast<int>(d & 255), static_cast<int>(d >> 24)));
        __m128 tex = _mm_setzero_ps();
        if (layout.texOffset >= 0) tex = _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p[k] + layout.texOffset)));
        Vertex& v = b.clip[at[k]];
        _mm_storeu_ps(v.pos, clipPos[k]);
        _mm_storeu_ps(v.color, color);
        _mm_storel_pi(reinterpret_cast<__m64*>(v.tex), tex);
        b.outcode[at[k]] = static_cast<std::uint8_t>(codes[k]);
        if (codes[k] != 0) continue;
        Vertex& s = b.screen[at[k]];
        _mm_storeu_ps(s.pos, screenPos[k]);
        _mm_storeu_ps(s.color, color);
        _mm_storel_pi(reinterpret_cast<__m64*>(s.tex), tex);
    }
}

// skipClear: a triangle list whose triangles of zero alpha draw nothing (DrawContext::
// clearAlphaIsNoop). Their vertices, used by no other triangle, keep only their colour and
// are marked unusable, which drops the triangle just as its zero alpha would.
void Fetch(const DrawState& state, const VertexLayout& layout, const std::uint8_t* data, std::int64_t first,
           std::int64_t count, const Transform& tf, bool skipClear, bool flat, Batch& b) {
    // The scratch only grows: every slot below count is written before it is read, and
    // shrinking would value-initialise the slots again on the next larger draw.
    const std::size_t need = static_cast<std::size_t>(count);
    if (b.clip.size() < need) {
        b.clip.resize(need);
        b.screen.resize(need);
        b.outcode.resize(need);
        b.slot.resize(need);
    }
    const std::size_t stride = static_cast<std::size_t>(layout.stride);
    const std::uint8_t* base = data + static_cast<std::size_t>(first) * stride;
    std::int64_t i = 0;
    if (skipClear) {
        bool previousFetched = false;
        auto triangle = [&](std::int64_t at0, const std::uint32_t d[3]) {
            const std::uint8_t* p = base + static_cast<std::size_t>(at0) * stride;
            const bool clear = flat ? (d[0] >> 24) == 0 : ((d[0] | d[1] | d[2]) >> 24) == 0;
            for (int k = 0; k < 3; ++k) {
                const std::size_t at = static_cast<std::size_t>(at0 + k);
                b.slot[at] = static_cast<int>(at);
                if (clear) {
                    SetColor(b.clip[at], d[k]);
                    b.outcode[at] = kOutInvalid;
                } else if (k < 2 && previousFetched && SameSource(layout, p + k * stride, p - (2 - k) * stride)) {
                    // A quad's second triangle repeats two corners of its first: they are used
                    // where they were fetched.
                    b.slot[at] = b.slot[at - 2];
                } else {
                    FetchVertex(layout, p + k * stride, d[k], tf, b, at);
                }
            }
            previousFetched = !clear;
        };
        for (; i + 6 <= count; i += 6) {
            const std::uint8_t* p = base + static_cast<std::size_t>(i) * stride;
            std::uint32_t d[6];
            for (int k = 0; k < 6; ++k) d[k] = DiffuseOf(state, layout, p + k * stride);
            const bool shown = flat ? (d[0] >> 24) != 0 && (d[3] >> 24) != 0
                                    : ((d[0] | d[1] | d[2]) >> 24) != 0 && ((d[3] | d[4] | d[5]) >> 24) != 0;
            if (!layout.hasRHW && shown && SameSource(layout, p + 3 * stride, p + stride) &&
                SameSource(layout, p + 4 * stride, p + 2 * stride)) {
                // A quad: its four corners at once, the repeated two used where they were fetched.
                const std::size_t at = static_cast<std::size_t>(i);
                const std::uint8_t* corners[4] = {p, p + stride, p + 2 * stride, p + 5 * stride};
                const std::uint32_t diffuse[4] = {d[0], d[1], d[2], d[5]};
                const std::size_t slots[4] = {at, at + 1, at + 2, at + 5};
                FetchCorners(layout, corners, diffuse, tf, b, slots);
                for (int k = 0; k < 6; ++k) b.slot[at + static_cast<std::size_t>(k)] = static_cast<int>(at) + k;
                b.slot[at + 3] = static_cast<int>(at + 1);
                b.slot[at + 4] = static_cast<int>(at + 2);
                previousFetched = true;
                continue;
            }
            triangle(i, d);
            triangle(i + 3, d + 3);
        }
        for (; i + 3 <= count; i += 3) {
            const std::uint8_t* p = base + static_cast<std::size_t>(i) * stride;
            const std::uint32_t d[3] = {DiffuseOf(state, layout, p), DiffuseOf(state, layout, p + stride),
                                        DiffuseOf(state, layout, p + 2 * stride)};
            triangle(i, d);
        }
    }
    for (; i < count; ++i) {
        const std::uint8_t* p = base + static_cast<std::size_t>(i) * stride;
        b.slot[static_cast<std::size_t>(i)] = static_cast<int>(i);
        FetchVertex(layout, p, DiffuseOf(state, layout, p), tf, b, static_cast<std::size_t>(i));
    }
}

std::int64_t VertexCount(int type, std::int64_t primitives) {
    switch (type) {
    case d3d::kPointList: return primitives;
    case d3d::kLineList: return 2 * primitives;
    case d3d::kLineStrip: return primitives + 1;
    case d3d::kTriangleList: return 3 * primitives;
    case d3d::kTriangleStrip:
    case d3d::kTriangleFan: return primitives + 2;
    default: return -1;
    }
}

template <class Index>
void Assemble(Assembler& as, int type, int count, Index index) {
    for (int k = 0; k < count; ++k) {
        switch (type) {
        case d3d::kPointList: as.Point(index(k)); break;
        case d3d::kLineList: as.Line(index(2 * k), index(2 * k + 1)); break;
        case d3d::kLineStrip: as.Line(index(k), index(k + 1)); break;
        case d3d::kTriangleList:
            if ((k & 1) == 0 && k + 1 < count &&
                as.TrianglePair(index(3 * k), index(3 * k + 1), index(3 * k + 2), index(3 * k + 3), index(3 * k + 4),
                                index(3 * k + 5))) {
                ++k;
                break;
            }
            as.Triangle(index(3 * k), index(3 * k + 1), index(3 * k + 2), false, index(3 * k));
            break;
        case d3d::kTriangleStrip: as.Triangle(index(k), index(k + 1), index(k + 2), (k & 1) != 0, index(k)); break;
        default: as.Triangle(index(0), index(k + 1), index(k + 2), false, index(k + 1)); break;
        }
    }
}

struct Prepared {
    DrawContext ctx;
    Transform tf;
};

// What the rows of a draw call held back is drawn before the call returns.
class HeldRowsScope {
public:
    explicit HeldRowsScope(DrawContext& ctx) : held_(HoldRows(ctx)) { ctx.held = held_; }
    ~HeldRowsScope() {
        if (held_) DrawHeldRows(*held_);
    }
    HeldRowsScope(const HeldRowsScope&) = delete;
    HeldRowsScope& operator=(const HeldRowsScope&) = delete;

private:
    HeldRows* held_;
};

// Shared checks; false means the call is unusable.
bool Prepare(const DrawState& state, const VertexLayout& layout, const float* wvp, const Viewport& viewport,
             const SurfaceView& target, Prepared& out) {
    if (!LayoutUsable(layout) || !target.bits || target.width <= 0 || target.height <= 0 ||
        target.pitch < target.width * BytesPerPixel(target.format)) {
        return false;
    }
    if (!layout.hasRHW && !wvp) return false;
    ResolveDraw(state, layout, target, out.ctx);
    out.ctx.clipLeft = std::clamp(viewport.x, 0, target.width);
    out.ctx.clipTop = std::clamp(viewport.y, 0, target.height);
    out.ctx.clipRight = static_cast<int>(std::clamp<std::int64_t>(std::int64_t{viewport.x} + viewport.width, 0, target.width));
    out.ctx.clipBottom = static_cast<int>(std::clamp<std::int64_t>(std::int64_t{viewport.y} + viewport.height, 0, target.height));
    out.tf.m = wvp;
    out.tf.vp = viewport;
    const float extent = static_cast<float>(std::max({viewport.width, viewport.height, 1}));
    out.tf.guardX = std::max(1.0f, 16384.0f / extent);
    out.tf.guardY = out.tf.guardX;
    return true;
}

}  // namespace

bool DrawPrimitive(const DrawState& state, const VertexLayout& layout, const std::uint8_t* vertexData,
                   std::size_t vertexDataSize, int primitiveType, int startVertex, int primitiveCount,
                   const float worldViewProj[16], const Viewport& viewport, const SurfaceView& target) {
    if (primitiveCount < 0 || startVertex < 0) return false;
    const std::int64_t count = VertexCount(primitiveType, primitiveCount);
    if (count < 0) return false;
    if (primitiveCount == 0) return true;
    if (!vertexData || !RangeInBuffer(layout, vertexDataSize, startVertex, count)) return false;
    Prepared p;
    if (!Prepare(state, layout, worldViewProj, viewport, target, p)) return false;
    if (p.ctx.clipLeft >= p.ctx.clipRight || p.ctx.clipTop >= p.ctx.clipBottom) return true;
    const HeldRowsScope held(p.ctx);
    Batch& batch = Scratch();
    Assembler as(p.ctx, state, p.tf, layout.hasRHW, batch);
    if (primitiveType != d3d::kTriangleList) {
        Fetch(state, layout, vertexData, startVertex, count, p.tf, false, p.ctx.flat, batch);
        Assemble(as, primitiveType, primitiveCount, [](int k) { return k; });
        return true;
    }
    // Triangles first .. first + count - 1 of the list, fetched and assembled.
    auto triangles = [&](std::int64_t first, int n) {
        Fetch(state, layout, vertexData, startVertex + 3 * first, std::int64_t{3} * n, p.tf, p.ctx.clearAlphaIsNoop,
              p.ctx.flat, batch);
        Assemble(as, primitiveType, n, [&batch](int k) { return batch.slot[static_cast<std::size_t>(k)]; });
    };
    QuadBlock quads;
    if (QuadBlocksUsable(p.ctx, state, layout, quads)) {
        quads.tf = &p.tf;
        const std::size_t stride = static_cast<std::size_t>(layout.stride);
        const int pairs = primitiveCount / 2;
        const std::uint8_t* end = vertexData + (static_cast<std::size_t>(startVertex) + 6 * static_cast<std::size_t>(pairs)) * stride;
        for (int q = 0; q < pairs; q += 16) {
            const int n = std::min(16, pairs - q);
            const std::size_t at = static_cast<std::size_t>(startVertex) + 6 * static_cast<std::size_t>(q);
            // The buffer was just copied in and has left the nearer caches: the block after next
            // is asked for now.
            const std::uint8_t* ahead = vertexData + (at + 6 * 32) * stride;
            for (const std::uint8_t* line = ahead; line < std::min(end, ahead + 6 * 16 * stride); line += 64) {
                __builtin_prefetch(line);
            }
            for (unsigned left = DrawQuadBlock(quads, vertexData + at * stride, n); left != 0; left &= left - 1) {
                triangles(2 * std::int64_t{q + __builtin_ctz(left)}, 2);
            }
        }
        if (primitiveCount & 1) triangles(primitiveCount - 1, 1);
        return true;
    }
    // A list's triangles share no vertices: fetched a slice at a time, the vertices are still
    // in cache when assembled (a whole particle draw's would not be). Slices hold whole pairs.
    constexpr int kSliceTriangles = 512;
    for (int done = 0; done < primitiveCount; done += kSliceTriangles) {
        triangles(done, std::min(kSliceTriangles, primitiveCount - done));
    }
    return true;
}

bool DrawIndexedPrimitive(const DrawState& state, const VertexLayout& layout, const std::uint8_t* vertexData,
                          std::size_t vertexDataSize, int baseVertexIndex, const std::uint8_t* indexData,
                          std::size_t indexDataSize, int indexSize, int primitiveType, int startIndex,
                          int primitiveCount, const float worldViewProj[16], const Viewport& viewport,
                          const SurfaceView& target) {
    if (primitiveCount < 0 || startIndex < 0 || (indexSize != 2 && indexSize != 4)) return false;
    const std::int64_t count = VertexCount(primitiveType, primitiveCount);
    if (count < 0) return false;
    if (primitiveCount == 0) return true;
    if (!vertexData || !indexData) return false;
    if (static_cast<std::uint64_t>(startIndex + count) > indexDataSize / static_cast<std::uint64_t>(indexSize)) {
        return false;
    }
    auto readIndex = [&](std::int64_t k) -> std::int64_t {
        const std::uint8_t* p = indexData + static_cast<std::size_t>(startIndex + k) * static_cast<std::size_t>(indexSize);
        if (indexSize == 2) {
            std::uint16_t v;
            std::memcpy(&v, p, 2);
            return v;
        }
        std::uint32_t v;
        std::memcpy(&v, p, 4);
        return v;
    };
    std::int64_t lo = std::numeric_limits<std::int64_t>::max(), hi = -1;
    for (std::int64_t k = 0; k < count; ++k) {
        const std::int64_t i = readIndex(k);
        lo = std::min(lo, i);
        hi = std::max(hi, i);
    }
    const std::int64_t first = baseVertexIndex + lo;
    if (first < 0 || !RangeInBuffer(layout, vertexDataSize, first, hi - lo + 1)) return false;
    Prepared p;
    if (!Prepare(state, layout, worldViewProj, viewport, target, p)) return false;
    if (p.ctx.clipLeft >= p.ctx.clipRight || p.ctx.clipTop >= p.ctx.clipBottom) return true;
    const HeldRowsScope held(p.ctx);
    Batch& batch = Scratch();
    Fetch(state, layout, vertexData, first, hi - lo + 1, p.tf, false, false, batch);
    Assembler as(p.ctx, state, p.tf, layout.hasRHW, batch);
    Assemble(as, primitiveType, primitiveCount, [&](int k) { return static_cast<int>(readIndex(k) - lo); });
    return true;
}

}  // namespace raster
