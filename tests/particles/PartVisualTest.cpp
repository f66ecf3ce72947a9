#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "ParticleTestSupport.h"
#include "app/uC.h"
#include "particles/uPartVisual.h"
#include "render/uStateBlocks.h"
#include "render/uTex.h"
#include "scene/math/uMath.h"
#include "tests/scene/FakeDevice.h"
#include "tests/scene/SceneTestSupport.h"
#include "tests/support/TestSupport.h"

using namespace particle_test;

namespace {

constexpr int QuadBytes = 6 * 24;

class PartVisual : public ::testing::Test {
protected:
  void SetUp() override
  {
    SetScreenHeight(768);
    SetFrameStep(1.0f);
    Master = std::make_unique<TPartMaster>();
  }
  void TearDown() override { Master.reset(); }

  // A system of Count slots, all dead but the first Alive ones, which sit at
  // (slot, 0) with colour Tag + slot.
  TParticles* AddSystem(uint8_t Blend, int32_t Count, int32_t Alive, uint32_t Tag)
  {
    auto* S = Master->AddChild(new TParticles());
    S->Blend = Blend;
    S->Count = Count;
    S->LifeTime = 100;
    S->SizeUnit = 32;
    S->Size[0] = S->Size[1] = 1.0f;
    S->Prepare();
    S->Reset();
    for (int32_t I = 0; I < Alive; ++I) {
      TParticle& P = *S->Order[I];
      P.Life = 0.5f;
      P.ColorIndex = 128;
      P.X = static_cast<float>(I);
      P.Y = 0.0f;
      P.Color = Tag + static_cast<uint32_t>(I);
    }
    return S;
  }

  std::vector<std::string> Draws() const
  {
    std::vector<std::string> D;
    for (const std::string& Line : Device.Journal)
      if (Line.rfind("DrawPrimitive ", 0) == 0)
        D.push_back(Line);
    return D;
  }
  const TDiffuseTexVertex* Uploaded() const
  {
    return reinterpret_cast<const TDiffuseTexVertex*>(Device.Buffers.back()->Bytes.data());
  }

