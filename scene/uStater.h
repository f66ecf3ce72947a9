#pragma once
// A container that runs timed states. Each state has a duration in ticks of 1/60 s and a
// handler told when the state starts (0), on each frame while time remains (1) and on each
// frame from the end on, or when the state is interrupted (2).

#include "scene/uBasic.h"

#include <cstdint>
#include <functional>

using TStateEventProc = std::function<void(uint8_t Event)>;

struct TStateInfo {
    float StatePeriod = 0.0f;  // must not be 0
    TStateEventProc EventProc;  // must be set
};

enum : uint8_t {
    seEntered = 0,
    seFrame = 1,
    seEnded = 2,
};

class TStater : public TMaster {
public:
    const char* ClassName() const override { return "TStater"; }
    static constexpr int32_t kStateCount = 256;

    TStateInfo StatesInfo[kStateCount];
    int32_t State = 0;
    float Phase = 0.0f;
    float Rate = 0.0f;
    TStateEventProc CurrentEventProc;
    bool UpdateDuringState = true;
    bool StateChangeAllowed = true;

    void FrameMove() override;
    // An entry with a zero period or no handler is reported and the current state kept.
    virtual void SetState(int32_t NewState);

private:
    bool EntryIsUsable(int32_t NewState) const;
    void AdvanceState();
    void Send(uint8_t Event);
};
