#pragma once
// A scene object with a place on the screen plane: centre, size, rotation and scale.

#include "scene/uBasic.h"

#include "platform/d3d8/d3d8.h"

class TPrior : public TBasic {
public:
    const char* ClassName() const override { return "TPrior"; }
    float Width = 0.0f;
    float HalfWidth = 0.0f;
    float Height = 0.0f;
    float HalfHeight = 0.0f;
    float Angle = 0.0f;
    float ScaleX = 0.0f;
    float ScaleY = 0.0f;
    bool UseWorldMatrix = false;
    bool Rotated = false;
    bool Scaled = false;  // set ScaleX and ScaleY before turning this on
    bool ExtraStateBlock = false;
    float CentreX = 0.0f;
    float CentreY = 0.0f;

    // Both place an edge through the half sizes, so set the size first.
    virtual void SetLeft(float x);
    virtual void SetTop(float y);
    // Scale, then rotate, then move to the centre.
    virtual void GetWorldMatrix(D3DMATRIX& M);

    void SetWidth(float w);
    void SetHeight(float h);
    float GetLeft() const;
    float GetTop() const;
};
