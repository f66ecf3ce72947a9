#include "particles/uSpiral.h"

#include <cmath>
#include <numbers>
#include <string>

#include "app/uC.h"
#include "framework/uD3DGlobals.h"
#include "particles/uPartVisual.h"
#include "particles/uRandom.h"
#include "render/uTex.h"
#include "scene/math/uMath.h"

namespace {

constexpr float Pi = std::numbers::pi_v<float>;
constexpr float TwoPi = 2.0f * Pi;

constexpr int64_t PaletteSegment = 300;
constexpr int64_t PaletteCycle = 6 * PaletteSegment;
constexpr uint32_t Palette[7] = {
  0xFF2121FF,  // blue
  0xFFFF2121,  // red
  0xFF21FF21,  // green
  0xFF21FFFF,  // cyan
  0xFFFF21FF,  // magenta
  0xFFFFFF21,  // yellow
  0xFF2121FF,  // blue again, closing the cycle
};

constexpr uint32_t DimFadeIn = 0x00111111;
constexpr int32_t RepaintEvery = 4;

enum : int32_t { SpiralFirst = 0, SpiralSecond = 1, SpiralThird = 2 };
enum : int32_t { BlendBright = 0, BlendColored = 1, BlendCombined = 2 };

uint32_t Transparent(uint32_t Color) { return Color & 0x00FFFFFFu; }

TSpiralTerm RandomTerm(float RadiusScale, float RadiusBase, float SpeedScale)
{
  TSpiralTerm T;
  T.Radius = Random() * RadiusScale + RadiusBase;
  T.Phase = Random() * TwoPi;
  T.Speed = (Random() - 0.5f) * SpeedScale;
  return T;
}

}  // namespace

uint32_t SpiralPaletteAt(int64_t Ticks)
{
  int64_t K = Ticks % PaletteCycle;
  if (K < 0)
    K += PaletteCycle;
  const int64_t Entry = K / PaletteSegment;
  const float F = static_cast<float>(K % PaletteSegment) / static_cast<float>(PaletteSegment);
  return LerpColor(Palette[Entry], Palette[Entry + 1], F);
}

TSpiral::TSpiral()
{
  TermCount = 3;
  Terms[0] = RandomTerm(0.4f, 0.3f, 0.04f);
  Terms[1] = RandomTerm(0.3f, 0.15f, 0.08f);
  Terms[2].Radius = 0.1f;
  Terms[2].Phase = Random() * TwoPi;
  Terms[2].Speed = (Random() - 0.5f) * 0.16f;
  CenterX = CenterY = 0.0f;

  const std::string FileName = "@Fire" + std::to_string(Options.SpiralType + 1) + ".prt";
  if (ParticleMaster)
    Particles = ParticleMaster->CreateAt(FileName, WorldToPixelX(CenterX), WorldToPixelY(CenterY));
  if (Particles)
    Particles->SetInterpolate(true);

  if (Options.BlendMode == BlendColored) {
    if (Particles)
      Particles->Blend = 0;
  } else if (Options.BlendMode == BlendCombined) {
    if (Random() < 0.5f && Particles)
      Particles->Blend = 0;
  }
  ColorPhaseA = Random() * 10000.0f;
  ColorPhaseB = Random() * 10000.0f;
  ColorPhaseC = Random() * 10000.0f;
  if (Options.SpiralType == SpiralFirst || Options.SpiralType == SpiralSecond) {
    const int32_t Index = Random(UVCount);
    if (Particles)
      Particles->SetUV(Index);
  }
}

uint32_t TSpiral::PaletteColor(float Offset) const
{
  const double At = static_cast<double>(ElapsedSteps) + static_cast<double>(Offset);
  return SpiralPaletteAt(static_cast<int64_t>(std::nearbyint(At)));
}

void TSpiral::MoveEmitter()
{
  float X = CenterX, Y = CenterY;
  for (int32_t K = 0; K < TermCount && K < MaxSpiralTerms; ++K) {
    TSpiralTerm& T = Terms[K];
    T.Phase += T.Speed * FrameStep;
    X += std::cos(T.Phase) * T.Radius;
    Y += std::sin(T.Phase) * T.Radius;
  }
  Particles->MoveTo(X, Y);
}

void TSpiral::RepaintColors()
{
  // Only the three modes have a ramp; any other value keeps the file's colours.
  if (Options.BlendMode != BlendBright && Options.BlendMode != BlendColored && Options.BlendMode != BlendCombined)
    return;
  const uint32_t First =
      Options.BlendMode == BlendBright ? DimFadeIn : Transparent(PaletteColor(ColorPhaseA * 0.5f));
  Particles->SetColors(First, PaletteColor(ColorPhaseA), PaletteColor(ColorPhaseB),
                       Transparent(PaletteColor(ColorPhaseC)));
}

// Wind and gravity point from the first term's position back to the centre.
void TSpiral::PullTowardsCentre()
{
  const TSpiralTerm& T = Terms[0];
  Particles->SetWind(0.005f * T.Radius, T.Phase - Pi);
  Particles->SetGrav(0.00005f * T.Radius, T.Phase + Pi);
}

void TSpiral::Update()
{
  if (!Particles)
    return;
  Particles->Emitting = FrameCount >= 1;
  MoveEmitter();
  if (FrameCount % RepaintEvery == 0)
    RepaintColors();
  if (Options.SpiralType == SpiralThird)
    PullTowardsCentre();
}
