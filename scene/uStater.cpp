#include "scene/uStater.h"

#include "framework/uD3DGlobals.h"
#include "render/uLog.h"

#include <string>

bool TStater::EntryIsUsable(int32_t NewState) const
{
    if (NewState < 0 || NewState >= kStateCount) {
        ReportError("TStater.SetState: State=" + std::to_string(NewState) + " out of range");
        return false;
    }
    const TStateInfo& entry = StatesInfo[NewState];
    bool usable = true;
    if (entry.StatePeriod == 0.0f) {
        ReportError("TStater.SetState: StatesInfo[State].StatePeriod=0");
        usable = false;
    }
    if (!entry.EventProc) {
        ReportError("TStater.SetState: StatesInfo[State].EventProc=nil");
        usable = false;
    }
    return usable;
}

void TStater::SetState(int32_t NewState)
{
    if (!StateChangeAllowed)
        return;
    // Entering a broken entry would divide by zero or call an empty handler; the running
    // state goes on instead, uninterrupted.
    if (!EntryIsUsable(NewState))
        return;
    if (State != 0 && Phase > 0.0f) {
        StateChangeAllowed = false;
        Send(seEnded);
        StateChangeAllowed = true;
    }
    State = NewState;
    Phase = 1.0f;
    Rate = 1.0f / StatesInfo[State].StatePeriod;
    CurrentEventProc = StatesInfo[State].EventProc;
    if (State != 0)
        Send(seEntered);
}

void TStater::AdvanceState()
{
    Phase = Phase - Rate * FrameStep;
    if (Phase > 0.0f)
        Send(seFrame);
    else {
        Phase = 0.0f;
        Send(seEnded);
    }
}

void TStater::Send(uint8_t Event)
{
    if (CurrentEventProc) {
        // A copy: the handler may change the state and with it CurrentEventProc.
        TStateEventProc proc = CurrentEventProc;
        proc(Event);
    }
}

void TStater::FrameMove()
{
    if (State != 0) {
        AdvanceState();
        if (!UpdateDuringState)
            return;
    }
    TMaster::FrameMove();
}
