#pragma once
// A private home, registry and data folder for runs of the saver in tests, and
// helpers to drive the application in-process on the offscreen display.

#include "platform/win/windows.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct TSandboxOptions {
    int Width = 320;
    int Height = 240;
    int SpiralType = 1;
    int SpiralCount = 8;
    int BlendMode = 0;
    uint32_t Format = 22;  // D3DFMT_X8R8G8B8
};

class SaverSandbox {
public:
    explicit SaverSandbox(const TSandboxOptions& options = {});
    ~SaverSandbox();
    SaverSandbox(const SaverSandbox&) = delete;
    SaverSandbox& operator=(const SaverSandbox&) = delete;

    const std::string& Root() const { return root_; }
    const std::string& DataFolder() const { return data_; }
    std::vector<std::string> LogLines() const;
    // The environment a child process needs to run in this sandbox, as NAME=VALUE.
    std::vector<std::string> Environment() const;

    // Loads the data paths and options the way the program entry does.
    void LoadLikeTheEntry() const;

private:
    std::string root_;
    std::string data_;
    TSandboxOptions options_;
};

struct TRecordedBox {
    std::string Text;
    std::string Caption;
    UINT Type = 0;
};
// Message boxes are answered at once and recorded while this runs.
void StartRecordingMessageBoxes();
void StopRecordingMessageBoxes();
const std::vector<TRecordedBox>& RecordedMessageBoxes();

// Whether windows can be created here (the window layer and a display backend exist).
bool WindowLayerPresent();

// Every process-wide value a run changes, back to its start value.
void ResetSaverGlobals();

// Creates App and runs Create_ and ResetTimers as the full-screen mode does
// (device created full screen, then rendering windowed into the popup).
HRESULT StartSaverInProcess(bool fullScreen = true);
// The preview mode inside a new foreign window of the offscreen display, whose id lands in
// Parent; S_OK once App runs in it.
HRESULT StartPreviewInProcess(int parentWidth, int parentHeight, std::uint64_t& parent);
// One frame step of the window procedure, then every posted message.
void StepFrames(int count);
// Steps frames until WM_QUIT arrives; false when it did not within Frames.
bool QuitsWithin(int frames);
// Delivers queued messages without drawing; false once WM_QUIT was seen.
bool DrainMessages();
// Tears down whatever a run left behind.
void StopSaverInProcess();

std::string ReadTextFile(const std::string& path);
std::string SourcePath(const std::string& relative);
std::string BinaryPath(const std::string& relative);

// A test with a sandbox, its options loaded as the entry loads them, on a fresh offscreen
// display, with message boxes recorded; whatever the test started is torn down after it.
class SandboxedSaverTest : public ::testing::Test {
protected:
    explicit SandboxedSaverTest(const TSandboxOptions& options = {}) : options_(options) {}
    void SetUp() override;
    void TearDown() override;
    void NewSandbox();  // a fresh one, the old one gone first

    std::unique_ptr<SaverSandbox> sandbox_;

private:
    TSandboxOptions options_;
};
