#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/win/ipc.h"
#include "tests/win/win_test_support.h"

extern char** environ;

namespace {

using namespace wintest;
using Clock = std::chrono::steady_clock;

class CopyDataTest : public WindowLayerTest {
protected:
    void SetUp() override
    {
        WindowLayerTest::SetUp();
        UseScripted();
        Recorder::Clear();
        platform::SetCopyDataTimeoutForTests(400);
    }
    void TearDown() override
    {
        platform::SetCopyDataTimeoutForTests(0);
        WindowLayerTest::TearDown();
    }
    HWND WaitForPeer(const char* cls)
    {
        for (auto end = Clock::now() + std::chrono::seconds(5); Clock::now() < end;) {
            if (HWND h = FindWindowA(cls, nullptr))
                return h;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return nullptr;
    }
    static LRESULT Send(HWND h, const std::string& text, ULONG_PTR tag = 0)
    {
        COPYDATASTRUCT cds{tag, static_cast<DWORD>(text.size() + 1), const_cast<char*>(text.c_str())};
        return SendMessageA(h, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds));
    }
};

int ConnectRaw(const std::string& path)
{
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

int ListenRaw(const std::string& path)
{
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
    unlink(path.c_str());
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, 4) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

LRESULT CALLBACK EchoProc(HWND h, UINT msg, WPARAM w, LPARAM l)
{
    if (msg == WM_COPYDATA) {
        auto* cds = reinterpret_cast<const COPYDATASTRUCT*>(l);
        std::string text(static_cast<const char*>(cds->lpData), cds->cbData ? cds->cbData - 1 : 0);
        if (text == "quit")
            PostQuitMessage(0);
        return static_cast<LRESULT>(cds->dwData * 1000 + cds->cbData);
    }
    return DefWindowProcA(h, msg, w, l);
}

TEST_F(CopyDataTest, RecordsReachAnotherProcessAndItsResultComesBack)
{
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        platform::ResetWindowsForTests();
        WNDCLASSA wc{};
        wc.lpfnWndProc = EchoProc;
        wc.lpszClassName = "IpcEcho";
        RegisterClassA(&wc);
        CreateWindowExA(0, "IpcEcho", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
        MSG m;
        alarm(10);
        while (GetMessageA(&m, nullptr, 0, 0) > 0)
            DispatchMessageA(&m);
        _exit(0);
    }
    HWND peer = WaitForPeer("IpcEcho");
    ASSERT_NE(peer, nullptr);
    EXPECT_TRUE(IsWindow(peer));
    EXPECT_EQ(Send(peer, "hello", 7), 7006);
    std::string big(200000, 'x');
    EXPECT_EQ(Send(peer, big, 1), 1000 + 200001);
    EXPECT_EQ(Send(peer, "quit", 0), 5);
    int status = 0;
    EXPECT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status));
    // Its socket went with it: nothing to find, and sending fails at once.
    EXPECT_EQ(FindWindowA("IpcEcho", nullptr), nullptr);
    EXPECT_FALSE(IsWindow(peer));
    EXPECT_EQ(Send(peer, "late"), 0);
}

TEST_F(CopyDataTest, MisbehavingReceiversNeverHoldTheSenderLong)
{
    const std::string path = platform::win::ipc::SocketPathFor("IpcBad");
    ASSERT_FALSE(path.empty());
    enum Kind { Hang, Garbage, CloseAtOnce, ShortReply };
    for (Kind kind : {Hang, Garbage, CloseAtOnce, ShortReply}) {
        int server = ListenRaw(path);
        ASSERT_GE(server, 0);
        std::thread peer([server, kind] {
            int c = accept(server, nullptr, nullptr);
            if (c < 0)
                return;
            char buf[64];
            if (kind != CloseAtOnce)
                [[maybe_unused]] auto n = read(c, buf, sizeof buf);
            if (kind == Garbage)
                [[maybe_unused]] auto n = send(c, "not a reply at all!!", 20, MSG_NOSIGNAL);
            if (kind == ShortReply)
                [[maybe_unused]] auto n = send(c, "HCR1", 4, MSG_NOSIGNAL);
            if (kind == Hang)
                std::this_thread::sleep_for(std::chrono::milliseconds(500));
            close(c);
        });
        // Finding the peer costs it one connection; let it take that and serve the next.
        HWND h = platform::win::ipc::FindPeer("IpcBad");
        ASSERT_NE(h, nullptr);
        peer.join();
        peer = std::thread([server, kind] {
            int c = accept(server, nullptr, nullptr);
            char buf[64];
            if (kind != CloseAtOnce)
                [[maybe_unused]] auto n = read(c, buf, sizeof buf);
            if (kind == Garbage)
                [[maybe_unused]] auto n = send(c, "not a reply at all!!", 20, MSG_NOSIGNAL);
            if (kind == ShortReply)
                [[maybe_unused]] auto n = send(c, "HCR1", 4, MSG_NOSIGNAL);
            if (kind == Hang)
                std::this_thread::sleep_for(std::chrono::milliseconds(500));
            close(c);
        });
        auto start = Clock::now();
        EXPECT_EQ(Send(h, "message"), 0) << kind;
        EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(700)) << kind;
        peer.join();
        close(server);
        unlink(path.c_str());
    }
}

