#include "scene/uGroup.h"

#include "app/uRunState.h"
#include "framework/uD3DGlobals.h"
#include "particles/uWorld.h"
#include "render/uLog.h"
#include "render/uStateBlocks.h"
#include "render/uTex.h"
#include "scene/math/uMath.h"

#include <numbers>

TGroup* SceneRoot = nullptr;
float CameraDistance = 1.0f;

namespace {

constexpr uint8_t CommandBuildWorld = 7;
constexpr float CameraKeyStep = 0.0025f;

void LogRestore(const std::string& text) { WriteLog("TGroup.RestoreDeviceObjects: " + text); }

}  // namespace

TGroup::TGroup()
{
    SceneRoot = this;
    TexArr = AddChild(new TTexArr(false));
    TexArr->RestoreDeviceObjects();
    BlockDepot = AddChild(new TStateBlockDepot());
    BlockDepot->RestoreDeviceObjects();
    Restored = false;
    CheckResult(Device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 0.0f, 0));
    PendingCommand = CommandBuildWorld;
}

TGroup::~TGroup()
{
    // The stores die with the tree; nothing may reach them afterwards.
    InvalidateDeviceObjects();
    FreeChildren();
    First = Last = nullptr;
    ChildCount = 0;
    TexArr = nullptr;
    BlockDepot = nullptr;
    if (SceneRoot == this)
        SceneRoot = nullptr;
}

HRESULT TGroup::CreateLights()
{
    D3DLIGHT8 light{};
    D3DVECTOR direction{};
    SetVec3(direction, 0.0f, 0.0f, 1.0f);
    MakeDirectionalLight(direction, light, 1.0f, 1.0f, 1.0f, 0.0f);
    return Device->SetLight(0, &light);
}

HRESULT TGroup::RestoreDeviceObjects()
{
    LogRestore("----->>start");
    HRESULT result = CreateLights();
    LogRestore(SUCCEEDED(result) ? "CreateLights succeeded" : "CreateLights failed");
    SetDefaultStates();
    TBasic* object = this;
    while (GetNext(object)) {
        result = object->RestoreDeviceObjects();
        if (FAILED(result))
            LogRestore(std::string(object->ClassName()) + ".RestoreDeviceObjects failed");
    }
    Restored = true;
    LogRestore("<<-----end");
    return result;
}

void TGroup::InvalidateDeviceObjects()
{
    if (!Restored)
        return;
    TBasic* object = this;
    while (GetNext(object))
        object->InvalidateDeviceObjects();
    Restored = false;
}

void TGroup::Render()
{
    if (PressedKeys.Contains(VK_UP))
        CameraDistance += CameraKeyStep;
    if (PressedKeys.Contains(VK_DOWN))
        CameraDistance -= CameraKeyStep;
    // The matrix builder scales x by its aspect argument: height over width.
    D3DMATRIX projection = IdentityMatrix;
    MatrixPerspectiveFov(projection, std::numbers::pi_v<float> / 2.0f, ViewHeight / ViewWidth, 0.0f, 1000.0f);
    Device->SetTransform(D3DTS_PROJECTION, &projection);
    D3DVECTOR eye{}, target{}, up{};
    SetVec3(eye, 0.0f, 0.0f, -CameraDistance);
    SetVec3(up, 0.0f, 100.0f, 0.0f);
    D3DMATRIX view = IdentityMatrix;
    MatrixLookAt(view, eye, target, up);
    Device->SetTransform(D3DTS_VIEW, &view);
    TMaster::Render();
}

bool TGroup::OnKeyDown(uint16_t key) { return FocusObject ? FocusObject->OnKeyDown(key) : false; }

void TGroup::Update()
{
    if (PendingCommand < 4 || PendingCommand > 7)
        return;
    if (LoadedTextureSet != 1) {
        TexArr->LoadParticles = true;
        TexArr->InvalidateDeviceObjects();
        TexArr->RestoreDeviceObjects();
        LoadedTextureSet = 1;
    }
    if (PendingCommand == CommandBuildWorld)
        Add(new TW_SSaver());
    PendingCommand = 0;
}
