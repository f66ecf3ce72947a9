#include "framework/uErrors.h"

#include "platform/d3d8/d3d8.h"

#include <gtest/gtest.h>

namespace {

struct ErrorCase {
    HRESULT Code;
    int Kind;
    const char* Expected;
};

TEST(ErrorText, BoxTextsByCodeAndKind)
{
    const ErrorCase cases[] = {
        {E_OUTOFMEMORY, ekWarning, "Not enough memory."},
        {D3DERR_OUTOFVIDEOMEMORY, ekExit, "Not enough video memory.\n\nThis sample will now exit."},
        {D3DAPPERR_RESIZEFAILED, ekExit, "Could not reset the Direct3D device.\n\nThis sample will now exit."},
        {D3DAPPERR_NOWINDOW, ekWarning,
         "Generic application error. Enable\ndebug output for detailed information."},
        {E_FAIL, ekExit,
         "Generic application error. Enable\ndebug output for detailed information.\n\nThis sample will now exit."},
        {D3DAPPERR_NOCOMPATIBLEDEVICES, ekSwitchedToRef,
         "Could not find any compatible Direct3D\ndevices.\n\nSwitching to the reference rasterizer,\na software "
         "device that implements the entire\nDirect3D feature set, but runs very slowly."},
    };
    for (const ErrorCase& c : cases)
        EXPECT_EQ(ErrorBoxText(c.Code, c.Kind), c.Expected) << std::hex << c.Code;
}

TEST(ErrorText, KeepsTheTwoSpacesAfterSentences)
{
    EXPECT_NE(ErrorMessageText(D3DAPPERR_NODIRECT3D).find("system.  Also"), std::string::npos);
    EXPECT_NE(ErrorMessageText(D3DAPPERR_NULLREFDEVICE).find("installed.  Install"), std::string::npos);
    EXPECT_EQ(ErrorMessageText(D3DAPPERR_NULLREFDEVICE).back(), '\n');
}

}  // namespace