  scenetest::ReportCapture Reports;
  scenetest::FakeDevice Device;
  std::unique_ptr<TPartMaster> Master;
};

TEST_F(PartVisual, OneBufferOfAllQuads)
{
  ASSERT_EQ(Master->First, Master->Renderer);
  EXPECT_EQ(Master->Renderer->MaxRects, 16384);
  EXPECT_EQ(Master->Renderer->VertexCount, 98304);
  ASSERT_EQ(Device.Buffers.size(), 1u);
  EXPECT_EQ(Device.Buffers[0]->Bytes.size(), 98304u * 24u);
}

TEST_F(PartVisual, AdditiveOnlyDrawsNothingFirst)
{
  AddSystem(1, 100, 10, 0);
  Master->Render();
  EXPECT_EQ(Draws(), (std::vector<std::string>{"DrawPrimitive 4 0 0", "DrawPrimitive 4 0 200"}));
  EXPECT_EQ(Device.Buffers[0]->LastLockSize, 100u * QuadBytes);
}

// Alpha-blended systems first, then additive ones, each group in the order
// the systems joined the master; other Blend values are simulated only.
TEST_F(PartVisual, DrawOrderAndCounts)
{
  AddSystem(1, 4, 4, 0xA0000000);
  AddSystem(0, 3, 3, 0xB0000000);
  AddSystem(2, 50, 50, 0xC0000000);
  AddSystem(0, 2, 2, 0xD0000000);
  Master->Render();
  const TPartVisual& R = *Master->Renderer;
  EXPECT_EQ(R.AlphaRects, 5);
  EXPECT_EQ(R.AdditiveRects, 4);
  EXPECT_EQ(Draws(), (std::vector<std::string>{"DrawPrimitive 4 0 10", "DrawPrimitive 4 30 8"}));
  EXPECT_EQ(Device.Buffers[0]->LastLockSize, 9u * QuadBytes);
  const uint32_t Expected[] = {0xB0000000, 0xB0000001, 0xB0000002, 0xD0000000, 0xD0000001,
                               0xA0000000, 0xA0000001, 0xA0000002, 0xA0000003};
  for (int Q = 0; Q < 9; ++Q)
    for (int V = 0; V < 6; ++V)
      EXPECT_EQ(Uploaded()[Q * 6 + V].Color, Expected[Q]) << "quad " << Q;
}

TEST_F(PartVisual, PreparesStreamShaderTransformAndBlocks)
{
  AddSystem(0, 1, 1, 0);
  Master->Render();
  const auto& J = Device.Journal;
  const auto At = [&](const std::string& Line) { return std::find(J.begin(), J.end(), Line) - J.begin(); };
  EXPECT_LT(At("SetStreamSource 0 24"), At("SetVertexShader 322"));
  EXPECT_LT(At("SetVertexShader 322"), At("SetTransform 256"));
  EXPECT_LT(At("SetTransform 256"), At("DrawPrimitive 4 0 2"));
  // The additive call follows a switch of the blend factors to (source alpha, one).
  const std::vector<scenetest::StateCall> Blend = {{scenetest::StateCall::Render, 0, D3DRS_SRCBLEND, D3DBLEND_SRCALPHA},
                                                   {scenetest::StateCall::Render, 0, D3DRS_DESTBLEND, D3DBLEND_ONE}};
  EXPECT_NE(std::search(Device.Calls.begin(), Device.Calls.end(), Blend.begin(), Blend.end()), Device.Calls.end());
  EXPECT_TRUE(Reports.Messages.empty());
}

// The particle draw binds the particle texture (slot 100) and applies the alpha-blending and
// filtering blocks (24, 30) of the store before its first call.
TEST_F(PartVisual, BindsTheParticleTextureAndAppliesBlocks24And30)
{
  TStateBlockDepot Depot;
  Depot.RestoreDeviceObjects();
  BlockDepot = &Depot;
  TTexArr* SavedStore = TexArr;
  TTexArr Store(false);
  TexArr = &Store;
  auto* Texture = new scenetest::FakeTexture(8, 8, 4, Device.LiveTextures, false);
  Store.Slots[ParticleTextureSlot].Texture = Texture;
  AddSystem(0, 1, 1, 0);
  Device.Journal.clear();
  Device.Calls.clear();
  Master->Render();
  const auto& J = Device.Journal;
  const auto At = [&](const std::string& Line) { return std::find(J.begin(), J.end(), Line) - J.begin(); };
  const auto First = At("DrawPrimitive 4 0 2");
  ASSERT_LT(First, static_cast<std::ptrdiff_t>(J.size()));
  EXPECT_LT(At("ApplyStateBlock " + std::to_string(Depot.Tokens[24])), At("ApplyStateBlock " + std::to_string(Depot.Tokens[30])));
  EXPECT_LT(At("ApplyStateBlock " + std::to_string(Depot.Tokens[30])), First);
  const scenetest::StateCall Bound{scenetest::StateCall::Texture, 0, 0,
                                   static_cast<DWORD>(reinterpret_cast<uintptr_t>(static_cast<IDirect3DBaseTexture8*>(Texture)))};
  EXPECT_NE(std::find(Device.Calls.begin(), Device.Calls.end(), Bound), Device.Calls.end());
  ST(0, nullptr);
  TexArr = SavedStore;
  BlockDepot = nullptr;
}

TEST_F(PartVisual, DeadSlotsAreTransparent)
{
  TParticles* S = AddSystem(0, 4, 0, 0);
  S->Pool[2].Life = 1.0f;  // exactly at the end of life: dead for drawing
  Master->Render();
  EXPECT_EQ(Master->Renderer->AlphaRects, 4);
  for (int V = 0; V < 24; ++V) {
    EXPECT_EQ(Uploaded()[V].Color, 0u);
    EXPECT_EQ(Uploaded()[V].x, 0.0f);
  }
}

// Corners in drawing order P0 P1 P2 P1 P2 P3, with the UV rectangle's corners.
TEST_F(PartVisual, QuadGeometry)
{
  struct Case {
    const char* Name;
    bool Spin;
    bool Circle;
    float Px[4], Py[4];  // in units of S around the centre
  };
  const Case Cases[] = {
    {"square", false, false, {-1, 1, -1, 1}, {1, 1, -1, -1}},
    {"diamond at angle 0", true, false, {-1, 0, 0, 1}, {0, 1, -1, 0}},
    {"square on its circle", false, true, {-1, 1, -1, 1}, {1, 1, -1, -1}},
  };
  for (const Case& C : Cases) {
    SCOPED_TRACE(C.Name);
    Master = std::make_unique<TPartMaster>();
    TParticles* S = AddSystem(0, 1, 1, 0xFF102030);
    S->EnableAxisRotate = C.Spin;
    S->EnableCenterRotate = C.Circle;
    S->Prepare();
    S->U0 = 0.25f;
    S->V0 = 0.5f;
    S->U1 = 0.375f;
    S->V1 = 0.625f;
    TParticle& P = *S->Order[0];
    P.X = 0.5f;
    P.Y = 0.25f;
    P.AxisAngle = 0.0f;
    P.CenterRadius = 0.1f;
    P.CenterAngle = 0.0f;
    Master->Render();
    const float Size = S->SizeTable[128];
    const float CX = C.Circle ? 0.6f : 0.5f, CY = 0.25f;
    const int Corner[6] = {0, 1, 2, 1, 2, 3};
    const float U[4] = {0.25f, 0.375f, 0.25f, 0.375f}, V[4] = {0.5f, 0.5f, 0.625f, 0.625f};
    const TDiffuseTexVertex* Out = Uploaded();
    for (int I = 0; I < 6; ++I) {
      const int K = Corner[I];
      EXPECT_NEAR(Out[I].x, CX + C.Px[K] * Size, 1e-6f) << "vertex " << I;
      EXPECT_NEAR(Out[I].y, CY + C.Py[K] * Size, 1e-6f) << "vertex " << I;
      EXPECT_EQ(Out[I].z, 0.0f);
      EXPECT_EQ(Out[I].u, U[K]);
      EXPECT_EQ(Out[I].v, V[K]);
      EXPECT_EQ(Out[I].Color, 0xFF102030u);
    }
  }
}

// Beyond the buffer's 16384 quads: reported, and the first 16384 in drawing
// order are drawn; nothing is written past the vertex array.
TEST_F(PartVisual, MoreQuadsThanTheBufferHolds)
{
  for (int I = 0; I < 5; ++I)
    AddSystem(0, 2048, 1, 0);
  for (int I = 0; I < 4; ++I)
    AddSystem(1, 2048, 1, 0);
  Master->Render();
  const TPartVisual& R = *Master->Renderer;
  EXPECT_EQ(R.AlphaRects, 10240);
  EXPECT_EQ(R.AdditiveRects, 6144);
  EXPECT_EQ(Draws(), (std::vector<std::string>{"DrawPrimitive 4 0 20480", "DrawPrimitive 4 61440 12288"}));
  EXPECT_EQ(Device.Buffers[0]->LastLockSize, 16384u * QuadBytes);
  EXPECT_EQ(std::count(Reports.Messages.begin(), Reports.Messages.end(),
                       "TPartVisual.FillPeaks: RectCount is above maximal value"),
            1);
  Master->Render();
  EXPECT_EQ(std::count(Reports.Messages.begin(), Reports.Messages.end(),
                       "TPartVisual.FillPeaks: RectCount is above maximal value"),
            2);
}

TEST_F(PartVisual, EightFullSpiralsFitExactly)
{
  for (int I = 0; I < 8; ++I)
    AddSystem(static_cast<uint8_t>(I % 2), 2048, 0, 0);
  Master->Render();
  EXPECT_EQ(Master->Renderer->AlphaRects + Master->Renderer->AdditiveRects, 16384);
  EXPECT_TRUE(Reports.Messages.empty());
}

// The four loaders of the game master, each from the data folder's
// Particles folder.
TEST(GamePartMaster, Loaders)
{
  scenetest::ReportCapture Reports;
  scenetest::FakeDevice Device;
  SetScreenHeight(768);
  const float SavedRight = ScreenRight;
  ScreenRight = 1024.0f / 768.0f;
  std::filesystem::create_directories(DataDir + "/Particles");
  testsupport::WriteBytes(DataDir + "/Particles/Test.prt", "Queue 3\nCount 12\nLifeTime 10\nUVIndex 0\n");
  TGamePartMaster Master;
  struct Case {
    const char* Name;
    std::function<TParticles*()> Create;
    bool OneShot, UseArea;
    float X, Y;
  };
  const Case Cases[] = {
    {"CreateAt", [&] { return Master.CreateAt("Test.prt", 10, 20); }, false, false, PixelToWorldX(10), PixelToWorldY(20)},
    {"CreateBurstAt", [&] { return Master.CreateBurstAt("Test.prt", 10, 20); }, true, false, PixelToWorldX(10),
     PixelToWorldY(20)},
    {"CreateBurstAtScene", [&] { return Master.CreateBurstAtScene("Test.prt", 0.5f, -0.25f); }, true, false, 0.5f,
     -0.25f},
    {"CreateInRect", [&] { return Master.CreateInRect("Test.prt", 0, 0, 767, 767); }, false, true,
     PixelToWorldX(0) + 768 * HalfPixelSize, PixelToWorldY(0) - 768 * HalfPixelSize},
  };
  for (const Case& C : Cases) {
    SCOPED_TRACE(C.Name);
    TParticles* S = C.Create();
    EXPECT_EQ(Master.Last, S);
    EXPECT_EQ(S->Count, 12);
    EXPECT_EQ(S->Pending, 12.0f);  // reset for a burst
    EXPECT_EQ(S->AliveCount(), 0);
    EXPECT_FLOAT_EQ(S->LifeRate, 0.1f);
    EXPECT_EQ(S->OneShot, C.OneShot);
    EXPECT_EQ(S->UseArea, C.UseArea);
    EXPECT_FLOAT_EQ(S->PosX, C.X);
    EXPECT_FLOAT_EQ(S->PosY, C.Y);
  }
  EXPECT_EQ(Master.ChildCount, 5);
  EXPECT_TRUE(Reports.Messages.empty());
  ScreenRight = SavedRight;
}

}  // namespace
