#pragma once
// The numbered render state blocks every drawable selects its blending, colour source and
// filtering by, and the scene's base device state.
//
// Blocks 11..17 and 19..25 are complete states (the defaults first); 30..34 change only
// their own settings and follow a complete block. 0 means no block.

#include "scene/uBasic.h"

#include <cstdint>

class TStateBlockDepot : public TBasic {
public:
    const char* ClassName() const override { return "TStateBlockDepot"; }
    static constexpr int32_t kTokenCount = 64;
    DWORD Tokens[kTokenCount] = {};

    ~TStateBlockDepot() override;

    HRESULT RestoreDeviceObjects() override;
    void InvalidateDeviceObjects() override;
};

extern TStateBlockDepot* BlockDepot;

void SetDefaultStates();

// Applies block Block of BlockDepot; 0, numbers out of range and a missing depot apply nothing.
void ApplyBlock(int32_t Block);
