// Shared set-up of the particle tests: a scratch folder for .prt files and
// the frame globals the simulation reads.
#pragma once

#include <atomic>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include <unistd.h>

#include "app/uRunState.h"
#include "framework/uD3DGlobals.h"
#include "particles/uParticles.h"
#include "render/uLog.h"

namespace particle_test {

class TScratchDir {
public:
  TScratchDir()
  {
    static std::atomic<int> Serial{0};
    Path = std::filesystem::temp_directory_path() /
           ("halvora-particles-" + std::to_string(::getpid()) + "-" + std::to_string(Serial++));
    std::filesystem::create_directories(Path);
  }
  ~TScratchDir()
  {
    std::error_code Ignored;
    std::filesystem::remove_all(Path, Ignored);
  }
  std::string Write(const std::string& Name, const std::string& Text) const
  {
    const std::filesystem::path File = Path / Name;
    std::ofstream(File, std::ios::binary) << Text;
    return File.string();
  }
  std::filesystem::path Path;
};

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

// True when a report with exactly this text has been made.
inline bool LogContains(const std::string& Text)
{
  for (const std::string& Line : StubLog)
    if (Line == Text)
      return true;
  return false;
}

}  // namespace particle_test
