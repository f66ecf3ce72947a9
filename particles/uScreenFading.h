#pragma once
// The opening effect: the desktop picture squeezes into a line, the line into a
// dot, and the dot fades to black over 280 ticks of the scene clock.

#include "scene/uBasic.h"

#include <cstdint>
#include <string>

class TTexRect256;
class TColorRect;

class TScreenFading : public TMaster {
public:
    const char* ClassName() const override { return "TScreenFading"; }
    explicit TScreenFading(const std::string& fileName);

    void Update() override;

    TTexRect256* Image = nullptr;
    TColorRect* Cover = nullptr;
};

class TMyScreenFading : public TScreenFading {
public:
    const char* ClassName() const override { return "TMyScreenFading"; }
    explicit TMyScreenFading(const std::string& fileName) : TScreenFading(fileName) {}
    ~TMyScreenFading() override;
};

// The look of the fading at scene time t (ticks).
struct TFadingFrame {
    bool Done = false;
    bool ImageVisible = true;
    bool SetImageScaleX = false, SetImageScaleY = false;
    float ImageScaleX = 1.0f, ImageScaleY = 1.0f;
    bool SetCoverScaleX = false, SetCoverScaleY = false;
    float CoverScaleX = 1.0f, CoverScaleY = 1.0f;
    uint32_t CoverColor = 0x00FFFFFF;
};
TFadingFrame FadingAt(float t);
