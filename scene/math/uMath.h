#pragma once
// Pixel and world conversions, colour blends, vectors and Direct3D-style matrices.
//
// World units: origin at the screen centre, y up, the screen two units high. Pixels: origin
// at the top-left corner, y down. Matrices are row-major and transform row vectors (p x M).

#include "platform/d3d8/d3d8.h"

#include <cstdint>

// A pixel rectangle for hit tests; the right and bottom edges are outside.
struct TPixelRect {
    int32_t Left;
    int32_t Top;
    int32_t Width;
    int32_t Height;
};

float PixelToWorldX(int32_t i);
float PixelToWorldY(int32_t j);
int32_t WorldToPixelX(float x);
int32_t WorldToPixelY(float y);
void WorldToScreen(float x, float y, int32_t& px, int32_t& py);
void SnapToPixel(float& x, float& y);
float PixelsToWorld(int32_t n);
int32_t WorldToPixels(float d);
bool PointInRect(const POINT& Point, const TPixelRect& Rect);

D3DCOLOR ColorWithAlpha(D3DCOLOR RGB, float Alpha);
D3DCOLORVALUE ColorToFloats(D3DCOLOR C);
D3DCOLOR LerpColorFloats(const D3DCOLORVALUE& From, const D3DCOLORVALUE& To, float T);
D3DCOLOR LerpColor(D3DCOLOR From, D3DCOLOR To, float T);

void SetVec3(D3DVECTOR& V, float x, float y, float z);
void Vec3Subtract(const D3DVECTOR& A, const D3DVECTOR& B, D3DVECTOR& C);
void Vec3Scale(const D3DVECTOR& V, D3DVECTOR& R, float s);
void Vec3Divide(const D3DVECTOR& V, D3DVECTOR& R, float s);
float Vec3Length(const D3DVECTOR& V);
// No guard against a zero vector.
void Vec3Normalize(const D3DVECTOR& V, D3DVECTOR& R);
float Vec3Dot(const D3DVECTOR& A, const D3DVECTOR& B);
void Vec3Cross(const D3DVECTOR& A, const D3DVECTOR& B, D3DVECTOR& C);

extern const D3DMATRIX IdentityMatrix;

// C = B x A: the transform that applies B first, then A.
void MatrixMultiply(const D3DMATRIX& A, const D3DMATRIX& B, D3DMATRIX& C);
void MatrixTranslation(D3DMATRIX& M, float x, float y, float z);
void MatrixScaling(D3DMATRIX& M, float x, float y, float z);
void MatrixRotationZ(D3DMATRIX& M, float a);
// Left-handed; Aspect scales x, so callers pass height / width. M is untouched on failure.
HRESULT MatrixPerspectiveFov(D3DMATRIX& M, float FovY, float Aspect, float ZNear, float ZFar);
// Left-handed; an Up parallel to the view falls back to (0, 1, 0), then (1, 0, 0).
HRESULT MatrixLookAt(D3DMATRIX& M, const D3DVECTOR& Eye, const D3DVECTOR& At, const D3DVECTOR& Up);

void MakeDirectionalLight(const D3DVECTOR& Direction, D3DLIGHT8& Light, float R, float G, float B, float Range);

template <class T>
void ReleaseRef(T*& Ref)
{
    if (Ref) {
        Ref->Release();
        Ref = nullptr;
    }
}
