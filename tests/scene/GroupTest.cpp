// The scene root in a running saver: the camera keys, keys without a focus object, and its
// restore walks.

#include "app/uRunState.h"
#include "framework/uD3DApp.h"
#include "framework/uD3DGlobals.h"
#include "platform/d3d8/objects.h"
#include "scene/uGroup.h"
#include "tests/framework/saver_sandbox.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

namespace {

// A descendant whose device objects cannot be made; counts its restores.
class TRefusing : public TBasic {
public:
    const char* ClassName() const override { return "TRefusing"; }
    HRESULT RestoreDeviceObjects() override
    {
        ++Restores;
        return E_FAIL;
    }
    int Restores = 0;
};

class Group : public SandboxedSaverTest {
protected:
    void SetUp() override
    {
        SandboxedSaverTest::SetUp();
        ASSERT_EQ(StartSaverInProcess(true), S_OK);
        StepFrames(2);  // the world exists
        ASSERT_NE(SceneRoot, nullptr);
    }
    void TearDown() override
    {
        SandboxedSaverTest::TearDown();
        PressedKeys.Clear();
        CameraDistance = 1.0f;
    }
    testsupport::CapturedChannel channel_;
};

// Once the up arrow has been pressed the eye moves back on every drawn frame: 40 frames take it
// from z = -1.0 to z = -1.1.
TEST_F(Group, TheUpArrowMovesTheEyeBackEveryFrame)
{
    PressedKeys.Add(VK_UP);
    StepFrames(40);
    EXPECT_NEAR(CameraDistance, 1.1f, 1e-5f);
    D3DMATRIX view{};
    ASSERT_EQ(Device->GetTransform(D3DTS_VIEW, &view), D3D_OK);
    EXPECT_NEAR(view.s._43, 1.1f, 1e-5f);  // the eye at (0, 0, -1.1)
}

TEST_F(Group, WithoutAFocusObjectNoKeyIsHandled)
{
    TBasic* focus = FocusObject;
    FocusObject = nullptr;
    for (uint16_t key : {uint16_t('A'), uint16_t(VK_ESCAPE), uint16_t(VK_UP)})
        EXPECT_FALSE(SceneRoot->OnKeyDown(key)) << key;
    FocusObject = focus;
    EXPECT_EQ(QuitRequest, 0);
}

// Two walks in a row restore every descendant twice, keep no earlier resources, and log a
// failing descendant under its own class name.
TEST_F(Group, TwoRestoreWalksInARow)
{
    auto* refusing = static_cast<TRefusing*>(SceneRoot->AddChild(new TRefusing));
    SceneRoot->RestoreDeviceObjects();
    const std::uint64_t memory = d3d8::VideoMemoryInUse();
    SceneRoot->RestoreDeviceObjects();
    EXPECT_EQ(refusing->Restores, 2);
    EXPECT_EQ(d3d8::VideoMemoryInUse(), memory);
    const std::vector<std::string> lines = sandbox_->LogLines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "TGroup.RestoreDeviceObjects: TRefusing.RestoreDeviceObjects failed"),
              2);
    StepFrames(3);
    EXPECT_TRUE(App->hWnd && IsWindow(App->hWnd));
}

}  // namespace
