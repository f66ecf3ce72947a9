#include "particles/uRandom.h"

#include "platform/win/windows.h"

namespace {

// PCG32 (XSH-RR): small state, good statistics, cheap, and the same sequence on
// every platform, which keeps captured frames comparable between machines.
uint64_t State = 0x853C49E6748FEA9BULL;
constexpr uint64_t Multiplier = 6364136223846793005ULL;
constexpr uint64_t Increment = 1442695040888963407ULL;

uint32_t NextBits()
{
  const uint64_t Old = State;
  State = Old * Multiplier + Increment;
  const auto Shuffled = static_cast<uint32_t>(((Old >> 18) ^ Old) >> 27);
  const auto Rot = static_cast<uint32_t>(Old >> 59);
  return (Shuffled >> Rot) | (Shuffled << ((32 - Rot) & 31));
}

}  // namespace

void RandSeed(uint64_t Seed)
{
  State = 0;
  NextBits();
  State += Seed;
  NextBits();
}

void Randomize()
{
  LARGE_INTEGER Now{};
  QueryPerformanceCounter(&Now);
  RandSeed(static_cast<uint64_t>(Now.QuadPart));
}

float Random()
{
  // 24 bits fill a float's mantissa exactly, so the result never rounds up to 1.
  return static_cast<float>(NextBits() >> 8) * (1.0f / 16777216.0f);
}

int32_t Random(int32_t N)
{
  if (N <= 0)
    return 0;
  // Multiply-and-shift with rejection of the short tail: unbiased for every N.
  const auto Range = static_cast<uint32_t>(N);
  const uint32_t Threshold = (0u - Range) % Range;
  for (;;) {
    const uint64_t Product = static_cast<uint64_t>(NextBits()) * Range;
    if (static_cast<uint32_t>(Product) >= Threshold)
      return static_cast<int32_t>(Product >> 32);
  }
}
