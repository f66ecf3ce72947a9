// Mistrel.exe: the debug monitor. Prints every message it is sent and appends it to
// Mistrel.log in the state folder; leaves after a while without messages.

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "platform/win/profile.h"
#include "platform/win/windows.h"

namespace {

constexpr UINT_PTR kIdleTimer = 1;
constexpr long kDefaultIdleSeconds = 300;

HWND g_window = nullptr;
UINT g_idleMs = kDefaultIdleSeconds * 1000;
std::string g_logPath;

UINT IdleMilliseconds()
{
    const char* text = std::getenv("MISTREL_IDLE_SECONDS");
    if (!text || !*text)
        return kDefaultIdleSeconds * 1000;
    char* end = nullptr;
    long seconds = std::strtol(text, &end, 10);
    if (*end || seconds <= 0 || seconds > 86400)
        return kDefaultIdleSeconds * 1000;
    return static_cast<UINT>(seconds * 1000);
}

std::string LogPath()
{
    const std::string state = platform::UserBaseFolder(platform::UserFolderKind::State);
    if (state.empty())
        return {};
    const std::string dir = state + "/halvora";
    return platform::MakeFolders(dir) ? dir + "/Mistrel.log" : std::string{};
}

// The text up to its terminating NUL, with control characters made visible.
std::string TextOf(const COPYDATASTRUCT& cds)
{
    std::string text;
    const auto* bytes = static_cast<const unsigned char*>(cds.lpData);
    for (DWORD i = 0; bytes && i < cds.cbData && bytes[i]; ++i)
        text += (bytes[i] < 0x20 && bytes[i] != '\t') ? '?' : static_cast<char>(bytes[i]);
    return text;
}

void Record(const std::string& text)
{
    std::printf("%s\n", text.c_str());
    std::fflush(stdout);
    if (g_logPath.empty())
        return;
    if (FILE* f = std::fopen(g_logPath.c_str(), "a")) {
        char stamp[32];
        std::time_t now = std::time(nullptr);
        std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", std::localtime(&now));
        std::fprintf(f, "%s %s\n", stamp, text.c_str());
        std::fclose(f);
    }
}

LRESULT CALLBACK MonitorProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_COPYDATA: {
        const auto* cds = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        if (!cds)
            return FALSE;
        Record(TextOf(*cds));
        SetTimer(h, kIdleTimer, g_idleMs, nullptr);  // restart the idle count
        return TRUE;
    }
    case WM_TIMER:
        if (wParam == kIdleTimer)
            DestroyWindow(h);
        return 0;
    case WM_DESTROY: PostQuitMessage(0); return 0;
    default: return DefWindowProcA(h, msg, wParam, lParam);
    }
}

}  // namespace

int main()
{
    g_idleMs = IdleMilliseconds();
    g_logPath = LogPath();
    if (FindWindowA("TMistrelForm", nullptr))
        return 0;  // a monitor is running already
    WNDCLASSA wc{};
    wc.lpfnWndProc = MonitorProc;
    wc.lpszClassName = "TMistrelForm";
    if (!RegisterClassA(&wc))
        return 1;
    // Never shown: the monitor needs no display, only its class's socket.
    g_window = CreateWindowExA(0, "TMistrelForm", "Mistrel", WS_POPUP, 0, 0, 320, 240, nullptr, nullptr, nullptr,
                               nullptr);
    if (!g_window) {
        std::fprintf(stderr, "Mistrel: cannot create the monitor window\n");
        return 1;
    }
    SetTimer(g_window, kIdleTimer, g_idleMs, nullptr);
    MSG m{};
    while (GetMessageA(&m, nullptr, 0, 0) > 0) {
        TranslateMessage(&m);
        DispatchMessageA(&m);
    }
    return 0;
}
