#include "scene/math/uMath.h"

#include "app/uC.h"
#include "app/uRunState.h"

#include <cmath>
#include <cstring>

namespace {

using Ext = long double;

// Ties to even: the default rounding mode.
int32_t RoundEven(Ext v) { return static_cast<int32_t>(std::llrint(v)); }

int32_t Truncate(Ext v) { return static_cast<int32_t>(v); }

uint32_t ChannelOf(D3DCOLOR c, int shift) { return (c >> shift) & 0xFFu; }

uint32_t PackChannel(int32_t v, int shift) { return static_cast<uint32_t>(v) << shift; }

}  // namespace

// ---------------------------------------------------------------- pixels and world units

float PixelToWorldX(int32_t i)
{
    return static_cast<float>(Ext(i) * PixelSize - ScreenRight + HalfPixelSize);
}

float PixelToWorldY(int32_t j)
{
    return static_cast<float>(-Ext(j) * PixelSize + ScreenTop + HalfPixelSize);
}

int32_t WorldToPixelX(float x) { return Truncate((Ext(x) + ScreenRight) / PixelSize); }

int32_t WorldToPixelY(float y) { return Truncate((Ext(ScreenTop) - y) / PixelSize); }

void WorldToScreen(float x, float y, int32_t& px, int32_t& py)
{
    px = RoundEven((Ext(x) + ScreenRight) * Options.Width / ViewWidth);
    py = RoundEven((Ext(ScreenTop) - y) * Options.Height / ViewHeight);
}

void SnapToPixel(float& x, float& y)
{
    int32_t px = 0;
    int32_t py = 0;
    WorldToScreen(x, y, px, py);
    x = static_cast<float>((Ext(px) - 0.5L) * PixelSize - HalfViewWidth);
    y = static_cast<float>(-(Ext(py) + 0.5L) * PixelSize + HalfViewHeight);
}

float PixelsToWorld(int32_t n) { return static_cast<float>(Ext(n) * PixelSize); }

int32_t WorldToPixels(float d) { return RoundEven(Ext(d) / PixelSize); }

bool PointInRect(const POINT& Point, const TPixelRect& Rect)
{
    // 64-bit so that a rectangle near the integer range cannot wrap.
    const int64_t right = int64_t(Rect.Left) + Rect.Width - 1;
    const int64_t bottom = int64_t(Rect.Top) + Rect.Height - 1;
    return Rect.Left <= Point.x && Point.x <= right && Rect.Top <= Point.y && Point.y <= bottom;
}

// ---------------------------------------------------------------- colours

D3DCOLOR ColorWithAlpha(D3DCOLOR RGB, float Alpha)
{
    return RGB | (static_cast<uint32_t>(RoundEven(Ext(Alpha) * 255)) << 24);
}

D3DCOLORVALUE ColorToFloats(D3DCOLOR C)
{
    return {static_cast<float>(ChannelOf(C, 16) / 255.0L), static_cast<float>(ChannelOf(C, 8) / 255.0L),
            static_cast<float>(ChannelOf(C, 0) / 255.0L), static_cast<float>(ChannelOf(C, 24) / 255.0L)};
}

D3DCOLOR LerpColorFloats(const D3DCOLORVALUE& From, const D3DCOLORVALUE& To, float T)
{
    auto channel = [T](float f, float t) {
        const float v = static_cast<float>(f + Ext(T) * (Ext(t) - f));
        return RoundEven(Ext(v) * 255);
    };
    return PackChannel(channel(From.a, To.a), 24) | PackChannel(channel(From.r, To.r), 16) |
           PackChannel(channel(From.g, To.g), 8) | PackChannel(channel(From.b, To.b), 0);
}

D3DCOLOR LerpColor(D3DCOLOR From, D3DCOLOR To, float T)
{
    auto channel = [&](int shift) {
        const Ext f = ChannelOf(From, shift);
        const Ext t = ChannelOf(To, shift);
        const float v = static_cast<float>(f + (t - f) * T);
        return PackChannel(RoundEven(v), shift);
    };
    return channel(24) | channel(16) | channel(8) | channel(0);
}

// ---------------------------------------------------------------- vectors

void SetVec3(D3DVECTOR& V, float x, float y, float z) { V = {x, y, z}; }

void Vec3Subtract(const D3DVECTOR& A, const D3DVECTOR& B, D3DVECTOR& C) { C = {A.x - B.x, A.y - B.y, A.z - B.z}; }

void Vec3Scale(const D3DVECTOR& V, D3DVECTOR& R, float s) { R = {V.x * s, V.y * s, V.z * s}; }

void Vec3Divide(const D3DVECTOR& V, D3DVECTOR& R, float s) { R = {V.x / s, V.y / s, V.z / s}; }

