#include "tests/support/TestSupport.h"

#include "app/uC.h"
#include "common/uMonitor.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace testsupport {

TempDir::TempDir()
{
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/halvora-test-XXXXXX";
    if (!mkdtemp(pattern.data()))
        ADD_FAILURE() << "mkdtemp failed";
    Root = pattern;
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(Root, ignored);
}

ScopedEnv::ScopedEnv(const char* name, std::optional<std::string> value) : Name(name)
{
    if (const char* old = std::getenv(name))
        Saved = old;
    if (value)
        setenv(name, value->c_str(), 1);
    else
        unsetenv(name);
}

ScopedEnv::~ScopedEnv()
{
    if (Saved)
        setenv(Name.c_str(), Saved->c_str(), 1);
    else
        unsetenv(Name.c_str());
}

ScopedDataPaths::ScopedDataPaths() : SavedDataDir(DataDir), SavedOptionsPath(OptionsPath) {}

ScopedDataPaths::~ScopedDataPaths()
{
    DataDir = SavedDataDir;
    OptionsPath = SavedOptionsPath;
}

CapturedChannel::CapturedChannel()
{
    SetMonitorHook([this](const std::string& m) { Messages.push_back(m); });
    SetMessageBoxHook([this](const std::string& t) { Boxes.push_back(t); });
}

CapturedChannel::~CapturedChannel()
{
    SetMonitorHook({});
    SetMessageBoxHook({});
}

void WriteBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool PathExists(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

std::string Untagged(const std::string& message)
{
    const std::size_t hash = message.find('#');
    if (message.empty() || message[0] != '!' || hash == std::string::npos || hash < 2)
        return "<bad tag>";
    for (std::size_t i = 1; i < hash; ++i)
        if (message[i] < '0' || message[i] > '9')
            return "<bad tag>";
    return message.substr(hash + 1);
}

namespace {

// Keeps every test away from the user's real configuration, data and monitor.
class IsolatedHome : public ::testing::Environment {
public:
    void SetUp() override
    {
        Home = std::make_unique<TempDir>();
        for (const char* sub : {"config", "data", "state", "runtime"})
            std::filesystem::create_directories(Home->File(sub));
        std::filesystem::permissions(Home->File("runtime"), std::filesystem::perms::owner_all);
        setenv("HOME", Home->Path().c_str(), 1);
        setenv("XDG_CONFIG_HOME", Home->File("config").c_str(), 1);
        setenv("XDG_DATA_HOME", Home->File("data").c_str(), 1);
        setenv("XDG_STATE_HOME", Home->File("state").c_str(), 1);
        setenv("XDG_RUNTIME_DIR", Home->File("runtime").c_str(), 1);
        setenv("HALVORA_REGISTRY", Home->File("config/registry.reg").c_str(), 1);
        // An empty data folder would put the log in the file system's root.
        std::filesystem::create_directories(Home->File("data/halvora/Textures"));
        DataDir = Home->File("data/halvora");
        OptionsPath = DataDir + "\\Options.txt";
    }
    void TearDown() override { Home.reset(); }

private:
    std::unique_ptr<TempDir> Home;
};

[[maybe_unused]] ::testing::Environment* const kIsolatedHome = ::testing::AddGlobalTestEnvironment(new IsolatedHome);

}  // namespace

}  // namespace testsupport
