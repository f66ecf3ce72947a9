#include "scene/uPrior.h"

#include "scene/math/uMath.h"

void TPrior::SetLeft(float x) { CentreX = x + HalfWidth; }

void TPrior::SetTop(float y) { CentreY = y - HalfHeight; }

void TPrior::GetWorldMatrix(D3DMATRIX& M)
{
    MatrixTranslation(M, CentreX, CentreY, 0.0f);
    if (Rotated) {
        D3DMATRIX r;
        MatrixRotationZ(r, Angle);
        MatrixMultiply(M, r, M);  // R first, then T
    }
    if (Scaled) {
        D3DMATRIX s;
        MatrixScaling(s, ScaleX, ScaleY, 1.0f);
        MatrixMultiply(M, s, M);  // S first, then what was there
    }
}

void TPrior::SetWidth(float w)
{
    Width = w;
    HalfWidth = w / 2;
}

void TPrior::SetHeight(float h)
{
    Height = h;
    HalfHeight = h / 2;
}

float TPrior::GetLeft() const { return CentreX - HalfWidth; }

float TPrior::GetTop() const { return CentreY + HalfHeight; }