float Vec3Length(const D3DVECTOR& V)
{
    return static_cast<float>(std::sqrt(Ext(V.x) * V.x + Ext(V.y) * V.y + Ext(V.z) * V.z));
}

void Vec3Normalize(const D3DVECTOR& V, D3DVECTOR& R) { Vec3Divide(V, R, Vec3Length(V)); }

float Vec3Dot(const D3DVECTOR& A, const D3DVECTOR& B)
{
    return static_cast<float>(Ext(A.x) * B.x + Ext(A.y) * B.y + Ext(A.z) * B.z);
}

void Vec3Cross(const D3DVECTOR& A, const D3DVECTOR& B, D3DVECTOR& C)
{
    C = {A.y * B.z - A.z * B.y, A.z * B.x - A.x * B.z, A.x * B.y - A.y * B.x};
}

// ---------------------------------------------------------------- matrices

const D3DMATRIX IdentityMatrix = {{{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}}};

void MatrixMultiply(const D3DMATRIX& A, const D3DMATRIX& B, D3DMATRIX& C)
{
    D3DMATRIX r = {};  // C may alias A or B
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
            Ext sum = 0;
            for (int k = 0; k < 4; ++k)
                sum += Ext(B.m[i][k]) * A.m[k][j];
            r.m[i][j] = static_cast<float>(sum);
        }
    C = r;
}

void MatrixTranslation(D3DMATRIX& M, float x, float y, float z)
{
    M = IdentityMatrix;
    M.m[3][0] = x;
    M.m[3][1] = y;
    M.m[3][2] = z;
}

void MatrixScaling(D3DMATRIX& M, float x, float y, float z)
{
    M = IdentityMatrix;
    M.m[0][0] = x;
    M.m[1][1] = y;
    M.m[2][2] = z;
}

void MatrixRotationZ(D3DMATRIX& M, float a)
{
    const float c = std::cos(a);
    const float s = std::sin(a);
    M = IdentityMatrix;
    M.m[0][0] = c;
    M.m[0][1] = s;
    M.m[1][0] = -s;
    M.m[1][1] = c;
}

HRESULT MatrixPerspectiveFov(D3DMATRIX& M, float FovY, float Aspect, float ZNear, float ZFar)
{
    if (std::fabs(ZFar - ZNear) < 0.01f)
        return E_INVALIDARG;
    // Single precision throughout, so a right angle gives a cotangent of exactly 1.
    const float half = FovY / 2;
    const float s = std::sin(half);
    if (std::fabs(s) < 0.01f)
        return E_INVALIDARG;
    const float c = std::cos(half) / s;
    const float q = ZFar / (ZFar - ZNear);
    M = {};
    M.m[0][0] = Aspect * c;
    M.m[1][1] = c;
    M.m[2][2] = q;
    M.m[2][3] = 1.0f;
    M.m[3][2] = -ZNear * q;
    return S_OK;
}

HRESULT MatrixLookAt(D3DMATRIX& M, const D3DVECTOR& Eye, const D3DVECTOR& At, const D3DVECTOR& Up)
{
    D3DVECTOR z;
    Vec3Subtract(At, Eye, z);
    const float zl = Vec3Length(z);
    if (zl < 1e-6f)
        return E_INVALIDARG;
    Vec3Divide(z, z, zl);

    const D3DVECTOR ups[3] = {Up, {0, 1, 0}, {1, 0, 0}};
    D3DVECTOR y = {};
    float yl = 0;
    for (const D3DVECTOR& u : ups) {
        D3DVECTOR along;
        Vec3Scale(z, along, Vec3Dot(u, z));
        Vec3Subtract(u, along, y);
        yl = Vec3Length(y);
        if (yl >= 1e-6f)
            break;
    }
    if (yl < 1e-6f)
        return E_INVALIDARG;
    Vec3Divide(y, y, yl);

    D3DVECTOR x;
    Vec3Cross(y, z, x);
    M = IdentityMatrix;
    M.m[0][0] = x.x;
    M.m[0][1] = y.x;
    M.m[0][2] = z.x;
    M.m[1][0] = x.y;
    M.m[1][1] = y.y;
    M.m[1][2] = z.y;
    M.m[2][0] = x.z;
    M.m[2][1] = y.z;
    M.m[2][2] = z.z;
    M.m[3][0] = -Vec3Dot(Eye, x);
    M.m[3][1] = -Vec3Dot(Eye, y);
    M.m[3][2] = -Vec3Dot(Eye, z);
    return S_OK;
}

void MakeDirectionalLight(const D3DVECTOR& Direction, D3DLIGHT8& Light, float R, float G, float B, float Range)
{
    std::memset(&Light, 0, sizeof(Light));
    Light.Type = D3DLIGHT_DIRECTIONAL;
    Light.Diffuse = {R, G, B, 0.0f};
    Vec3Normalize(Direction, Light.Direction);
    Light.Range = Range;
}
