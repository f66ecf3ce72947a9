#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "particles/uRandom.h"

namespace {

TEST(Random, SeedRepeatsTheSequence)
{
  RandSeed(42);
  std::vector<float> First;
  for (int I = 0; I < 8; ++I)
    First.push_back(Random());
  RandSeed(42);
  for (int I = 0; I < 8; ++I)
    EXPECT_EQ(Random(), First[static_cast<size_t>(I)]);
  RandSeed(43);
  EXPECT_NE(Random(), First[0]);
}

TEST(Random, FloatsInUnitIntervalAndUniform)
{
  RandSeed(7);
  std::array<int, 10> Buckets{};
  for (int I = 0; I < 100000; ++I) {
    const float R = Random();
    ASSERT_GE(R, 0.0f);
    ASSERT_LT(R, 1.0f);
    ++Buckets[static_cast<size_t>(R * 10)];
  }
  for (int B : Buckets) {
    EXPECT_GT(B, 9500);
    EXPECT_LT(B, 10500);
  }
}

TEST(Random, IntegersInRangeAndUniform)
{
  RandSeed(8);
  for (int32_t N : {1, 3, 7, 22, 1000}) {
    std::vector<int> Seen(static_cast<size_t>(N), 0);
    const int Draws = N * 200;
    for (int I = 0; I < Draws; ++I) {
      const int32_t V = Random(N);
      ASSERT_GE(V, 0);
      ASSERT_LT(V, N);
      ++Seen[static_cast<size_t>(V)];
    }
    for (int S : Seen)
      EXPECT_GT(S, 200 / 3) << "N " << N;
  }
  EXPECT_EQ(Random(0), 0);
  EXPECT_EQ(Random(-5), 0);
}

}  // namespace
