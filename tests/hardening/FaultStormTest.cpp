// The running saver under storms of platform faults: a device that keeps getting lost,
// resources that cannot be made while it comes back, a monitor program that misbehaves, and a
// preview parent that vanishes. Each must end the way a healthy run does, or keep running.

#include "app/uC.h"
#include "app/uRunState.h"
#include "common/uMonitor.h"
#include "framework/uD3DApp.h"
#include "framework/uD3DGlobals.h"
#include "framework/uMyApp.h"
#include "particles/uWorld.h"
#include "platform/d3d8/faults.h"
#include "platform/display/display.h"
#include "platform/win/ipc.h"
#include "scene/uGroup.h"
#include "tests/framework/saver_sandbox.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <random>
#include <string>
#include <thread>

namespace {

namespace offscreen = platform::display::offscreen;
using Clock = std::chrono::steady_clock;

// Sanitized frames cost ten times as much; a quarter of the storm still shows leaks and UB.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kStormScale = 4;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr int kStormScale = 4;
#else
constexpr int kStormScale = 1;
#endif
#else
constexpr int kStormScale = 1;
#endif

std::size_t CountContaining(const std::vector<std::string>& lines, const std::string& part)
{
    return static_cast<std::size_t>(
        std::count_if(lines.begin(), lines.end(), [&](const std::string& l) { return l.find(part) != l.npos; }));
}

class FaultStorm : public ::testing::Test {
protected:
    void SetUp() override
    {
        TSandboxOptions options;
        options.Width = 160;
        options.Height = 120;
        options.SpiralCount = 1;
        sandbox_ = std::make_unique<SaverSandbox>(options);
        offscreen::Reset();
        ASSERT_TRUE(WindowLayerPresent()) << "no window can be created";
        sandbox_->LoadLikeTheEntry();
        StartRecordingMessageBoxes();
        SetMonitorHook([this](const std::string& message) { sent_.push_back(message); });
    }
    void TearDown() override
    {
        StopSaverInProcess();
        StopRecordingMessageBoxes();
        SetMonitorHook(nullptr);
        platform::SetCopyDataTimeoutForTests(0);
        sandbox_.reset();
    }

    bool StepUntilBackground(int limit = 2000)
    {
        for (int i = 0; i < limit && !Background; ++i)
            StepFrames(1);
        return Background != nullptr;
    }

    // Loses the device every few hundred frames for Frames frames; ArmFaults runs while it is
    // lost, just before the reset is allowed. Returns the number of resets.
    template <class Arm> int LoseAndResetRepeatedly(int frames, std::mt19937& random, Arm armFaults)
    {
        std::uniform_int_distribution<int> gap(100, 400), lostFor(1, 6);
        int resets = 0;
        for (int done = 0; done < frames && App && App->hWnd;) {
            const int run = gap(random);
            StepFrames(run);
            done += run;
            d3d8::faults::LoseDevice(Device);
            const uint64_t before = offscreen::PresentedFrames();
            const int lost = lostFor(random);
            StepFrames(lost);
            done += lost;
            EXPECT_EQ(offscreen::PresentedFrames(), before) << "a lost device presents nothing";
            armFaults();
            d3d8::faults::AllowReset(Device);
            StepFrames(3);
            done += 3;
            ++resets;
        }
        return resets;
    }

    // The saver still draws and then closes the way a key press closes it.
    void ExpectAliveThenCleanClose()
    {
        ASSERT_NE(App, nullptr);
        ASSERT_NE(App->hWnd, nullptr) << "the storm ended the saver";
        EXPECT_EQ(QuitRequest, 0);
        const uint64_t before = offscreen::PresentedFrames();
        StepFrames(5);
        EXPECT_GT(offscreen::PresentedFrames(), before) << "the picture goes on after the storm";
        SendMessageA(App->hWnd, WM_KEYDOWN, 'A', 0);
        bool quit = false;
        for (int i = 0; i < 10 && !quit; ++i) {
            RunFrameStep();
            quit = !DrainMessages();
        }
        EXPECT_TRUE(quit) << "a key still ends the saver";
        EXPECT_EQ(Device, nullptr);
        EXPECT_EQ(SceneRoot, nullptr);
    }

