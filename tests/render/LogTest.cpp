#include "render/uLog.h"

#include "app/uC.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

using testsupport::CapturedChannel;
using testsupport::ReadBytes;
using testsupport::TempDir;
using testsupport::Untagged;

class Log : public ::testing::Test {
protected:
    void SetUp() override { DataDir = Dir.Path(); }
    TempDir Dir;
    testsupport::ScopedDataPaths Paths;
    CapturedChannel Channel;
};

TEST_F(Log, AppendsVerbatimLinesAcrossCalls)
{
    EXPECT_EQ(GetLogFileName(), Dir.Path() + "\\Error.log");
    WriteLog("first");
    WriteLog("");
    WriteLog("with\rcarriage return");
    EXPECT_EQ(ReadBytes(Dir.File("Error.log")), "first\r\n\r\nwith\rcarriage return\r\n");
    EXPECT_TRUE(Channel.Messages.empty());
}

TEST_F(Log, ReportErrorGoesToTheLogAndTheChannel)
{
    ReportError("TThing.Load: missing file");
    EXPECT_EQ(ReadBytes(Dir.File("Error.log")), "TThing.Load: missing file\r\n");
    ASSERT_EQ(Channel.Messages.size(), 1u);
    EXPECT_EQ(Untagged(Channel.Messages[0]), "TThing.Load: missing file");
}

TEST_F(Log, CheckResultLogsOnlyFailures)
{
    struct Case {
        HRESULT Code;
        const char* Logged;  // nullptr: nothing
    };
    const Case cases[] = {
        {0, nullptr},
        {1, nullptr},
        {0x7FFFFFFF, nullptr},
        {static_cast<HRESULT>(0x8876086C), "The method call is invalid. For example, a method's parameter may have an invalid value."},
        {static_cast<HRESULT>(0x80004005), "An undetermined error occurred inside the Direct3D subsystem."},
        {static_cast<HRESULT>(0x8876086D), "Unrecognized Error"},
        {static_cast<HRESULT>(0x80000000), "Unrecognized Error"},
    };
    for (const Case& c : cases) {
        std::remove(Dir.File("Error.log").c_str());
        Channel.Messages.clear();
        CheckResult(c.Code);
        if (!c.Logged) {
            EXPECT_FALSE(testsupport::PathExists(Dir.File("Error.log"))) << c.Code;
            EXPECT_TRUE(Channel.Messages.empty());
            continue;
        }
        EXPECT_EQ(ReadBytes(Dir.File("Error.log")), std::string(c.Logged) + "\r\n");
        ASSERT_EQ(Channel.Messages.size(), 1u);
        EXPECT_EQ(Untagged(Channel.Messages[0]), c.Logged);
    }
}

TEST_F(Log, ResultTexts)
{
    EXPECT_EQ(GetD3DErrorText(0), "No error occurred.");
    EXPECT_EQ(GetD3DErrorText(static_cast<HRESULT>(0x80070057)), "An invalid parameter was passed to the returning function");
    EXPECT_EQ(GetD3DErrorText(static_cast<HRESULT>(0x8876081D)),
              "The application is requesting more texture-filtering operations than the device");
    EXPECT_EQ(GetD3DErrorText(static_cast<HRESULT>(0x88760868)),
              "The device is lost and cannot be restored at the current time, so rendering is not possible.");
    EXPECT_EQ(GetD3DErrorText(1), "Unrecognized Error");
}

TEST_F(Log, UnwritableLogLosesTheLineQuietly)
{
    DataDir = Dir.Path() + "/no/such/folder";
    WriteLog("lost");
    ReportError("still reported");
    ASSERT_EQ(Channel.Messages.size(), 1u);
    EXPECT_TRUE(Channel.Boxes.empty());
}

}  // namespace
