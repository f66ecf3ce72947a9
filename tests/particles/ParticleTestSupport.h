// Shared set-up of the particle tests: the frame globals the simulation reads
// and ready-made systems.
#pragma once

#include <memory>
#include <string>

#include "app/uRunState.h"
#include "framework/uD3DGlobals.h"
#include "particles/uParticles.h"

namespace particle_test {

// Frame globals as the application leaves them at a steady 60 frames a second.
inline void SetFrameStep(float Step)
{
  FrameStep = Step;
  FrameStepSquared = Step * Step;
}

inline void SetScreenHeight(int Height)
{
  PixelSize = 2.0f / static_cast<float>(Height);
  HalfPixelSize = PixelSize * 0.5f;
}

// A prepared, reset system with the given settings; Count slots, all dead.
inline std::unique_ptr<TParticles> MakeSystem(uint8_t Queue, int32_t Count, int32_t LifeTime, float PartsPerStep)
{
  auto P = std::make_unique<TParticles>();
  P->Queue = Queue;
  P->Count = Count;
  P->LifeTime = LifeTime;
  P->PartsPerStep = PartsPerStep;
  P->Prepare();
  P->Reset();
  return P;
}

}  // namespace particle_test
