#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <vector>

#include <cmath>
#include <filesystem>
#include <memory>
#include <numbers>

#include "ParticleTestSupport.h"
#include "app/uC.h"
#include "particles/uPartVisual.h"
#include "particles/uRandom.h"
#include "particles/uSpiral.h"
#include "render/uTex.h"
#include "scene/math/uMath.h"
#include "tests/scene/FakeDevice.h"
#include "tests/scene/SceneTestSupport.h"

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
// colour made transparent. The last key colour always ends transparent. Any other
// mode leaves the file's colours alone.
TEST_F(SpiralPath, KeyColoursByBlendMode)
{
  for (int32_t Mode : {3, -1, 7}) {
    auto S = MakeSpiral(0, Mode);
    FrameCount = 4;
    const std::vector<uint32_t> Before(std::begin(System.ColorTable), std::end(System.ColorTable));
    S->Update();
    EXPECT_TRUE(std::equal(Before.begin(), Before.end(), std::begin(System.ColorTable))) << "mode " << Mode;
  }
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

namespace {

// Construction through the game master: the file of the spiral type, its
// blend and image chosen from the options, the draws taken in order.
TEST(SpiralCreation, FromTheOptionsAndTheDraws)
{
  scenetest::ReportCapture Reports;
  scenetest::FakeDevice Device;
  namespace fs = std::filesystem;
  fs::create_directories(fs::path(DataDir) / "Particles");
  for (const char* Name : {"@Fire1.prt", "@Fire3.prt"})
    fs::copy_file(fs::path(HALVORA_SOURCE_DIR) / "data/Particles" / Name, fs::path(DataDir) / "Particles" / Name);
  const TOptions Saved = Options;
  UVCount = 22;
  TGamePartMaster Master;
  ParticleMaster = &Master;
  struct {
    int32_t Type, Mode;
  } const Cases[] = {{0, 1}, {2, 0}, {0, 2}};
  for (const auto& C : Cases) {
    SCOPED_TRACE(testing::Message() << "type " << C.Type << " mode " << C.Mode);
    Options.SpiralType = C.Type;
    Options.BlendMode = C.Mode;
    RandSeed(77);
    float R[12];
    for (float& V : R)
      V = Random();
    RandSeed(77);
    for (int I = 0; I < (C.Mode == 2 ? 12 : 11); ++I)
      Random();
    const int32_t Image = Random(22);
    RandSeed(77);
    TSpiral Spiral;
    TParticles& P = *Spiral.Particles;
    EXPECT_EQ(Master.Last, &P);
    EXPECT_FLOAT_EQ(Spiral.Terms[0].Radius, R[0] * 0.4f + 0.3f);
    EXPECT_FLOAT_EQ(Spiral.Terms[1].Speed, (R[5] - 0.5f) * 0.08f);
    EXPECT_FLOAT_EQ(Spiral.Terms[2].Phase, R[6] * 2 * std::numbers::pi_v<float>);
    EXPECT_TRUE(P.Interpolate);
    EXPECT_FALSE(P.OneShot);
    EXPECT_EQ(P.PosX, PixelToWorldX(WorldToPixelX(0)));
    // Combined mode draws once more (for the blend) before the colour phases.
    const int Phase = C.Mode == 2 ? 9 : 8;
    EXPECT_FLOAT_EQ(Spiral.ColorPhaseA, R[Phase] * 10000.0f);
    EXPECT_FLOAT_EQ(Spiral.ColorPhaseC, R[Phase + 2] * 10000.0f);
    const uint8_t FileBlend = 1;
    EXPECT_EQ(P.Blend, C.Mode == 1 || (C.Mode == 2 && R[8] < 0.5f) ? 0 : FileBlend);
    if (C.Type == 2) {
      EXPECT_EQ(P.UVIndex, 1);  // the file's own sprite
    } else {
      EXPECT_EQ(P.UVIndex, Image);
    }
    EXPECT_EQ(P.WindPower, 0.0f);
  }
  ParticleMaster = nullptr;
  Options = Saved;
  UVCount = 0;
  EXPECT_TRUE(Reports.Messages.empty());
}

}  // namespace
