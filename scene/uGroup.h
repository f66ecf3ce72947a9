#pragma once
// The scene root: owns the texture and state block stores, walks device
// restore/invalidate over the tree, sets the camera, and builds the world.

#include "platform/win/windows.h"
#include "scene/uBasic.h"

#include <cstdint>
#include <string>

class TGroup : public TMaster {
public:
    const char* ClassName() const override { return "TGroup"; }
    TGroup();
    ~TGroup() override;

    bool OnKeyDown(uint16_t key) override;
    HRESULT RestoreDeviceObjects() override;
    void InvalidateDeviceObjects() override;
    void Render() override;
    void Update() override;

    HRESULT CreateLights();

    bool Restored = false;
    uint8_t PendingCommand = 7;
    uint8_t LoadedTextureSet = 0;
};

extern TGroup* SceneRoot;
extern float CameraDistance;

