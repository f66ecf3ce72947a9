#include "render/uStateBlocks.h"

#include "render/uDebug.h"
#include "tests/scene/FakeDevice.h"
#include "tests/scene/SceneTestSupport.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

namespace {

using scenetest::FakeDevice;
using scenetest::StateCall;

StateCall R(DWORD s, DWORD v) { return {StateCall::Render, 0, s, v}; }
StateCall T(DWORD s, DWORD v, DWORD stage = 0) { return {StateCall::StageState, stage, s, v}; }

std::vector<StateCall> Defaults(DWORD address)
{
    return {R(7, 0),   R(9, 1),   R(27, 0),  R(19, 5),  R(20, 6),  R(15, 0),  R(8, 3),
            R(22, 1),  R(52, 0),  R(136, 1), R(40, 0),  R(152, 0), R(151, 0), R(167, 0),
            R(28, 0),  R(137, 0), T(17, 1),  T(16, 1),  T(18, 0),  T(13, address), T(14, address),
            T(11, 0),  T(24, 0),  T(1, 1, 1), T(4, 1, 1)};
}

// Stage-0 operations: COLOROP 1, COLORARG1 2, COLORARG2 3, ALPHAOP 4, ALPHAARG1 5, ALPHAARG2 6.
std::map<int, std::vector<StateCall>> Expected(DWORD address)
{
    const StateCall blend = R(27, 1), gouraud = R(9, 2);
    std::map<int, std::vector<StateCall>> after = {
        {11, {}},
        {12, {T(2, 2), T(1, 2)}},
        {13, {T(2, 0), T(1, 2), gouraud}},
        {14, {T(2, 2), T(1, 4), T(3, 0), gouraud}},
        {15, {blend, T(4, 2), T(5, 0), T(1, 2), T(2, 0), gouraud}},
        {16, {blend, T(5, 0), T(4, 2), T(2, 2), T(1, 2)}},
        {17, {blend, T(5, 0), T(4, 2), T(2, 2), T(1, 4), T(3, 0)}},
        {19, {blend, T(5, 2), T(4, 2), T(2, 2), T(1, 2)}},
        {20, {blend, T(5, 2), T(4, 2), T(2, 0), T(1, 2)}},
        {21, {blend, T(5, 2), T(4, 2), T(2, 2), T(1, 4), T(3, 0)}},
        {22, {blend, T(5, 2), T(4, 4), T(6, 0), T(2, 2), T(1, 2)}},
        {23, {blend, T(5, 2), T(4, 4), T(6, 0), T(2, 0), T(1, 2)}},
        {24, {blend, T(5, 2), T(4, 4), T(6, 0), T(2, 2), T(1, 4), T(3, 0)}},
        {25, {blend, T(5, 2), T(4, 4), T(6, 0), T(2, 2), T(1, 7), T(3, 0)}},
    };
    std::map<int, std::vector<StateCall>> all;
    for (auto& [n, extra] : after) {
        std::vector<StateCall> calls = Defaults(address);
        calls.insert(calls.end(), extra.begin(), extra.end());
        all[n] = calls;
    }
    all[30] = {T(17, 2), T(16, 2)};
    all[31] = {R(9, 1)};
    all[32] = {R(19, 5), R(20, 2)};
    all[33] = {T(13, 1), T(14, 1)};
    all[34] = {R(9, 2)};
    return all;
}

class StateBlocksTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override
    {
        ST(0, nullptr);  // no texture bound: the default reset is then not recorded
        MirrorAddressing = GetParam();
    }
    void TearDown() override { MirrorAddressing = false; }
    scenetest::ReportCapture Reports;
    FakeDevice Dev;
};

TEST_P(StateBlocksTest, EveryBlockRecordsItsStates)
{
    TStateBlockDepot depot;
    ASSERT_EQ(depot.RestoreDeviceObjects(), S_OK);
    const auto expected = Expected(GetParam() ? D3DTADDRESS_MIRROR : D3DTADDRESS_WRAP);
    for (int n = 0; n < TStateBlockDepot::kTokenCount; ++n) {
        SCOPED_TRACE(n);
        const auto want = expected.find(n);
        if (want == expected.end()) {
            EXPECT_EQ(depot.Tokens[n], 0u);
            continue;
        }
        ASSERT_NE(depot.Tokens[n], 0u);
        EXPECT_EQ(Dev.Blocks.at(depot.Tokens[n]), want->second);
    }
    EXPECT_TRUE(Dev.Calls.empty());  // recording changes nothing outside the blocks
}

TEST_P(StateBlocksTest, InvalidateDeletesEachBlockOnceAndRestoreDoesNotLeak)
{
    auto* depot = new TStateBlockDepot;
    depot->RestoreDeviceObjects();
    depot->RestoreDeviceObjects();
    EXPECT_EQ(Dev.Deleted.size(), 19u);
    EXPECT_EQ(Dev.Blocks.size(), 19u);
    depot->InvalidateDeviceObjects();
    depot->InvalidateDeviceObjects();
    EXPECT_EQ(Dev.Deleted.size(), 38u);
    EXPECT_TRUE(Dev.Blocks.empty());
    depot->RestoreDeviceObjects();
    delete depot;
    EXPECT_TRUE(Dev.Blocks.empty());
}

INSTANTIATE_TEST_SUITE_P(Addressing, StateBlocksTest, ::testing::Bool());

TEST(StateBlocks, ApplyBlockSkipsNoneAndOutOfRange)
{
    scenetest::ReportCapture reports;
    FakeDevice dev;
    TStateBlockDepot depot;
    depot.RestoreDeviceObjects();
    BlockDepot = &depot;
    for (int n : {0, -1, 64, 1000})
        ApplyBlock(n);
    EXPECT_TRUE(dev.Journal.empty());
    ApplyBlock(24);
    ApplyBlock(30);
    EXPECT_EQ(dev.Journal, (std::vector<std::string>{"ApplyStateBlock " + std::to_string(depot.Tokens[24]),
                                                     "ApplyStateBlock " + std::to_string(depot.Tokens[30])}));
    BlockDepot = nullptr;
}

}  // namespace
