#include "tests/x11/x11_test_support.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xrandr.h>
#ifdef HALVORA_HAVE_XTEST
#include <X11/extensions/XTest.h>
#include <X11/extensions/Xfixes.h>
#endif

// Xlib's Status macro would rename the child record's field.
#undef Status

#include <poll.h>
#include <unistd.h>

#include <csignal>
#include <thread>

#include "tests/e2e/xvfb.h"

namespace x11test {
namespace {

int CountBits(unsigned long mask)
{
    int n = 0;
    for (; mask; mask >>= 1)
        n += int(mask & 1);
    return n;
}

int ShiftOf(unsigned long mask)
{
    int s = 0;
    while (mask && !(mask & 1))
        mask >>= 1, ++s;
    return s;
}

std::uint32_t Widen(unsigned long pixel, unsigned long mask)
{
    const int bits = CountBits(mask);
    if (!bits)
        return 0;
    const std::uint32_t v = std::uint32_t((pixel & mask) >> ShiftOf(mask));
    return bits >= 8 ? v >> (bits - 8) : (v * 255 + ((1u << bits) - 1) / 2) / ((1u << bits) - 1);
}

unsigned long Narrow(std::uint32_t v8, unsigned long mask)
{
    const int bits = CountBits(mask);
    return (bits >= 8 ? v8 << (bits - 8) : v8 >> (8 - bits)) << ShiftOf(mask);
}

}  // namespace

bool InputInjectionBuiltIn()
{
#ifdef HALVORA_HAVE_XTEST
    return true;
#else
    return false;
#endif
}

PrivateServer::PrivateServer(int width, int height, int depth)
{
    name_ = StartXvfb(width, height, depth, server_, problem_);
}

PrivateServer::~PrivateServer()
{
    if (server_.Pid > 0 && server_.Status < 0) {
        kill(server_.Pid, SIGTERM);
        WaitProgram(server_, 5000);
    }
}

void PrivateServer::Kill()
{
    if (server_.Pid > 0 && server_.Status < 0) {
        kill(server_.Pid, SIGKILL);
        WaitProgram(server_, 5000);
    }
}

Client::Client(const std::string& display) { dpy_ = XOpenDisplay(display.c_str()); }

Client::~Client()
{
    if (dpy_)
        XCloseDisplay(dpy_);
}

int Client::Depth() const { return DefaultDepth(dpy_, DefaultScreen(dpy_)); }
std::uint64_t Client::Root() const { return DefaultRootWindow(dpy_); }

int Client::RedBits() const { return CountBits(DefaultVisual(dpy_, DefaultScreen(dpy_))->red_mask); }

std::uint64_t Client::CreateWindow(int x, int y, int w, int h)
{
    XSetWindowAttributes attrs{};
    attrs.override_redirect = True;
    attrs.background_pixel = WhitePixel(dpy_, DefaultScreen(dpy_));
    const Window win = XCreateWindow(dpy_, DefaultRootWindow(dpy_), x, y, unsigned(w), unsigned(h), 0, CopyFromParent,
                                     InputOutput, CopyFromParent, CWOverrideRedirect | CWBackPixel, &attrs);
    XMapWindow(dpy_, win);
    XSync(dpy_, False);
    return win;
}

void Client::DestroyWindow(std::uint64_t id)
{
    XDestroyWindow(dpy_, Window(id));
    XSync(dpy_, False);
}

void Client::Resize(std::uint64_t id, int w, int h)
{
    XResizeWindow(dpy_, Window(id), unsigned(w), unsigned(h));
    XSync(dpy_, False);
}

bool Client::Info(std::uint64_t id, WindowInfo& out)
{
    XWindowAttributes a;
    if (!XGetWindowAttributes(dpy_, Window(id), &a))
        return false;
    Window child = 0;
    XTranslateCoordinates(dpy_, Window(id), DefaultRootWindow(dpy_), 0, 0, &out.rootX, &out.rootY, &child);
    out.width = a.width;
    out.height = a.height;
    out.viewable = a.map_state == IsViewable;
    out.overrideRedirect = a.override_redirect;
    out.allEventMasks = a.all_event_masks;
    return true;
}

std::uint64_t Client::TopmostWindow()
{
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    std::uint64_t top = 0;
    if (!XQueryTree(dpy_, DefaultRootWindow(dpy_), &root, &parent, &children, &count))
        return 0;
    for (unsigned i = count; i-- > 0 && !top;) {
        XWindowAttributes a;
        if (XGetWindowAttributes(dpy_, children[i], &a) && a.map_state == IsViewable)
            top = children[i];
    }
    if (children)
        XFree(children);
    return top;
}

bool Client::KeyboardGrabbedElsewhere()
{
    const int status = XGrabKeyboard(dpy_, DefaultRootWindow(dpy_), False, GrabModeAsync, GrabModeAsync, CurrentTime);
    if (status == GrabSuccess)
        XUngrabKeyboard(dpy_, CurrentTime);
    XSync(dpy_, False);
    return status == AlreadyGrabbed;
}

bool Client::PointerGrabbedElsewhere()
{
    const int status = XGrabPointer(dpy_, DefaultRootWindow(dpy_), False, ButtonPressMask, GrabModeAsync,
                                    GrabModeAsync, None, None, CurrentTime);
    if (status == GrabSuccess)
        XUngrabPointer(dpy_, CurrentTime);
    XSync(dpy_, False);
    return status == AlreadyGrabbed;
}

#ifdef HALVORA_HAVE_XTEST
void Client::Key(unsigned long keysym, bool press)
{
    XTestFakeKeyEvent(dpy_, XKeysymToKeycode(dpy_, KeySym(keysym)), press, CurrentTime);
    XSync(dpy_, False);
}

void Client::MoveTo(int x, int y)
{
    XTestFakeMotionEvent(dpy_, DefaultScreen(dpy_), x, y, CurrentTime);
    XSync(dpy_, False);
}

void Client::Button(unsigned button, bool press)
{
    XTestFakeButtonEvent(dpy_, button, press, CurrentTime);
    XSync(dpy_, False);
}

bool Client::CursorInvisible()
{
    XFixesCursorImage* image = XFixesGetCursorImage(dpy_);
    if (!image)
        return false;
    bool invisible = true;
    for (std::size_t i = 0; i < std::size_t(image->width) * image->height; ++i)
        if (image->pixels[i] & 0xFF000000u)
            invisible = false;
    XFree(image);
    return invisible;
}
#else
void Client::Key(unsigned long, bool) {}
void Client::MoveTo(int, int) {}
void Client::Button(unsigned, bool) {}
bool Client::CursorInvisible() { return false; }
#endif

void Client::SendDeleteWindow(std::uint64_t id)
{
    XEvent ev{};
    ev.xclient.type = ClientMessage;
    ev.xclient.window = Window(id);
    ev.xclient.message_type = XInternAtom(dpy_, "WM_PROTOCOLS", False);
    ev.xclient.format = 32;
    ev.xclient.data.l[0] = long(XInternAtom(dpy_, "WM_DELETE_WINDOW", False));
    ev.xclient.data.l[1] = CurrentTime;
    XSendEvent(dpy_, Window(id), False, NoEventMask, &ev);
    XSync(dpy_, False);
}

void Client::Sync() { XSync(dpy_, False); }

bool Client::ReadBack(std::uint64_t id, int w, int h, std::vector<std::uint32_t>& argb)
{
    XImage* image = XGetImage(dpy_, Window(id), 0, 0, unsigned(w), unsigned(h), AllPlanes, ZPixmap);
    if (!image)
        return false;
    const Visual* v = DefaultVisual(dpy_, DefaultScreen(dpy_));
    argb.resize(std::size_t(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const unsigned long p = XGetPixel(image, x, y);
            argb[std::size_t(y) * w + x] = 0xFF000000u | Widen(p, v->red_mask) << 16 | Widen(p, v->green_mask) << 8 |
                                           Widen(p, v->blue_mask);
        }
    XDestroyImage(image);
    return true;
}

namespace {

bool Paint(Display* dpy, Drawable target, int depth, const std::vector<std::uint32_t>& xrgb, int w, int h)
{
    Visual* v = DefaultVisual(dpy, DefaultScreen(dpy));
    XImage* image = XCreateImage(dpy, v, unsigned(depth), ZPixmap, 0, nullptr, unsigned(w), unsigned(h), 32, 0);
    if (!image)
        return false;
    std::vector<char> data(std::size_t(image->bytes_per_line) * h);
    image->data = data.data();
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const std::uint32_t p = xrgb[std::size_t(y) * w + x];
            XPutPixel(image, x, y,
                      Narrow((p >> 16) & 0xFF, v->red_mask) | Narrow((p >> 8) & 0xFF, v->green_mask) |
                          Narrow(p & 0xFF, v->blue_mask));
        }
    GC gc = XCreateGC(dpy, target, 0, nullptr);
    XPutImage(dpy, target, gc, image, 0, 0, 0, 0, unsigned(w), unsigned(h));
    XFreeGC(dpy, gc);
    XSync(dpy, False);
    image->data = nullptr;
    XDestroyImage(image);
    return true;
}

}  // namespace

bool Client::PaintRoot(const std::vector<std::uint32_t>& xrgb, int w, int h)
{
    return Paint(dpy_, DefaultRootWindow(dpy_), Depth(), xrgb, w, h);
}

std::uint64_t Client::LeaveScreenshot(std::uint64_t window, const std::vector<std::uint32_t>& xrgb, int w, int h)
{
    const Pixmap shot = XCreatePixmap(dpy_, DefaultRootWindow(dpy_), unsigned(w), unsigned(h), unsigned(Depth()));
    if (!Paint(dpy_, shot, Depth(), xrgb, w, h))
        return 0;
    NameScreenshot(window, shot);
    return shot;
}

void Client::NameScreenshot(std::uint64_t window, std::uint64_t pixmap)
{
    const Atom property = XInternAtom(dpy_, "_SCREENSAVER_SCREENSHOT", False);
    const unsigned long value = pixmap;
    XChangeProperty(dpy_, Window(window), property, XA_PIXMAP, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&value), 1);
    XSync(dpy_, False);
}

bool Client::AddMode(const std::string& name, int w, int h, unsigned long dotClock, int hTotal, int vTotal)
{
    int major = 0, minor = 0;
    if (!XRRQueryVersion(dpy_, &major, &minor) || (major == 1 && minor < 2))
        return false;
    XRRModeInfo info{};
    info.width = unsigned(w);
    info.height = unsigned(h);
    info.dotClock = dotClock;
    info.hSyncStart = unsigned(w) + 8;
    info.hSyncEnd = unsigned(w) + 16;
    info.hTotal = unsigned(hTotal);
    info.vSyncStart = unsigned(h) + 2;
    info.vSyncEnd = unsigned(h) + 4;
    info.vTotal = unsigned(vTotal);
    std::string copy = name;
    info.name = copy.data();
    info.nameLength = unsigned(copy.size());
    const RRMode mode = XRRCreateMode(dpy_, DefaultRootWindow(dpy_), &info);
    XSync(dpy_, False);
    return mode != 0;
}

bool WaitFor(const std::function<bool()>& poll, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!poll()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

}  // namespace x11test
