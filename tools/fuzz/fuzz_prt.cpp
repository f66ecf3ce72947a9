// Particle description files: the reader, then a few steps of the system it describes, so
// absurd counts, lifetimes and sizes reach the emitters and the motion.
#include <memory>

#include "particles/uParticles.h"
#include "tools/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::Isolate();
    const std::string path = fuzz::WriteInput("input.prt", data, size);
    auto system = std::make_unique<TParticles>();
    system->LoadFromFile(path);
    if (system->UsedSlots() < 0 || system->UsedSlots() > MaxParticles)
        __builtin_trap();
    system->Prepare();
    for (int step = 0; step < 24; ++step) {
        system->MoveTo(0.01f * static_cast<float>(step), -0.02f * static_cast<float>(step));
        system->FrameMove();
    }
    if (system->AliveCount() < 0 || system->AliveCount() > MaxParticles)
        __builtin_trap();
    return 0;
}