TEST_F(CopyDataTest, StaleSocketsAreNotPeersAndAreReplaced)
{
    const std::string path = platform::win::ipc::SocketPathFor("IpcStale");
    int fd = ListenRaw(path);
    ASSERT_GE(fd, 0);
    close(fd);  // the file stays, nobody listens: a process that died
    EXPECT_EQ(FindWindowA("IpcStale", nullptr), nullptr);
    RegisterRecorderClass("IpcStale");
    HWND w = CreateWindowExA(0, "IpcStale", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(w, nullptr);
    int c = ConnectRaw(path);
    EXPECT_GE(c, 0);
    close(c);
    DestroyWindow(w);
    EXPECT_NE(access(path.c_str(), F_OK), 0);  // the last window of the class took the socket with it
}

TEST_F(CopyDataTest, ReceiverDropsJunkAndServesWellFormedRecords)
{
    static std::vector<std::string> received;
    received.clear();
    Recorder::handler = [](HWND h, UINT msg, WPARAM w, LPARAM l) -> LRESULT {
        if (msg == WM_COPYDATA) {
            auto* cds = reinterpret_cast<const COPYDATASTRUCT*>(l);
            received.emplace_back(static_cast<const char*>(cds->lpData), cds->cbData);
            return 77;
        }
        return DefWindowProcA(h, msg, w, l);
    };
    RegisterRecorderClass("IpcRecv");
    HWND w = CreateWindowExA(0, "IpcRecv", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(w, nullptr);
    const std::string path = platform::win::ipc::SocketPathFor("IpcRecv");

    auto record = [](std::uint32_t magic, std::uint32_t size, const std::string& body) {
        std::string r(16, '\0');
        std::memcpy(&r[0], &magic, 4);
        std::memcpy(&r[4], &size, 4);
        return r + body;
    };
    struct Case {
        std::string bytes;
        bool delivered;
    } cases[] = {
        {record(0x31444348, 3, "abc"), true},
        {record(0x12345678, 3, "abc"), false},          // wrong magic
        {record(0x31444348, 1u << 30, "abc"), false},   // absurd size
        {record(0x31444348, 10, "abc"), false},         // cut short, then closed
        {"HC", false},                                  // not even a header
    };
    for (const Case& c : cases) {
        received.clear();
        int fd = ConnectRaw(path);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(write(fd, c.bytes.data(), c.bytes.size()), static_cast<ssize_t>(c.bytes.size()));
        shutdown(fd, SHUT_WR);
        MSG m;
        for (int i = 0; i < 5; ++i)
            PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE);
        EXPECT_EQ(received.size(), c.delivered ? 1u : 0u) << c.bytes.size();
        char reply[16];
        ssize_t n = read(fd, reply, sizeof reply);
        if (c.delivered) {
            ASSERT_EQ(n, 16);
            std::int64_t result;
            std::memcpy(&result, reply + 8, 8);
            EXPECT_EQ(result, 77);
            EXPECT_EQ(received[0], "abc");
        } else {
            EXPECT_LE(n, 0);  // closed without an answer
        }
        close(fd);
    }
}

TEST_F(CopyDataTest, MonitorPrintsAndLogsWhatItIsSentAndLeavesWhenIdle)
{
    const std::string exe = std::string(HALVORA_BINARY_DIR) + "/tools/mistrel/Mistrel.exe";
    if (access(exe.c_str(), X_OK) != 0)
        GTEST_SKIP() << "Mistrel.exe is not built";
    env.Set("XDG_STATE_HOME", scratch.path() + "/state");
    env.Set("MISTREL_IDLE_SECONDS", "1");
    const std::string out = scratch.path() + "/stdout.txt";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = 0;
    char* argv[] = {const_cast<char*>(exe.c_str()), nullptr};
    ASSERT_EQ(posix_spawn(&pid, exe.c_str(), &actions, nullptr, argv, environ), 0);
    posix_spawn_file_actions_destroy(&actions);

    HWND monitor = WaitForPeer("TMistrelForm");
    ASSERT_NE(monitor, nullptr);
    EXPECT_EQ(Send(monitor, "!4711#Device lost"), TRUE);
    EXPECT_EQ(Send(monitor, "!12#second\nline"), TRUE);
    int status = 0;
    auto start = Clock::now();
    while (waitpid(pid, &status, WNOHANG) == 0 && Clock::now() - start < std::chrono::seconds(5))
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (Clock::now() - start >= std::chrono::seconds(5)) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        FAIL() << "the monitor did not leave when idle";
    }
    std::ifstream log(scratch.path() + "/state/halvora/Mistrel.log");
    std::stringstream text;
    text << log.rdbuf();
    EXPECT_NE(text.str().find(" !4711#Device lost\n"), std::string::npos) << text.str();
    EXPECT_NE(text.str().find(" !12#second?line\n"), std::string::npos) << text.str();
    std::ifstream printed(out);
    std::stringstream p;
    p << printed.rdbuf();
    EXPECT_EQ(p.str(), "!4711#Device lost\n!12#second?line\n");
}

}  // namespace
