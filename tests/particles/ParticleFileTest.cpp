#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "ParticleTestSupport.h"
#include "app/uC.h"
#include "render/uLog.h"
#include "render/uTex.h"
#include "tests/support/TestSupport.h"


namespace {

struct FileCase {
  const char* Name;
  const char* Text;
  std::function<void(const TParticles&)> Check;
};

void ExpectColor(const D3DCOLORVALUE& C, float R, float G, float B, float A)
{
  EXPECT_FLOAT_EQ(C.r, R);
  EXPECT_FLOAT_EQ(C.g, G);
  EXPECT_FLOAT_EQ(C.b, B);
  EXPECT_FLOAT_EQ(C.a, A);
}

class ParticleFile : public ::testing::TestWithParam<FileCase> {};

TEST_P(ParticleFile, Reads)
{
  testsupport::TempDir Dir;
  testsupport::WriteBytes(Dir.File("case.prt"), GetParam().Text);
  auto P = std::make_unique<TParticles>();
  P->LoadFromFile(Dir.File("case.prt"));
  GetParam().Check(*P);
}

const FileCase FileCases[] = {
  {"OnlyCommentsKeepDefaults", "; a\n// b\n\n;Count 5\n//Count 6\n", [](const TParticles& P) {
     EXPECT_EQ(P.Count, 0);
     EXPECT_EQ(P.Queue, 0);
     EXPECT_EQ(P.SizeUnit, 0);
     EXPECT_FALSE(P.EnableAxisRotate);
     ExpectColor(P.Colors[0], 0, 0, 0, 0);
   }},
  {"BlendKeepsLowByte", "Blend 257\nQueue -1\n", [](const TParticles& P) {
     EXPECT_EQ(P.Blend, 1);
     EXPECT_EQ(P.Queue, 255);
   }},
  {"FlagTrueInAnyCase", "EnableAxisRotate TRUE\nEnableCenterRotate 1\n", [](const TParticles& P) {
     EXPECT_TRUE(P.EnableAxisRotate);
     EXPECT_TRUE(P.EnableCenterRotate);
   }},
  {"FlagOtherWordsFalse", "EnableAxisRotate yes\nEnableCenterRotate 2\n", [](const TParticles& P) {
     EXPECT_FALSE(P.EnableAxisRotate);
     EXPECT_FALSE(P.EnableCenterRotate);
   }},
  {"ColorsMissingAreTransparentBlack", "Colors FF000000 $FFFFFFFF\n", [](const TParticles& P) {
     ExpectColor(P.Colors[0], 0, 0, 0, 1);
     ExpectColor(P.Colors[1], 1, 1, 1, 1);
     ExpectColor(P.Colors[2], 0, 0, 0, 0);
     ExpectColor(P.Colors[3], 0, 0, 0, 0);
   }},
  {"ColorDollarsAnywhere", "Colors 80$FF$0040\n", [](const TParticles& P) {
     ExpectColor(P.Colors[0], 1.0f, 0.0f, 64.0f / 255.0f, 128.0f / 255.0f);
   }},
  {"LaterLineWins", "Count 10\nCount 20\n", [](const TParticles& P) { EXPECT_EQ(P.Count, 20); }},
  {"IndentedSemicolonIsNotAComment", "  ; Count 9\n   Count 7\n", [](const TParticles& P) { EXPECT_EQ(P.Count, 7); }},
  {"KeysAreCaseSensitive", "count 100\nCOUNT 100\n", [](const TParticles& P) { EXPECT_EQ(P.Count, 0); }},
  {"TabBelongsToToken", "Count\t5\nLifeTime 9\n", [](const TParticles& P) {
     EXPECT_EQ(P.Count, 0);
     EXPECT_EQ(P.LifeTime, 9);
   }},
  {"HexIntegers", "Count $10\nLifeTime 0x20\n", [](const TParticles& P) {
     EXPECT_EQ(P.Count, 16);
     EXPECT_EQ(P.LifeTime, 32);
   }},
  {"CountHeldToPool", "Count 5000\n", [](const TParticles& P) { EXPECT_EQ(P.Count, MaxParticles); }},
  {"NegativeCountIsNone", "Count -3\n", [](const TParticles& P) { EXPECT_EQ(P.Count, 0); }},
  {"FloatsWithExponent", "BornRadius 2E-3\nStartSpeed -0.25\nPartsPerStep 1.5\n", [](const TParticles& P) {
     EXPECT_FLOAT_EQ(P.BornRadius, 0.002f);
     EXPECT_FLOAT_EQ(P.StartSpeed, -0.25f);
     EXPECT_FLOAT_EQ(P.PartsPerStep, 1.5f);
   }},
  {"NonFiniteReadsAsZero", "BornRadius 1e999\nStartSpeed nan\nWind inf 1\nSize -1e999 1 0\n", [](const TParticles& P) {
     EXPECT_EQ(P.BornRadius, 0.0f);
     EXPECT_EQ(P.StartSpeed, 0.0f);
     EXPECT_EQ(P.WindPower, 0.0f);
     EXPECT_EQ(P.WindX, 0.0f);
     EXPECT_EQ(P.Size[0], 0.0f);
     EXPECT_EQ(P.Size[1], 1.0f);
   }},
  {"BeyondFloatRangeReadsAsZero", "BornRadius 1e300\nStartSpeed -3.5e38\nPartsPerStep 3.4e38\n", [](const TParticles& P) {
     EXPECT_EQ(P.BornRadius, 0.0f);
     EXPECT_EQ(P.StartSpeed, 0.0f);
     EXPECT_FLOAT_EQ(P.PartsPerStep, 3.4e38f);
   }},
  {"WindAndGravComponents", "Wind 0.5 1.5707964\nGrav 2\n", [](const TParticles& P) {
     EXPECT_FLOAT_EQ(P.WindPower, 0.5f);
     EXPECT_NEAR(P.WindX, 0.0f, 1e-7);
     EXPECT_FLOAT_EQ(P.WindY, 0.5f);
     EXPECT_FLOAT_EQ(P.GravX, 2.0f);
     EXPECT_EQ(P.GravY, 0.0f);
   }},
  {"ExtraTokensIgnored", "CenterRotate 1 2 3 4 5 6 7\nAxisRotate 1\n", [](const TParticles& P) {
     EXPECT_EQ(P.CenterRotate[4], 5.0f);
     EXPECT_EQ(P.AxisRotate[0], 1.0f);
     EXPECT_EQ(P.AxisRotate[1], 0.0f);
   }},
  {"CarriageReturnsTolerated", "Count 12\r\nEnableAxisRotate true\r\n", [](const TParticles& P) {
     EXPECT_EQ(P.Count, 12);
     EXPECT_TRUE(P.EnableAxisRotate);
   }},
};

INSTANTIATE_TEST_SUITE_P(Cases, ParticleFile, ::testing::ValuesIn(FileCases),
                         [](const auto& Info) { return std::string(Info.param.Name); });

// The UV entry is copied at once and the size unit set; indices outside the
// 256-entry table are held to its ends.
TEST(ParticleFileUV, CopiesEntryAndClampsIndex)
{
  UVTable[7] = {0.25f, 0.5f, 0.75f, 1.0f};
  UVTable[0] = {0.0f, 0.0f, 0.125f, 0.125f};
  UVTable[255] = {0.5f, 0.5f, 0.625f, 0.625f};
  testsupport::TempDir Dir;
  struct {
    const char* Line;
    int32_t Index;
    float U0, V1;
  } const Cases[] = {{"UVIndex 7", 7, 0.25f, 1.0f}, {"UVIndex -4", 0, 0.0f, 0.125f}, {"UVIndex 300", 255, 0.5f, 0.625f}};
  for (const auto& C : Cases) {
    auto P = std::make_unique<TParticles>();
    testsupport::WriteBytes(Dir.File("uv.prt"), std::string(C.Line) + "\n");
    P->LoadFromFile(Dir.File("uv.prt"));
    EXPECT_EQ(P->UVIndex, C.Index) << C.Line;
    EXPECT_EQ(P->U0, C.U0) << C.Line;
    EXPECT_EQ(P->V1, C.V1) << C.Line;
    EXPECT_EQ(P->SizeUnit, 32) << C.Line;
  }
}

TEST(ParticleFileMissing, ReportsAndKeepsDefaults)
{
  testsupport::TempDir Dir;
  DataDir = Dir.Path();
  testsupport::CapturedChannel Channel;
  const std::string Path = Dir.File("absent.prt");
  auto P = std::make_unique<TParticles>();
  P->LoadFromFile(Path);
  EXPECT_EQ(P->Count, 0);
  EXPECT_TRUE(P->Emitting);
  const std::string Expected = "TParticles.LoadFromFile: File not exists \"" + Path + "\"";
  ASSERT_EQ(Channel.Messages.size(), 1u);
  EXPECT_EQ(testsupport::Untagged(Channel.Messages[0]), Expected);
  EXPECT_EQ(testsupport::ReadBytes(Dir.File("Error.log")), Expected + "\r\n");
  DataDir.clear();
}

// Every shipped spiral file must load into a system that the renderer's cap
// can hold eight times over.
TEST(ParticleFileShipped, SpiralFilesLoad)
{
  for (const char* Name : {"@Fire1.prt", "@Fire2.prt", "@Fire3.prt"}) {
    auto P = std::make_unique<TParticles>();
    P->LoadFromFile(std::string(HALVORA_SOURCE_DIR) + "/data/Particles/" + Name);
    EXPECT_GT(P->Count, 0) << Name;
    EXPECT_LE(P->Count * 8, 16384) << Name;
    EXPECT_GT(P->LifeTime, 0) << Name;
    EXPECT_EQ(P->SizeUnit, 32) << Name;
    EXPECT_LE(P->Queue, 3) << Name;
    EXPECT_LE(P->Blend, 1) << Name;
    // The pool must not run dry while the emitter keeps up its rate.
    EXPECT_LE(P->PartsPerStep * static_cast<float>(P->LifeTime), static_cast<float>(P->Count)) << Name;
  }
}

}  // namespace
