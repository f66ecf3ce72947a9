// A fire trail wandering over the screen: the emitter of one continuous
// particle system moves on a sum of circular motions, and every fourth frame
// the system's colour ramp is repainted from a slowly cycling palette.
#pragma once

#include <cstdint>

#include "particles/uParticles.h"
#include "scene/uBasic.h"

struct TSpiralTerm {
  float Radius;  // world units
  float Phase;   // radians
  float Speed;   // radians per tick
};

constexpr int32_t MaxSpiralTerms = 10;

class TSpiral : public TMaster {
public:
    const char* ClassName() const override { return "TSpiral"; }
  TParticles* Particles = nullptr;  // owned by the particle master
  float CenterX = 0, CenterY = 0;
  TSpiralTerm Terms[MaxSpiralTerms] = {};
  int32_t TermCount = 0;
  float ColorPhaseA = 0, ColorPhaseB = 0, ColorPhaseC = 0;

  TSpiral();
  void Update() override;
  uint32_t PaletteColor(float Offset) const;

private:
  void MoveEmitter();
  void RepaintColors();
  void PullTowardsCentre();
};

// The palette colour Ticks ticks into its 1800-tick cycle.
uint32_t SpiralPaletteAt(int64_t Ticks);
