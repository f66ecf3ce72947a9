// windemo: the smallest program on the window and device stand-ins. Opens a popup over the
// screen (or a child inside another program's window with /p HANDLE), prints the keys and
// clicks it gets, draws an animated pattern every frame and quits on Escape.
//
//   windemo [/s [WIDTHxHEIGHT]]      popup at the screen origin, cursor hidden
//   windemo /p HANDLE                child covering the window HANDLE (decimal or 0x hex)

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/d3d8/d3d8.h"
#include "platform/win/windows.h"

namespace {

constexpr const char* kClassName = "WinDemoWindow";

IDirect3D8* g_d3d = nullptr;
IDirect3DDevice8* g_device = nullptr;
HWND g_window = nullptr;
unsigned g_frames = 0;
int g_width = 0, g_height = 0;

struct Options {
    bool preview = false;
    HWND parent = nullptr;
    int width = 0, height = 0;  // 0: the screen's
};

void Say(const char* format, unsigned a = 0, unsigned b = 0, unsigned c = 0)
{
    std::printf(format, a, b, c);
    std::printf("\n");
    std::fflush(stdout);
}

bool ParseSize(const char* text, int& w, int& h)
{
    char tail = 0;
    return std::sscanf(text, "%dx%d%c", &w, &h, &tail) == 2 && w > 0 && h > 0 && w <= 16384 && h <= 16384;
}

bool ParseHandle(const char* text, HWND& out)
{
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text, &end, 0);
    if (!*text || *end || value == 0 || value > 0xFFFFFFFFull)
        return false;
    out = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(value));
    return true;
}

bool ParseArguments(int argc, char** argv, Options& o)
{
    if (argc < 2)
        return true;
    const std::string mode = argv[1];
    if (mode == "/p" || mode == "-p")
        return argc == 3 && ParseHandle(argv[2], o.parent) && (o.preview = true);
    if (mode == "/s" || mode == "-s")
        return argc == 2 || (argc == 3 && ParseSize(argv[2], o.width, o.height));
    return false;
}

// Bands that scroll and change colour with the frame number, and a square that bounces.
void DrawFrame()
{
    const unsigned t = g_frames;
    g_device->Clear(0, nullptr, D3DCLEAR_TARGET, D3DCOLOR_XRGB(16, 24, 48), 1.0f, 0);
    const int band = g_height / 8 > 0 ? g_height / 8 : 1;
    for (int i = 0; i < 8; ++i) {
        const LONG y1 = static_cast<LONG>((i * band + t * 2) % (8 * band));
        const D3DRECT r{0, y1, g_width / 4, y1 + band / 2};
        const unsigned c = (t * 3 + i * 32) & 0xFF;
        g_device->Clear(1, &r, D3DCLEAR_TARGET, D3DCOLOR_XRGB(c, 255 - c, (i * 40) & 0xFF), 1.0f, 0);
    }
    const int side = (g_height < g_width ? g_height : g_width) / 4;
    const int spanX = g_width - side > 0 ? g_width - side : 1, spanY = g_height - side > 0 ? g_height - side : 1;
    const int px = static_cast<int>(t * 3 % (2 * spanX)), py = static_cast<int>(t * 2 % (2 * spanY));
    const LONG x = px < spanX ? px : 2 * spanX - px, y = py < spanY ? py : 2 * spanY - py;
    const D3DRECT square{x, y, x + side, y + side};
    g_device->Clear(1, &square, D3DCLEAR_TARGET, D3DCOLOR_XRGB(255, 200, 40), 1.0f, 0);
    g_device->Present(nullptr, nullptr, nullptr, nullptr);
    if (++g_frames == 1)
        Say("first frame %ux%u", static_cast<unsigned>(g_width), static_cast<unsigned>(g_height));
}

const char* ButtonName(UINT message)
{
    switch (message) {
    case WM_LBUTTONDOWN: return "left down";
    case WM_LBUTTONUP: return "left up";
    case WM_RBUTTONDOWN: return "right down";
    case WM_RBUTTONUP: return "right up";
    case WM_MBUTTONDOWN: return "middle down";
    default: return "middle up";
    }
}

