// The adapter report, the checked device calls and the DirectDraw 7 interface of the system.
#include "app/uC.h"
#include "framework/uD3DGlobals.h"
#include "render/uCaps.h"
#include "render/uCaps7.h"
#include "render/uDebug.h"
#include "render/uLog.h"
#include "tests/d3d8/D3D8TestSupport.h"
#include "tests/support/TestSupport.h"

#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

namespace d3d8test {
namespace {

using testsupport::CapturedChannel;
using testsupport::ReadBytes;
using testsupport::TempDir;

std::vector<std::string> SplitCrLf(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t at; (at = text.find("\r\n", start)) != std::string::npos; start = at + 2)
        lines.push_back(text.substr(start, at - start));
    EXPECT_EQ(start, text.size()) << "text after the last CR LF";
    return lines;
}

class Report : public DeviceTest {
protected:
    void SetUp() override
    {
        DeviceTest::SetUp();
        DataDir = Dir.Path();
        ::Device = Device;
    }
    void TearDown() override
    {
        ReleaseLastTexture();
        ::Device = nullptr;
        DataDir.clear();
        DeviceTest::TearDown();
    }
    std::vector<std::string> LogLines() { return SplitCrLf(ReadBytes(Dir.File("Error.log"))); }
    TempDir Dir;
    CapturedChannel Channel;
};

TEST_F(Report, AdapterReportLineForLine)
{
    WriteLog("before");
    WriteAdapterReport(GetLogFileName(), D3D);
    WriteAdapterReport(GetLogFileName(), D3D);

    D3DCAPS8 caps{};
    D3D->GetDeviceCaps(0, D3DDEVTYPE_HAL, &caps);
    std::uint32_t words[53];
    std::memcpy(words, &caps, sizeof(words));
    std::vector<std::string> capsLines(6);
    for (int i = 0; i < 53; ++i) {
        char word[16];
        std::snprintf(word, sizeof(word), "$%08X", words[i]);
        capsLines[static_cast<std::size_t>(i / 10)] += std::string(word) + (i % 10 == 9 ? "" : "  ");
    }
    std::vector<std::string> report = {
        "",
        "//----------- START Adapter information -----------//",
        "",
        "####  Adapter identifier:",
        "Halvora Software Rasterizer",
        "halvora_d3d8.so",
        "DriverVersion: 4.8.1.220",
        "",
        "####  Display modes:",
        "1024x768    R5G6B5",
        "640x480     X8R8G8B8",
        "1024x768    X8R8G8B8",  // 60 and 85 Hz give one line
        "",
        "####  D3D Caps:",
    };
    report.insert(report.end(), capsLines.begin(), capsLines.end());
    const std::vector<std::string> rest = {
        "",
        "####  Display formats:",
        "Adapter     = D3DADAPTER_DEFAULT",
        "Device type = D3DDEVTYPE_HAL",
        "  Display       BackBuffer      Windowed  Result    ",
        "  R5G6B5        R5G6B5            fs        Ok      ",
        "  X8R8G8B8      X8R8G8B8          fs        Ok      ",
        "  X8R8G8B8      X8R8G8B8          Win       Ok      ",
        "",
        "####  Back buffer formats:",
        "  Back: R5G6B5",
        "    Render target formats:",
        "      A8R8G8B8",
        "      X8R8G8B8",
        "      R5G6B5",
        "    Texture formats:",
        "      A8R8G8B8",
        "      X8R8G8B8",
        "      R5G6B5",
        "      X1R5G5B5",
        "      A1R5G5B5",
        "      A4R4G4B4",
        "      X4R4G4B4",
        "  Back: X8R8G8B8",
        "    Render target formats:",
        "      A8R8G8B8",
        "      X8R8G8B8",
        "      R5G6B5",
        "    Texture formats:",
        "      A8R8G8B8",
        "      X8R8G8B8",
        "      R5G6B5",
        "      X1R5G5B5",
        "      A1R5G5B5",
        "      A4R4G4B4",
        "      X4R4G4B4",
        "",
        "//------------- END Adapter information -----------//",
        "",
    };
    report.insert(report.end(), rest.begin(), rest.end());
    EXPECT_EQ(capsLines[5].size(), 3u * 11);  // three words, each with its two blanks

    std::vector<std::string> expected = {"before"};
    expected.insert(expected.end(), report.begin(), report.end());
    expected.insert(expected.end(), report.begin(), report.end());
    const std::vector<std::string> lines = LogLines();
    ASSERT_EQ(lines.size(), expected.size());
    for (std::size_t i = 0; i < lines.size(); ++i)
        EXPECT_EQ(lines[i], expected[i]) << "line " << i;
}

TEST_F(Report, CreateD3D8ReportsAMissingRuntime)
{
    IDirect3D8* d3d = nullptr;
    ASSERT_TRUE(CreateD3D8(d3d));
    d3d->Release();
    d3d8::faults::SetDirect3DMissing(true);
    EXPECT_FALSE(CreateD3D8(d3d));
    EXPECT_EQ(d3d, nullptr);
    ASSERT_EQ(Channel.Boxes.size(), 1u);
    EXPECT_EQ(Channel.Boxes[0], "Direct3D8 interface creation failed\rPlease, install DirectX 8.1 or higher");
}

TEST_F(Report, CreateInterfaceGivesDirectDraw7)
{
    IDirectDraw* dd = nullptr;
    IDirectDraw7* dd7 = nullptr;
    ASSERT_TRUE(CreateInterface(dd, dd7));
    ASSERT_NE(dd7, nullptr);
    ASSERT_TRUE(CreateInterface(dd, dd7));  // releases what it held before
    DDCAPS caps{};
    caps.dwSize = sizeof(caps);
    EXPECT_EQ(dd7->GetCaps(&caps, nullptr), DD_OK);
    EXPECT_EQ(caps.dwVidMemTotal, 256u * 1024 * 1024);
    dd7->Release();
    dd->Release();
    EXPECT_TRUE(Channel.Boxes.empty());
}

TEST_F(Report, FailedStateCallsLogWhatWasAsked)
{
    EXPECT_EQ(SRS(21, 0xFFFFFFFF), D3DERR_INVALIDCALL);
    EXPECT_EQ(STSS(9, D3DTSS_COLOROP, 4), D3DERR_INVALIDCALL);
    EXPECT_EQ(ASB(0), D3DERR_INVALIDCALL);
    EXPECT_EQ(SRS(D3DRS_LIGHTING, FALSE), D3D_OK);
    const std::string invalid = GetD3DErrorText(D3DERR_INVALIDCALL);
    const std::vector<std::string> expected = {
        "uDebug.SRS : Device.SetRenderState error",
        "State=21; Value=4294967295",
        invalid,
        "uDebug.STSS : Device.SetTextureStageState error",
        "Stage=9; _Type=1; Value=4",
        invalid,
        "uDebug.ASB : Device.ApplyStateBlock error",
        "Block=0",
        invalid,
    };
    EXPECT_EQ(LogLines(), expected);
    EXPECT_EQ(Channel.Messages.size(), 3u);  // only the result texts reach the channel
}

TEST_F(Report, STCallsTheDeviceOnceForTheSameTexture)
{
    IDirect3DTexture8* texture = nullptr;
    ASSERT_EQ(Device->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture), D3D_OK);
    EXPECT_EQ(ST(0, texture), D3D_OK);
    Device->SetTexture(0, nullptr);  // behind ST's back
    EXPECT_EQ(ST(0, texture), D3D_OK);
    IDirect3DBaseTexture8* bound = reinterpret_cast<IDirect3DBaseTexture8*>(1);
    Device->GetTexture(0, &bound);
    EXPECT_EQ(bound, nullptr);  // the second ST did not reach the device
    EXPECT_EQ(GetLastTexture(), texture);
    EXPECT_EQ(texture->Release(), 1u);  // ST's reference keeps it
    EXPECT_EQ(ST(0, nullptr), D3D_OK);
    EXPECT_EQ(GetLastTexture(), nullptr);
}

