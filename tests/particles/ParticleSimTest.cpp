#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <set>
#include <vector>

#include "ParticleTestSupport.h"
#include "particles/uRandom.h"

using namespace particle_test;

namespace {

class ParticleSim : public ::testing::Test {
protected:
  void SetUp() override
  {
    SetFrameStep(1.0f);
    SetScreenHeight(768);
    RandSeed(1234);
  }
};

std::vector<int> BirthsPerStep(TParticles& P, int Steps)
{
  std::vector<int> Births;
  for (int S = 0; S < Steps; ++S) {
    int Born = 0;
    const int Before = P.AliveCount();
    P.FrameMove();
    Born = P.AliveCount() - Before;
    Births.push_back(Born);
  }
  return Births;
}

bool OrderIsPermutationOfUsedPool(const TParticles& P)
{
  std::set<const TParticle*> Seen;
  for (int32_t I = 0; I < P.Count; ++I) {
    const TParticle* Q = P.Order[I];
    if (Q < &P.Pool[0] || Q >= &P.Pool[P.Count] || !Seen.insert(Q).second)
      return false;
  }
  return true;
}

std::vector<const TParticle*> OrderOf(const TParticles& P)
{
  return {P.Order, P.Order + P.Count};
}

TEST_F(ParticleSim, HalfAParticlePerStepBearsEverySecondStep)
{
  for (uint8_t Queue : {0, 1, 2}) {
    auto P = MakeSystem(Queue, 10, 1000, 0.5f);
    EXPECT_EQ(BirthsPerStep(*P, 6), (std::vector<int>{0, 1, 0, 1, 0, 1})) << "Queue " << int(Queue);
  }
}

// Births are bounded by the dead slots; what cannot be born stays owed.
TEST_F(ParticleSim, BirthsLimitedByDeadSlots)
{
  for (uint8_t Queue : {0, 1, 2}) {
    auto P = MakeSystem(Queue, 4, 1000, 3.0f);
    EXPECT_EQ(BirthsPerStep(*P, 3), (std::vector<int>{3, 1, 0})) << "Queue " << int(Queue);
    EXPECT_FLOAT_EQ(P->Pending, 5.0f) << "Queue " << int(Queue);
  }
}

// Newborns go to the end (Queue 0) or the front (Queue 1) of the drawing
// sequence; the living keep their relative order.
TEST_F(ParticleSim, QueueModesPlaceNewborns)
{
  struct {
    uint8_t Queue;
    int NewbornFirstSlot;
  } const Cases[] = {{0, 4}, {1, 0}};
  for (const auto& C : Cases) {
    auto P = MakeSystem(C.Queue, 6, 1000, 0.0f);
    // Living particles at pool 1, 3 and 4, in that drawing order.
    for (int I : {1, 3, 4})
      P->Pool[I].Life = 0.5f;
    std::vector<const TParticle*> LivingBefore;
    for (const TParticle* Q : OrderOf(*P))
      if (Q->Life < 1.0f)
        LivingBefore.push_back(Q);
    P->Pending = 2.0f;
    P->FrameMove();
    const auto After = OrderOf(*P);
    ASSERT_TRUE(OrderIsPermutationOfUsedPool(*P));
    for (int I = 0; I < 2; ++I)
      EXPECT_FLOAT_EQ(After[C.NewbornFirstSlot + I]->Life, P->LifeRate) << "Queue " << int(C.Queue);
    std::vector<const TParticle*> LivingAfter;
    for (const TParticle* Q : After)
      if (Q->Life > P->LifeRate && Q->Life < 1.0f)
        LivingAfter.push_back(Q);
    EXPECT_EQ(LivingAfter, LivingBefore) << "Queue " << int(C.Queue);
    EXPECT_EQ(P->AliveCount(), 5);
  }
}

TEST_F(ParticleSim, RandomSlotsBearOnlyIntoDeadSlots)
{
  auto P = MakeSystem(2, 5, 1000, 0.0f);
  P->Pool[0].Life = 0.5f;
  P->Pool[2].Life = 0.5f;
  const auto Before = OrderOf(*P);
  P->Pending = 5.0f;
  P->FrameMove();
  EXPECT_EQ(P->AliveCount(), 5);
  EXPECT_FLOAT_EQ(P->Pending, 2.0f);
  EXPECT_EQ(OrderOf(*P), Before);
  EXPECT_EQ(P->Pool[0].Life, 0.5f) << "a living particle was reborn";
}

// Random slot choices are spread: over many single births into a large
// empty pool no slot is preferred.
TEST_F(ParticleSim, RandomSlotsSpreadOverThePool)
{
  auto P = MakeSystem(2, 64, 1000, 0.0f);
  int Low = 0;
  for (int Trial = 0; Trial < 400; ++Trial) {
    P->Reset();
    P->Pending = 1.0f;
    P->FrameMove();
    for (int I = 0; I < 32; ++I)
      Low += P->Order[I]->Life < 1.0f;
  }
  EXPECT_GT(Low, 150);
  EXPECT_LT(Low, 250);
}

TEST_F(ParticleSim, OneShotBurstFreesItself)
{
  auto P = MakeSystem(3, 8, 4, 0.0f);
  P->OneShot = true;
  P->Reset();
  P->FrameMove();
  EXPECT_EQ(P->AliveCount(), 8);
  EXPECT_FALSE(P->Emitting);
  // Lives of 4 ticks end exactly on 1 after the fourth step: still counted as
  // alive then, so the system lives one step more and frees itself after that.
  std::vector<bool> DeadAfter;
  for (int Step = 0; Step < 5; ++Step) {
    P->FrameMove();
    DeadAfter.push_back(P->Dead);
  }
  EXPECT_EQ(DeadAfter, (std::vector<bool>{false, false, false, false, true}));
  EXPECT_EQ(P->AliveCount(), 0);
}

TEST_F(ParticleSim, RepeatedBurstRestartsTheLiving)
{
  auto P = MakeSystem(3, 4, 100, 2.0f);
  std::vector<int> Restarts;
  for (int Step = 0; Step < 6; ++Step) {
    P->FrameMove();
    Restarts.push_back(P->Order[0]->Life == P->LifeRate ? 1 : 0);
  }
  // Pending starts at 4, grows by 2: 6 -> burst (2), 4 -> burst (0), 2, 4 -> burst...
  EXPECT_EQ(Restarts, (std::vector<int>{1, 1, 0, 1, 0, 1}));
  EXPECT_TRUE(P->Emitting);
}

TEST_F(ParticleSim, LifeOfExactlyOneIsNotMovedButCounted)
{
  auto P = MakeSystem(0, 2, 10, 0.0f);
  P->Pool[0].Life = 1.0f;
  P->Pool[0].X = 3.0f;
  P->Pool[0].VX = 1.0f;
  P->Emitting = false;
  EXPECT_EQ(P->AliveCount(), 1);
  P->FrameMove();
  EXPECT_FALSE(P->Dead);
  EXPECT_EQ(P->Pool[0].X, 3.0f);
  P->FrameMove();
  EXPECT_TRUE(P->Dead);
}

TEST_F(ParticleSim, GravityFallAfterFrames)
{
  for (float Step : {1.0f, 2.0f, 0.5f}) {
    SetFrameStep(Step);
    auto P = MakeSystem(3, 1, 100000, 0.0f);
    P->OneShot = true;
    P->Reset();
    P->SetGrav(0.001f, -std::numbers::pi_v<float> / 2);
    P->FrameMove();
    const float Y0 = P->Pool[0].Y;
    const int K = 20;
    for (int Frame = 1; Frame < K; ++Frame)
      P->FrameMove();
    const float Expected = 0.001f * Step * Step * K * (K - 1) / 2.0f;
    EXPECT_NEAR(Y0 - P->Pool[0].Y, Expected, Expected * 1e-4f) << "FrameStep " << Step;
  }
}

TEST_F(ParticleSim, WindAndVelocityScaleWithFrameStep)
{
  SetFrameStep(2.0f);
  auto P = MakeSystem(3, 1, 100000, 0.0f);
  P->SetWind(0.01f, 0.0f);
  P->FrameMove();
  // Born with no start speed at the emitter, then moved one step.
  EXPECT_NEAR(P->Pool[0].X, 0.02f, 1e-7f);
  EXPECT_FLOAT_EQ(P->Pool[0].Life, 2.0f / 100000.0f);
}

// Draws are taken in the documented order: interpolation, x, y, direction,
// speed, then the circle angle.
TEST_F(ParticleSim, EmitDrawOrder)
{
  auto P = MakeSystem(0, 4, 50, 0.0f);
  P->BornRadius = 0.2f;
  P->StartSpeed = 0.01f;
  P->EnableAxisRotate = true;
  P->AxisRotate[0] = 1.0f;
  P->AxisRotate[1] = 2.0f;
  P->EnableCenterRotate = true;
  P->CenterRotate[0] = 0.5f;
  P->CenterRotate[1] = 1.5f;
  P->CenterRotate[3] = 0.1f;
  P->CenterRotate[4] = 0.3f;
  P->PosX = 1.0f;
  P->SetInterpolate(true);
  P->MoveTo(0.0f, 1.0f);  // Prev (1, 0), Pos (0, 1)

  RandSeed(99);
  float R[6];
  for (float& Value : R)
    Value = Random();
  RandSeed(99);
  P->Emit(2);
  const TParticle& Q = *P->Order[2];
  const float TwoPi = 2.0f * std::numbers::pi_v<float>;
  EXPECT_FLOAT_EQ(Q.X, R[0] * 1.0f + (R[1] - 0.5f) * 0.2f);
  EXPECT_FLOAT_EQ(Q.Y, 1.0f - R[0] + (R[2] - 0.5f) * 0.2f);
  EXPECT_FLOAT_EQ(Q.VX, std::cos(R[3] * TwoPi) * R[4] * 0.01f);
  EXPECT_FLOAT_EQ(Q.VY, std::sin(R[3] * TwoPi) * R[4] * 0.01f);
  EXPECT_FLOAT_EQ(Q.CenterAngle, (R[5] - 0.5f) * TwoPi + 0.5f);
  EXPECT_FLOAT_EQ(Q.CenterAngleSpeed, 1.0f / 50.0f);
  EXPECT_FLOAT_EQ(Q.CenterRadiusSpeed, 0.2f / 50.0f);
  EXPECT_FLOAT_EQ(Q.AxisSpeed, 1.0f / 50.0f);
  EXPECT_EQ(Q.Life, 0.0f);
  // Nothing else was drawn.
  RandSeed(99);
  for (int I = 0; I < 6; ++I)
    Random();
  const float Next = Random();
  RandSeed(99);
  P->Emit(1);
  EXPECT_EQ(Random(), Next);
}

TEST_F(ParticleSim, AreaSpreadsBirthsOverPixelRectangle)
{
  auto P = MakeSystem(0, 200, 100, 200.0f);
  P->SetArea(100, 50, 199, 149);  // 100 x 100 pixels
  EXPECT_FLOAT_EQ(P->AreaWidth, 100 * PixelSize);
  P->FrameMove();
  float MinX = 10, MaxX = -10;
  for (int I = 0; I < 200; ++I) {
    MinX = std::min(MinX, P->Pool[I].X);
    MaxX = std::max(MaxX, P->Pool[I].X);
  }
  EXPECT_GE(MinX, P->PosX - P->AreaWidth / 2);
  EXPECT_LE(MaxX, P->PosX + P->AreaWidth / 2);
  EXPECT_GT(MaxX - MinX, P->AreaWidth * 0.9f);
}

// Lives of zero or fewer ticks have no rate: such a system bears nothing and
// never divides by zero.
TEST_F(ParticleSim, NonPositiveLifeTimeShowsNothing)
{
  for (int32_t LifeTime : {0, -5}) {
    for (uint8_t Queue : {0, 1, 2, 3}) {
      auto P = MakeSystem(Queue, 16, LifeTime, 4.0f);
      EXPECT_EQ(P->LifeRate, 0.0f);
      for (int Step = 0; Step < 5; ++Step)
        P->FrameMove();
      EXPECT_EQ(P->AliveCount(), 0) << LifeTime << " Queue " << int(Queue);
    }
  }
}

TEST_F(ParticleSim, UnknownQueueNeverBears)
{
  auto P = MakeSystem(7, 16, 100, 4.0f);
  for (int Step = 0; Step < 5; ++Step)
    P->FrameMove();
  EXPECT_EQ(P->AliveCount(), 0);
}

// Long runs with varied lives keep Order a permutation of the slots in use.
TEST_F(ParticleSim, OrderStaysAPermutation)
{
  for (uint8_t Queue : {0, 1, 2, 3}) {
    auto P = MakeSystem(Queue, 300, 40, 9.5f);
    for (int Step = 0; Step < 200; ++Step) {
      SetFrameStep(0.5f + static_cast<float>(Step % 5) * 0.4f);
      P->FrameMove();
    }
    EXPECT_TRUE(OrderIsPermutationOfUsedPool(*P)) << "Queue " << int(Queue);
    EXPECT_GT(P->AliveCount(), 0);
  }
}

TEST_F(ParticleSim, ColourTableOfTheRampExample)
{
  auto P = std::make_unique<TParticles>();
  P->SetColors(0x00000000, 0xFFFFFFFF, 0xFFFFFFFF, 0x00000000);
  struct {
    int Entry;
    uint32_t Color;
  } const Cases[] = {{0, 0x00000000}, {42, 0x7E7E7E7E}, {84, 0xFBFBFBFB}, {85, 0xFFFFFFFF},
                     {171, 0xFFFFFFFF}, {172, 0xFEFEFEFE}, {255, 0x06060606}};
  for (const auto& C : Cases)
    EXPECT_EQ(P->ColorTable[C.Entry], C.Color) << "entry " << C.Entry;
}

TEST_F(ParticleSim, SizeTableSpinningAndStill)
{
  auto P = std::make_unique<TParticles>();
  P->Size[0] = P->Size[1] = 1.0f;
  P->Prepare();
  EXPECT_EQ(P->SizeTable[0], 0.0f) << "no UVIndex: no size unit";
  EXPECT_EQ(P->SizeTable[255], 0.0f);
  P->SizeUnit = 32;
  P->EnableAxisRotate = true;
  P->Prepare();
  for (int I : {0, 128, 255})
    EXPECT_NEAR(P->SizeTable[I], 0.083333f, 1e-5f);
  P->EnableAxisRotate = false;
  P->Prepare();
  for (int I : {0, 128, 255})
    EXPECT_NEAR(P->SizeTable[I], 0.058917f, 1e-5f);
  P->Size[1] = 0.0f;
  P->Prepare();
  EXPECT_FLOAT_EQ(P->SizeTable[128], 0.5f * 32 * PixelSize * 0.7071f);
}

TEST_F(ParticleSim, ColourFollowsLifeAtStepStart)
{
  auto P = MakeSystem(3, 1, 4, 0.0f);
  for (int I = 0; I < 256; ++I)
    P->ColorTable[I] = static_cast<uint32_t>(I);
  std::vector<int> Indices;
  for (int Step = 0; Step < 4; ++Step) {
    P->FrameMove();
    Indices.push_back(P->Pool[0].ColorIndex);
    EXPECT_EQ(P->Pool[0].Color, static_cast<uint32_t>(P->Pool[0].ColorIndex));
  }
  // Life 0, 0.25, 0.5, 0.75 at the start of the steps (Queue 3 bursts only once here).
  EXPECT_EQ(Indices, (std::vector<int>{0, 64, 128, 191}));
}

}  // namespace
