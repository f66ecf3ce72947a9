#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "ParticleTestSupport.h"
#include "app/uC.h"
#include "particles/uPartVisual.h"
#include "particles/uRandom.h"
#include "particles/uSpiral.h"

using namespace particle_test;

namespace {

// A spiral without a particle master draws its path into a system the test owns.
class SpiralPath : public ::testing::Test {
protected:
  void SetUp() override
  {
    SavedMaster = ParticleMaster;
    ParticleMaster = nullptr;
    SavedOptions = Options;
    SetFrameStep(1.0f);
    SetScreenHeight(768);
    FrameCount = 1;
    ElapsedSteps = 0;
  }
  void TearDown() override
  {
    ParticleMaster = SavedMaster;
    Options = SavedOptions;
    FrameCount = 0;
    ElapsedSteps = 0;
  }
  std::unique_ptr<TSpiral> MakeSpiral(int32_t Type, int32_t BlendMode)
  {
    Options.SpiralType = Type;
    Options.BlendMode = BlendMode;
    auto S = std::make_unique<TSpiral>();
    S->Particles = &System;
    return S;
  }
  TGamePartMaster* SavedMaster = nullptr;
  TOptions SavedOptions{};
  TParticles System;
};

TEST_F(SpiralPath, PaletteColours)
{
  auto S = MakeSpiral(0, 0);
  struct {
    float Elapsed, Offset;
    uint32_t Color;
  } const Cases[] = {
    {0, 0, 0xFF2121FF},         // blue
    {450, 0, 0xFF909021},       // halfway from red to green
    {400, 50, 0xFF909021},      // elapsed time and offset add up
    {1800, 0, 0xFF2121FF},      // one cycle later: blue again
    {0, 1800 + 300, 0xFFFF2121},
    {1799.6f, 0, 0xFF2121FF},   // rounds to 1800
    {1500, 150, 0xFF909090},    // yellow halfway back to blue
  };
  for (const auto& C : Cases) {
    ElapsedSteps = C.Elapsed;
    EXPECT_EQ(S->PaletteColor(C.Offset), C.Color) << C.Elapsed << " + " << C.Offset;
  }
}

// Three circular terms of at most 0.7, 0.45 and 0.1: the emitter never
// leaves a disc of 1.25 around the centre.
TEST_F(SpiralPath, EmitterStaysWithinReach)
{
  RandSeed(2024);
  float Farthest = 0;
  for (int Spiral = 0; Spiral < 20; ++Spiral) {
    auto S = MakeSpiral(0, 0);
    EXPECT_EQ(S->TermCount, 3);
    EXPECT_GE(S->Terms[0].Radius, 0.3f);
    EXPECT_LT(S->Terms[0].Radius, 0.7f);
    EXPECT_EQ(S->Terms[2].Radius, 0.1f);
    for (int Frame = 0; Frame < 500; ++Frame) {
      SetFrameStep(0.5f + static_cast<float>(Frame % 7) * 0.5f);
      S->Update();
      Farthest = std::max(Farthest, std::hypot(System.PosX, System.PosY));
      ASSERT_LE(std::hypot(System.PosX, System.PosY), 1.25f);
    }
  }
  EXPECT_GT(Farthest, 0.6f);
}

// Each update moves the emitter and keeps the previous point, so births are
// spread along the segment just travelled.
TEST_F(SpiralPath, MoveToKeepsThePreviousPoint)
{
  auto S = MakeSpiral(0, 0);
  S->Update();
  const float X1 = System.PosX, Y1 = System.PosY;
  S->Update();
  EXPECT_EQ(System.PrevX, X1);
  EXPECT_EQ(System.PrevY, Y1);
  EXPECT_NE(System.PosX, X1);
}

TEST_F(SpiralPath, RepaintsColoursEveryFourthFrame)
{
  auto S = MakeSpiral(0, 0);
  ElapsedSteps = 1000;
  for (FrameCount = 1; FrameCount <= 8; ++FrameCount) {
    System.ColorTable[100] = 0x12345678;
    S->Update();
    EXPECT_EQ(System.ColorTable[100] != 0x12345678, FrameCount % 4 == 0) << "frame " << FrameCount;
  }
}

// Bright mode fades in from a dim grey; the others from the first palette
// colour made transparent. The last key colour always ends transparent.
TEST_F(SpiralPath, KeyColoursByBlendMode)
{
  for (int32_t Mode : {0, 1, 2}) {
    auto S = MakeSpiral(0, Mode);
    FrameCount = 4;
    ElapsedSteps = 777;
    S->Update();
    const uint32_t First = Mode == 0 ? 0x00111111u : (S->PaletteColor(S->ColorPhaseA * 0.5f) & 0x00FFFFFFu);
    EXPECT_EQ(System.ColorTable[0], First) << "mode " << Mode;
    EXPECT_EQ(System.ColorTable[255] >> 24, 6u) << "mode " << Mode;  // 0.0217 of the way from opaque to clear
    EXPECT_EQ(System.ColorTable[85] & 0xFF000000u, 0xFF000000u);
  }
}

TEST_F(SpiralPath, ThirdTypePullsTowardsTheCentre)
{
  for (int32_t Type : {0, 1, 2}) {
    System.SetWind(0, 0);
    System.SetGrav(0, 0);
    auto S = MakeSpiral(Type, 0);
    S->Update();
    if (Type != 2) {
      EXPECT_EQ(System.WindPower, 0.0f);
      EXPECT_EQ(System.GravPower, 0.0f);
      continue;
    }
    const TSpiralTerm& T = S->Terms[0];
    EXPECT_FLOAT_EQ(System.WindPower, 0.005f * T.Radius);
    EXPECT_FLOAT_EQ(System.GravPower, 0.00005f * T.Radius);
    // Both point from the first term's position back to the centre.
    const float Dot = System.WindX * std::cos(T.Phase) + System.WindY * std::sin(T.Phase);
    EXPECT_NEAR(Dot, -System.WindPower, 1e-6f);
    EXPECT_LT(System.GravX * std::cos(T.Phase) + System.GravY * std::sin(T.Phase), 0.0f);
  }
}

TEST_F(SpiralPath, EmitsFromTheSecondFrameOn)
{
  auto S = MakeSpiral(0, 0);
  FrameCount = 0;
  S->Update();
  EXPECT_FALSE(System.Emitting);
  FrameCount = 1;
  S->Update();
  EXPECT_TRUE(System.Emitting);
}

}  // namespace