LRESULT CALLBACK WindowProc(HWND h, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_PAINT:
        if (g_device)
            DrawFrame();
        Sleep(15);
        return 0;  // never validated: frames keep coming
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
        Say(message == WM_KEYDOWN ? "key down 0x%02X lParam 0x%08X" : "sys key down 0x%02X lParam 0x%08X",
            static_cast<unsigned>(wParam), static_cast<unsigned>(lParam));
        if (wParam == VK_ESCAPE)
            DestroyWindow(h);
        return 0;
    case WM_KEYUP:
    case WM_SYSKEYUP:
        Say(message == WM_KEYUP ? "key up 0x%02X" : "sys key up 0x%02X", static_cast<unsigned>(wParam));
        return 0;
    case WM_CHAR: Say("char 0x%02X", static_cast<unsigned>(wParam)); return 0;
    case WM_MOUSEMOVE:
        Say("move %u %u", static_cast<unsigned>(GET_X_LPARAM(lParam)), static_cast<unsigned>(GET_Y_LPARAM(lParam)));
        return 0;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
    case WM_MBUTTONDOWN:
    case WM_MBUTTONUP:
        std::printf("%s %d %d\n", ButtonName(message), GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
        std::fflush(stdout);
        return 0;
    case WM_DESTROY:
        Say("closed after %u frames", g_frames);
        PostQuitMessage(0);
        return 0;
    default: return DefWindowProcA(h, message, wParam, lParam);
    }
}

HWND OpenWindow(const Options& o)
{
    WNDCLASSA wc{};
    wc.lpfnWndProc = WindowProc;
    wc.lpszClassName = kClassName;
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    if (!RegisterClassA(&wc))
        return nullptr;
    if (o.preview) {
        RECT r{};
        if (!GetWindowRect(o.parent, &r)) {
            std::fprintf(stderr, "windemo: no window 0x%lx to show the preview in\n",
                         static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(o.parent)));
            return nullptr;
        }
        return CreateWindowExA(0, kClassName, "windemo", WS_CHILD | WS_VISIBLE | WS_DISABLED, 0, 0, r.right - r.left,
                               r.bottom - r.top, o.parent, nullptr, nullptr, nullptr);
    }
    const int w = o.width ? o.width : GetSystemMetrics(SM_CXSCREEN);
    const int h = o.height ? o.height : GetSystemMetrics(SM_CYSCREEN);
    HWND window = CreateWindowExA(0, kClassName, "windemo", WS_POPUP | WS_VISIBLE, 0, 0, w, h, nullptr, nullptr,
                                  nullptr, nullptr);
    if (window)
        SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOREDRAW);
    return window;
}

bool OpenDevice()
{
    g_d3d = Direct3DCreate8(D3D_SDK_VERSION);
    if (!g_d3d)
        return false;
    D3DDISPLAYMODE desktop{};
    g_d3d->GetAdapterDisplayMode(D3DADAPTER_DEFAULT, &desktop);
    RECT client{};
    GetClientRect(g_window, &client);
    g_width = client.right;
    g_height = client.bottom;
    D3DPRESENT_PARAMETERS pp{};
    pp.BackBufferWidth = static_cast<UINT>(g_width);
    pp.BackBufferHeight = static_cast<UINT>(g_height);
    pp.BackBufferFormat = desktop.Format;
    pp.BackBufferCount = 1;
    pp.SwapEffect = D3DSWAPEFFECT_COPY;
    pp.hDeviceWindow = g_window;
    pp.Windowed = TRUE;
    const HRESULT hr = g_d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, g_window,
                                           D3DCREATE_SOFTWARE_VERTEXPROCESSING, &pp, &g_device);
    if (FAILED(hr)) {
        std::fprintf(stderr, "windemo: CreateDevice failed (0x%08X)\n", static_cast<unsigned>(hr));
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!ParseArguments(argc, argv, options)) {
        std::fprintf(stderr, "usage: windemo [/s [WIDTHxHEIGHT]] | /p HANDLE\n");
        return 2;
    }
    g_window = OpenWindow(options);
    if (!g_window) {
        std::fprintf(stderr, "windemo: the window could not be created\n");
        return 1;
    }
    if (!OpenDevice()) {
        DestroyWindow(g_window);
        return 1;
    }
    Say(options.preview ? "preview open" : "popup open");
    if (!options.preview)
        ShowCursor(FALSE);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    if (!options.preview)
        ShowCursor(TRUE);
    if (g_device)
        g_device->Release();
    if (g_d3d)
        g_d3d->Release();
    return 0;
}
