// A stand-in for the debug monitor in tests: it takes the monitor's window class, writes each
// WM_COPYDATA record it receives to $MONITOR_PROBE_OUT as "dwData cbData hex-bytes" and ends
// after the first one (or after ten idle seconds).
#include "platform/win/windows.h"

#include <cstdio>
#include <cstdlib>

namespace {

constexpr UINT_PTR kIdleTimer = 1;

LRESULT CALLBACK ProbeProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_COPYDATA: {
        const auto* cds = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        const char* path = std::getenv("MONITOR_PROBE_OUT");
        if (FILE* out = path ? std::fopen(path, "a") : nullptr) {
            std::fprintf(out, "%lu %lu ", static_cast<unsigned long>(cds->dwData), static_cast<unsigned long>(cds->cbData));
            const auto* bytes = static_cast<const unsigned char*>(cds->lpData);
            for (DWORD i = 0; bytes && i < cds->cbData; ++i)
                std::fprintf(out, "%02x", bytes[i]);
            std::fprintf(out, "\n");
            std::fclose(out);
        }
        DestroyWindow(h);
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
    WNDCLASSA wc{};
    wc.lpfnWndProc = ProbeProc;
    wc.lpszClassName = "TMistrelForm";
    if (!RegisterClassA(&wc))
        return 1;
    HWND window = CreateWindowExA(0, "TMistrelForm", "Probe", WS_POPUP, 0, 0, 8, 8, nullptr, nullptr, nullptr, nullptr);
    if (!window)
        return 1;
    SetTimer(window, kIdleTimer, 10000, nullptr);
    MSG m{};
    while (GetMessageA(&m, nullptr, 0, 0) > 0)
        DispatchMessageA(&m);
    return 0;
}