TEST_F(Report, AFailedSTIsNotRetried)
{
    // A texture of another device is refused by this one.
    IDirect3DDevice8* other = nullptr;
    D3DPRESENT_PARAMETERS p = WindowedParams();
    ASSERT_EQ(D3D->CreateDevice(0, D3DDEVTYPE_HAL, TestWindow(), D3DCREATE_SOFTWARE_VERTEXPROCESSING, &p, &other),
              D3D_OK);
    IDirect3DTexture8* foreign = nullptr;
    other->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &foreign);
    EXPECT_EQ(ST(0, foreign), D3DERR_INVALIDCALL);
    EXPECT_EQ(ST(0, foreign), D3D_OK);
    std::ostringstream identity;
    identity << reinterpret_cast<std::uintptr_t>(static_cast<IDirect3DBaseTexture8*>(foreign));
    const std::vector<std::string> expected = {"uDebug.ST : Device.SetTexture error",
                                               "Stage=0; pTexture=" + identity.str(),
                                               GetD3DErrorText(D3DERR_INVALIDCALL)};
    EXPECT_EQ(LogLines(), expected);
    ReleaseLastTexture();
    foreign->Release();
    EXPECT_EQ(other->Release(), 0u);
}

TEST_F(Report, CreateTextureDirectDetailsLine)
{
    d3d8::faults::FailNextCreateTexture(E_OUTOFMEMORY);
    IDirect3DTexture8* texture = reinterpret_cast<IDirect3DTexture8*>(1);
    EXPECT_EQ(CreateTextureDirect(256, 128, 0, 0, D3DFMT_A4R4G4B4, D3DPOOL_MANAGED, &texture), E_OUTOFMEMORY);
    EXPECT_EQ(texture, nullptr);
    const std::string vmem = std::to_string(Device->GetAvailableTextureMem() / 1024);
    const std::string details = "Width=256; \rHeight=128; \rLevels=0; \rUsage=0; \rFormat=A4R4G4B4; \rPool=1; \rVMem=" + vmem;
    const std::vector<std::string> expected = {"uDebug.CreateTextureDirect : Texture creation failed", details,
                                               GetD3DErrorText(E_OUTOFMEMORY)};
    EXPECT_EQ(LogLines(), expected);
    ASSERT_EQ(Channel.Messages.size(), 3u);
    EXPECT_EQ(testsupport::Untagged(Channel.Messages[1]), details);

    ASSERT_EQ(CreateTextureDirect(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture), D3D_OK);
    texture->Release();
    EXPECT_EQ(LogLines().size(), 3u);
}

}  // namespace
}  // namespace d3d8test