    // The log lines written since the last call.
    std::vector<std::string> NewLogLines()
    {
        std::vector<std::string> lines = sandbox_->LogLines();
        std::vector<std::string> fresh(lines.begin() + static_cast<std::ptrdiff_t>(std::min(seen_, lines.size())),
                                       lines.end());
        seen_ = lines.size();
        return fresh;
    }

    std::unique_ptr<SaverSandbox> sandbox_;
    std::vector<std::string> sent_;
    std::size_t seen_ = 0;
};

TEST_F(FaultStorm, DeviceLostAndResetEveryFewHundredFrames)
{
    ASSERT_EQ(StartSaverInProcess(true), S_OK);
    ASSERT_TRUE(StepUntilBackground());
    NewLogLines();
    sent_.clear();
    std::mt19937 random(1234);
    const int resets = LoseAndResetRepeatedly(10000 / kStormScale, random, [] {});
    EXPECT_GE(resets, 20 / kStormScale);
    const std::vector<std::string> lines = NewLogLines();
    EXPECT_EQ(CountContaining(lines, "TGroup.RestoreDeviceObjects: ----->>start"), static_cast<std::size_t>(resets));
    EXPECT_EQ(CountContaining(lines, "failed"), 0u) << "a clean reset logs no failure";
    EXPECT_TRUE(sent_.empty());
    EXPECT_TRUE(RecordedMessageBoxes().empty());
    ExpectAliveThenCleanClose();
}

TEST_F(FaultStorm, ResourcesFailingWhileTheDeviceComesBack)
{
    ASSERT_EQ(StartSaverInProcess(true), S_OK);
    ASSERT_TRUE(StepUntilBackground());
    NewLogLines();
    sent_.clear();
    std::mt19937 random(99);
    const HRESULT failures[] = {E_OUTOFMEMORY, D3DERR_OUTOFVIDEOMEMORY, D3DERR_INVALIDCALL};
    int textureFaults = 0, bufferFaults = 0;
    LoseAndResetRepeatedly(6000 / kStormScale, random, [&] {
        const unsigned pick = random() % 4;  // none, texture, vertex buffer, both
        if (pick & 1) {
            d3d8::faults::FailNextCreateTexture(failures[random() % 3]);
            ++textureFaults;
        }
        if (pick & 2) {
            d3d8::faults::FailNextCreateVertexBuffer(failures[random() % 3]);
            ++bufferFaults;
        }
    });
    ASSERT_GT(textureFaults, 0);
    ASSERT_GT(bufferFaults, 0);
    const std::vector<std::string> lines = NewLogLines();
    EXPECT_EQ(CountContaining(lines, "uDebug.CreateTextureDirect : Texture creation failed"),
              static_cast<std::size_t>(textureFaults));
    EXPECT_GE(lines.size(), static_cast<std::size_t>(textureFaults + bufferFaults)) << "every fault is logged";
    EXPECT_GE(sent_.size(), static_cast<std::size_t>(textureFaults)) << "reports also go to the monitor";
    EXPECT_TRUE(RecordedMessageBoxes().empty()) << "resource failures are not fatal";
    ExpectAliveThenCleanClose();
}

// A stand-in for the monitor program on its socket, misbehaving on purpose.
class FakeMonitor {
public:
    enum class Mode { Garbage, Hang, Dead };
    explicit FakeMonitor(Mode mode) : mode_(mode)
    {
        path_ = platform::win::ipc::SocketPathFor("TMistrelForm");
        fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::strncpy(a.sun_path, path_.c_str(), sizeof a.sun_path - 1);
        unlink(path_.c_str());
        if (bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd_, 16) != 0) {
            close(fd_);
            fd_ = -1;
            return;
        }
        if (mode_ == Mode::Dead) {
            close(fd_);  // the socket file stays behind, as after a crash
            fd_ = -1;
            return;
        }
        server_ = std::thread([this] { Serve(); });
    }
    ~FakeMonitor()
    {
        stop_ = true;
        if (fd_ >= 0)
            shutdown(fd_, SHUT_RDWR);
        if (server_.joinable())
            server_.join();
        if (fd_ >= 0)
            close(fd_);
        unlink(path_.c_str());
    }
    bool Ready() const { return mode_ == Mode::Dead || fd_ >= 0; }
    int Served() const { return served_; }

private:
    void Serve()
    {
        while (!stop_) {
            const int c = accept(fd_, nullptr, nullptr);
            if (c < 0)
                return;
            char buffer[4096];
            const ssize_t n = recv(c, buffer, sizeof buffer, 0);
            if (n > 0) {
                ++served_;
                if (mode_ == Mode::Garbage)
                    [[maybe_unused]] auto k = send(c, "no reply of any kind", 20, MSG_NOSIGNAL);
                else
                    for (int i = 0; i < 50 && !stop_; ++i)
                        std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            close(c);
        }
    }

    Mode mode_;
    std::string path_;
    int fd_ = -1;
    std::thread server_;
    std::atomic<bool> stop_{false};
    std::atomic<int> served_{0};
};

TEST_F(FaultStorm, MonitorThatDiesHangsOrAnswersGarbageMidRun)
{
    constexpr int kSendBoundMs = 150;
    SetMonitorHook(nullptr);
    platform::SetCopyDataTimeoutForTests(kSendBoundMs);
    ASSERT_EQ(StartSaverInProcess(true), S_OK);
    ASSERT_TRUE(StepUntilBackground());
    long long answeredMs = 0;  // the same storm with a monitor that answers at once
    for (FakeMonitor::Mode mode : {FakeMonitor::Mode::Garbage, FakeMonitor::Mode::Hang, FakeMonitor::Mode::Dead}) {
        SCOPED_TRACE(static_cast<int>(mode));
        FakeMonitor monitor(mode);
        ASSERT_TRUE(monitor.Ready());
        const std::size_t boxesBefore = RecordedMessageBoxes().size();
        const auto start = Clock::now();
        int reports = 0;
        // Every reset fails a texture, so each one sends reports to the monitor.
        for (int round = 0; round < 4; ++round) {
            d3d8::faults::LoseDevice(Device);
            StepFrames(2);
            d3d8::faults::FailNextCreateTexture(E_OUTOFMEMORY);
            d3d8::faults::AllowReset(Device);
            StepFrames(20);
            reports += 2;  // the failure line and its details
        }
        const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        if (mode == FakeMonitor::Mode::Garbage)
            answeredMs = elapsed;
        else
            EXPECT_LT(elapsed, answeredMs * 2 + reports * (kSendBoundMs + 100) + 500)
                << "no message may wait longer than the bound";
        if (mode == FakeMonitor::Mode::Dead)
            EXPECT_GT(RecordedMessageBoxes().size(), boxesBefore) << "a dead monitor is reported as not found";
        else
            EXPECT_GT(monitor.Served(), 0);
        ASSERT_NE(App->hWnd, nullptr);
    }
    ExpectAliveThenCleanClose();
}

TEST_F(FaultStorm, PreviewParentDestroyedAtARandomMoment)
{
    std::mt19937 random(2024);
    std::uniform_int_distribution<int> moment(0, 400);
    int moments[8] = {0, 1};
    for (int i = 2; i < 8; ++i)
        moments[i] = moment(random);
    for (int at : moments) {
        SCOPED_TRACE(at);
        std::uint64_t parent = 0;
        ASSERT_EQ(StartPreviewInProcess(120, 90, parent), S_OK);
        StepFrames(at);
        offscreen::DestroyForeignWindow(parent);
        EXPECT_TRUE(QuitsWithin(20)) << "the parent's end reaches the saver";
        EXPECT_TRUE(App->hWnd == nullptr || !IsWindow(App->hWnd));
        EXPECT_EQ(offscreen::LiveWindows(), 0u);
        ParentWindow = nullptr;
        StopSaverInProcess();
    }
    EXPECT_TRUE(RecordedMessageBoxes().empty());
}

}  // namespace
