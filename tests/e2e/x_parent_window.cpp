// Xlib stays out of the test files: its macros (None, Bool, Status) clash with gtest.
#include "tests/e2e/xvfb.h"

#include <X11/Xlib.h>

namespace {
Display* Native(void* display) { return static_cast<Display*>(display); }
}  // namespace

TXParentWindow::TXParentWindow(const std::string& display, int width, int height, int x, int y,
                               unsigned long background)
{
    Display* native = XOpenDisplay(display.c_str());
    if (!native)
        return;
    display_ = native;
    id_ = XCreateSimpleWindow(native, DefaultRootWindow(native), x, y, static_cast<unsigned>(width),
                              static_cast<unsigned>(height), 0, 0, background);
    XMapWindow(native, id_);
    XSync(native, False);
}

TXParentWindow::~TXParentWindow()
{
    Destroy();
    if (display_)
        XCloseDisplay(Native(display_));
}

int TXParentWindow::ChildCount(int* width, int* height) const
{
    if (!display_ || !id_)
        return -1;
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(Native(display_), id_, &root, &parent, &children, &count))
        return -1;
    XWindowAttributes attributes{};
    if (count > 0 && width && height && XGetWindowAttributes(Native(display_), children[0], &attributes)) {
        *width = attributes.width;
        *height = attributes.height;
    }
    if (children)
        XFree(children);
    return static_cast<int>(count);
}

void TXParentWindow::Destroy()
{
    if (!display_ || !id_)
        return;
    XDestroyWindow(Native(display_), id_);
    XSync(Native(display_), False);
    id_ = 0;
}
