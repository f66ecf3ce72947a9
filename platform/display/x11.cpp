// The X11 backend: Xlib windows, MIT-SHM or XPutImage presenting, XRandR modes.
#include "platform/display/display.h"
#include "platform/display/frame_copy.h"
#include "platform/display/keymap.h"
#include "platform/display/x11_hooks.h"

// Xlib's event-type macros would rename this enumerator.
namespace platform::display {
constexpr EventKind kExposeEvent = EventKind::Expose;
}

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xrandr.h>
#include <emmintrin.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <set>
#include <thread>

namespace platform::display {
namespace {

// Xlib reports errors through process-wide handlers; they record instead of exiting.
int g_lastError = 0;
bool g_connectionLost = false;

int RecordError(Display*, XErrorEvent* e) {
  g_lastError = e->error_code;
  return 0;
}

int ReportIoError(Display*) {
  if (!g_connectionLost)
    std::fprintf(stderr, "halvora: the connection to the X server was lost\n");
  g_connectionLost = true;
  return 0;
}

void KeepRunning(Display*, void*) { g_connectionLost = true; }

// Channel position of a TrueColor mask: shift of its lowest bit and its width.
struct Channel {
  int shift = 0, bits = 0;
  explicit Channel(unsigned long mask = 0) {
    if (!mask) return;
    while (!(mask & 1)) mask >>= 1, ++shift;
    while (mask & 1) mask >>= 1, ++bits;
  }
  std::uint32_t Pack(std::uint32_t value8) const {
    return bits >= 8 ? value8 << (shift + bits - 8) : (value8 >> (8 - bits)) << shift;
  }
  std::uint32_t Unpack(unsigned long pixel) const {
    if (!bits) return 0;
    const std::uint32_t v = (pixel >> shift) & ((1u << bits) - 1);
    return bits >= 8 ? v >> (bits - 8) : (v * 255 + ((1u << bits) - 1) / 2) / ((1u << bits) - 1);
  }
};

class X11Backend;

// A System V segment attached to the server, handed out as a surface's pixels.
class ShmPixels final : public SharedPixels {
public:
  ShmPixels(X11Backend* owner, const XShmSegmentInfo& shm, std::size_t size) : shm_(shm), owner_(owner) {
    data_ = reinterpret_cast<std::uint8_t*>(shm.shmaddr);
    size_ = size;
  }
  ~ShmPixels() override;
  ShmPixels(const ShmPixels&) = delete;
  ShmPixels& operator=(const ShmPixels&) = delete;

  XShmSegmentInfo shm_{};
  X11Backend* owner_;
  XImage* image_ = nullptr;  // the segment as rows of imagePitch_ bytes, made on first use
  int imagePitch_ = 0;
};

class X11Backend final : public Backend {
  friend class ShmPixels;  // lets the server go of a segment when the pixels are freed

public:
  explicit X11Backend(Display* display) : dpy_(display) {
    screen_ = DefaultScreen(dpy_);
    root_ = RootWindow(dpy_, screen_);
    visual_ = DefaultVisual(dpy_, screen_);
    depth_ = DefaultDepth(dpy_, screen_);
    red_ = Channel(visual_->red_mask);
    green_ = Channel(visual_->green_mask);
    blue_ = Channel(visual_->blue_mask);
    trueColor_ = visual_->c_class == TrueColor && red_.bits && green_.bits && blue_.bits;
    wmDelete_ = XInternAtom(dpy_, "WM_DELETE_WINDOW", False);
    wmProtocols_ = XInternAtom(dpy_, "WM_PROTOCOLS", False);
    Bool supported = False;
    XkbSetDetectableAutoRepeat(dpy_, True, &supported);
    int major = 0, minor = 0;
    Bool pixmaps = False;
    shmAvailable_ = XShmQueryVersion(dpy_, &major, &minor, &pixmaps) && !std::getenv("HALVORA_NO_SHM");
    int rrEvent = 0, rrError = 0;
    randr_ = XRRQueryExtension(dpy_, &rrEvent, &rrError);
  }

  ~X11Backend() override {
    // After a lost connection the windows are gone with the server, but their images and
    // shared segments are ours to free.
    std::vector<NativeId> ids;
    for (const auto& [id, w] : windows_) ids.push_back(id);
    for (NativeId id : ids) DestroyWindow(id);
    // Surfaces may keep their shared pixels longer; the server lets go of them now.
    while (!shared_.empty()) Forget(*shared_.back());
    if (g_connectionLost) return;
    if (blankCursor_) XFreeCursor(dpy_, blankCursor_);
    XCloseDisplay(dpy_);
  }

  const char* Name() const override { return "x11"; }

  void ScreenSize(int& w, int& h) override {
    w = DisplayWidth(dpy_, screen_);
    h = DisplayHeight(dpy_, screen_);
  }

  std::vector<Mode> Modes() override {
    std::vector<Mode> modes;
    if (!g_connectionLost && randr_) {
      if (XRRScreenResources* res = XRRGetScreenResourcesCurrent(dpy_, root_)) {
        for (int i = 0; i < res->nmode; ++i) AddBothDepths(modes, ModeOf(res->modes[i]));
        XRRFreeScreenResources(res);
      }
    }
    AddBothDepths(modes, DesktopMode());
    std::sort(modes.begin(), modes.end(), [](const Mode& a, const Mode& b) {
      return std::tie(a.width, a.height, a.bitsPerPixel, a.refreshHz) <
             std::tie(b.width, b.height, b.bitsPerPixel, b.refreshHz);
    });
    return modes;
  }

  Mode DesktopMode() override {
    Mode mode{};
    ScreenSize(mode.width, mode.height);
    mode.refreshHz = 60;
    mode.bitsPerPixel = depth_ >= 24 ? 32 : 16;
    if (g_connectionLost || !randr_) return mode;
    XRRScreenResources* res = XRRGetScreenResourcesCurrent(dpy_, root_);
    if (!res) return mode;
    RROutput primary = XRRGetOutputPrimary(dpy_, root_);
    for (int i = 0; i < res->ncrtc; ++i) {
      XRRCrtcInfo* crtc = XRRGetCrtcInfo(dpy_, res, res->crtcs[i]);
      if (!crtc) continue;
      const bool onPrimary =
          !primary || std::find(crtc->outputs, crtc->outputs + crtc->noutput, primary) != crtc->outputs + crtc->noutput;
      if (crtc->mode && onPrimary) {
        for (int m = 0; m < res->nmode; ++m)
          if (res->modes[m].id == crtc->mode) mode.refreshHz = ModeOf(res->modes[m]).refreshHz;
        XRRFreeCrtcInfo(crtc);
        break;
      }
      XRRFreeCrtcInfo(crtc);
    }
    XRRFreeScreenResources(res);
    return mode;
  }

  NativeId CreatePopup(int x, int y, int w, int h, const std::string& title) override {
    if (g_connectionLost || w <= 0 || h <= 0) return 0;
    XSetWindowAttributes attrs{};
    attrs.override_redirect = True;
    attrs.background_pixel = BlackPixel(dpy_, screen_);
    attrs.event_mask = KeyPressMask | KeyReleaseMask | ButtonPressMask | ButtonReleaseMask |
                       PointerMotionMask | ExposureMask | StructureNotifyMask;
    const Window win = XCreateWindow(dpy_, root_, x, y, unsigned(w), unsigned(h), 0, CopyFromParent, InputOutput,
                                     CopyFromParent, CWOverrideRedirect | CWBackPixel | CWEventMask, &attrs);
    if (!win) return 0;
    XSetWMProtocols(dpy_, win, &wmDelete_, 1);
    XStoreName(dpy_, win, title.c_str());
    XMapRaised(dpy_, win);
    XSync(dpy_, False);
    windows_[win] = {false, 0, w, h};
    Grab(win);
    return win;
  }

  NativeId CreateChild(NativeId foreignParent, int x, int y, int w, int h) override {
    if (g_connectionLost || !foreignParent || w <= 0 || h <= 0) return 0;
    XWindowAttributes parentAttrs;
    if (!Trapped([&] { return XGetWindowAttributes(dpy_, Window(foreignParent), &parentAttrs) != 0; }))
      return 0;
    XSetWindowAttributes attrs{};
    attrs.background_pixel = BlackPixel(dpy_, screen_);
    attrs.event_mask = ExposureMask | StructureNotifyMask;
    // Inside the root the window stands for the root's own picture: no window manager frames
    // it, and it stays below every other window as the root does.
    const bool onRoot = Window(foreignParent) == root_;
    attrs.override_redirect = onRoot ? True : False;
    Window win = 0;
    const bool created = Trapped([&] {
      win = XCreateWindow(dpy_, Window(foreignParent), x, y, unsigned(w), unsigned(h), 0, CopyFromParent,
                          InputOutput, CopyFromParent, CWBackPixel | CWEventMask | CWOverrideRedirect, &attrs);
      XMapWindow(dpy_, win);
      if (onRoot) XLowerWindow(dpy_, win);
      // Learns of the parent's destruction and size changes.
      XSelectInput(dpy_, Window(foreignParent), StructureNotifyMask);
      return win != 0;
    });
    if (!created) return 0;
    windows_[win] = {true, Window(foreignParent), w, h};
    return win;
  }

  bool ForeignWindowRect(NativeId id, int& x, int& y, int& w, int& h) override {
    if (g_connectionLost || !id) return false;
    XWindowAttributes attrs;
    if (!Trapped([&] { return XGetWindowAttributes(dpy_, Window(id), &attrs) != 0; })) return false;
    x = attrs.x;
    y = attrs.y;
    w = attrs.width;
    h = attrs.height;
    return true;
  }

  NativeId ScreenWindow() override { return g_connectionLost ? 0 : root_; }

  void DestroyWindow(NativeId id) override {
    const auto it = windows_.find(id);
    if (it == windows_.end()) return;
    ReleaseShm(it->second);
    windows_.erase(it);
    if (g_connectionLost) return;
    Trapped([&] {
      XDestroyWindow(dpy_, Window(id));
      return true;
    });
  }

  void SetTitle(NativeId id, const std::string& title) override {
    if (!Ours(id)) return;
    XStoreName(dpy_, Window(id), title.c_str());
    XFlush(dpy_);
  }

  void SetTopmost(NativeId id, bool topmost) override {
    if (!Ours(id) || !topmost) return;
    XRaiseWindow(dpy_, Window(id));
    XFlush(dpy_);
  }

  void MoveResize(NativeId id, int x, int y, int w, int h) override {
    if (!Ours(id) || w <= 0 || h <= 0) return;
    XMoveResizeWindow(dpy_, Window(id), x, y, unsigned(w), unsigned(h));
    XFlush(dpy_);
    windows_[id].w = w;
    windows_[id].h = h;
  }

  void SetCursorVisible(NativeId id, bool visible) override {
    if (!Ours(id)) return;
    if (visible) {
      XUndefineCursor(dpy_, Window(id));
      XFlush(dpy_);
      return;
    }
    if (!blankCursor_) {
      const char bits[1] = {0};
      Pixmap blank = XCreateBitmapFromData(dpy_, root_, bits, 1, 1);
      XColor black{};
      blankCursor_ = XCreatePixmapCursor(dpy_, blank, blank, &black, &black, 0, 0);
      XFreePixmap(dpy_, blank);
    }
    XDefineCursor(dpy_, Window(id), blankCursor_);
    XFlush(dpy_);
  }

  bool Present(NativeId id, const Frame& frame) override {
    if (!Ours(id) || !frame.pixels || frame.width <= 0 || frame.height <= 0 || frame.pitchBytes < frame.width * 4)
      return false;
    if (!trueColor_) {
      RefusePalette();
      return false;
    }
    NativeWindow& win = windows_[id];
    const int w = std::min(frame.width, win.w), h = std::min(frame.height, win.h);
    if (!gc_) gc_ = XCreateGC(dpy_, root_, 0, nullptr);
    if (PresentShared(Window(id), win, frame, w, h)) {
      lastPath_ = x11::PresentPath::SharedPixels;
      return !g_connectionLost;
    }
    if (shmAvailable_ && PresentShm(Window(id), win, frame, w, h)) {
      lastPath_ = x11::PresentPath::SharedMemory;
      return !g_connectionLost;
    }
    if (!PresentPut(Window(id), frame, w, h)) return false;
    lastPath_ = x11::PresentPath::PutImage;
    return true;
  }

  x11::PresentPath LastPath() const { return lastPath_; }

  bool CaptureDesktop(std::vector<std::uint32_t>& pixels, int& w, int& h) override {
    if (g_connectionLost) return false;
    if (!trueColor_) {
      RefusePalette();
      return false;
    }
    ScreenSize(w, h);
    return ReadPixels(root_, 0, 0, w, h, pixels);
  }

  // The xscreensaver daemon, and its settings program for the preview, keep a picture of the
  // desktop as it was before blanking on the window they hand the hack, since the screen is
  // covered by the time the hack starts. It is screen-sized: the part under the window is
  // taken. Without it, the root window under the window.
  bool CaptureWindow(NativeId window, std::vector<std::uint32_t>& pixels, int& w, int& h) override {
    if (g_connectionLost || !window) return false;
    if (!trueColor_) {
      RefusePalette();
      return false;
    }
    XWindowAttributes attrs;
    int x = 0, y = 0;
    Window child = 0;
    if (!Trapped([&] {
          return XGetWindowAttributes(dpy_, Window(window), &attrs) != 0 &&
                 XTranslateCoordinates(dpy_, Window(window), root_, 0, 0, &x, &y, &child) != 0;
        }))
      return false;
    w = attrs.width;
    h = attrs.height;
    if (Window(window) == root_) x = y = 0;
    int pw = 0, ph = 0;
    if (const Pixmap shot = ScreenshotOf(Window(window), pw, ph)) {
      // A picture of the window's own size is the window's part already.
      const int fromX = pw == w && ph == h ? 0 : x, fromY = pw == w && ph == h ? 0 : y;
      if (CaptureRegion(shot, pw, ph, fromX, fromY, w, h, pixels)) return true;
    }
    int sw = 0, sh = 0;
    ScreenSize(sw, sh);
    return CaptureRegion(root_, sw, sh, x, y, w, h, pixels);
  }

  int EventFd() override { return g_connectionLost ? -1 : ConnectionNumber(dpy_); }

  bool NextEvent(Event& out) override {
    if (!g_connectionLost) XSetIOErrorHandler(ReportIoError);
    while (pending_.empty() && !g_connectionLost && XPending(dpy_) > 0) {
      XEvent ev;
      XNextEvent(dpy_, &ev);
      Translate(ev);
    }
    if (pending_.empty()) return false;
    out = pending_.front();
    pending_.pop_front();
    return true;
  }

  bool ConnectionLost() override { return g_connectionLost; }

private:
  struct NativeWindow {
    bool child = false;
    Window parent = 0;
    int w = 0, h = 0;
    XImage* shmImage = nullptr;
    XShmSegmentInfo shm{};
    HeldFrame shmHeld{};  // what the shared image holds
  };

  bool Ours(NativeId id) const { return !g_connectionLost && windows_.count(id); }

  // Runs f with errors recorded; false when it failed or raised an X error.
  // The handlers are process-wide and a toolkit opened later may have replaced them.
  template <typename F>
  bool Trapped(F&& f) {
    if (g_connectionLost) return false;
    XSetErrorHandler(RecordError);
    XSetIOErrorHandler(ReportIoError);
    XSync(dpy_, False);
    g_lastError = 0;
    const bool ok = f();
    XSync(dpy_, False);
    const bool clean = g_lastError == 0 && !g_connectionLost;
    g_lastError = 0;
    return ok && clean;
  }

  // Pixels (x, y) .. (x + w, y + h) of a drawable, A8R8G8B8 top-down.
  bool ReadPixels(Drawable from, int x, int y, int w, int h, std::vector<std::uint32_t>& pixels) {
    if (w <= 0 || h <= 0) return false;
    XImage* image = nullptr;
    Trapped([&] {
      image = XGetImage(dpy_, from, x, y, unsigned(w), unsigned(h), AllPlanes, ZPixmap);
      return image != nullptr;
    });
    if (!image) return false;
    pixels.resize(std::size_t(w) * h);
    if (DirectLayout(image->bits_per_pixel) && image->byte_order == LSBFirst) {
      for (int row = 0; row < h; ++row) {
        const auto* line = reinterpret_cast<const std::uint32_t*>(image->data + std::size_t(row) * image->bytes_per_line);
        for (int col = 0; col < w; ++col) pixels[std::size_t(row) * w + col] = 0xFF000000u | line[col];
      }
    } else {
      for (int row = 0; row < h; ++row)
        for (int col = 0; col < w; ++col) {
          const unsigned long p = XGetPixel(image, col, row);
          pixels[std::size_t(row) * w + col] =
              0xFF000000u | (red_.Unpack(p) << 16) | (green_.Unpack(p) << 8) | blue_.Unpack(p);
        }
    }
    XDestroyImage(image);
    return true;
  }

  // The w x h part at (x, y) of a dw x dh drawable; black beyond its edges.
  bool CaptureRegion(Drawable from, int dw, int dh, int x, int y, int w, int h, std::vector<std::uint32_t>& pixels) {
    const int left = std::max(x, 0), top = std::max(y, 0);
    const int right = std::min(x + w, dw), bottom = std::min(y + h, dh);
    std::vector<std::uint32_t> part;
    if (right <= left || bottom <= top) {
      pixels.assign(std::size_t(w) * h, 0xFF000000u);
      return true;
    }
    if (!ReadPixels(from, left, top, right - left, bottom - top, part)) return false;
    CutOut(part.data(), right - left, bottom - top, x - left, y - top, w, h, pixels);
    return true;
  }

  // The pixmap xscreensaver left on a window, with its size; 0 when there is none usable.
  Pixmap ScreenshotOf(Window window, int& w, int& h) {
    const Atom property = XInternAtom(dpy_, "_SCREENSAVER_SCREENSHOT", True);
    if (property == None) return 0;
    Pixmap shot = 0;
    Trapped([&] {
      Atom type = None;
      int format = 0;
      unsigned long count = 0, after = 0;
      unsigned char* data = nullptr;
      if (XGetWindowProperty(dpy_, window, property, 0, 1, False, XA_PIXMAP, &type, &format, &count, &after,
                             &data) == Success &&
          type == XA_PIXMAP && format == 32 && count == 1 && data)
        shot = Pixmap(reinterpret_cast<unsigned long*>(data)[0]);
      if (data) XFree(data);
      return true;
    });
    Window root = 0;
    int x = 0, y = 0;
    unsigned pw = 0, ph = 0, border = 0, depth = 0;
    // Another client's pixmap: it may be gone already, or hold pixels of another layout.
    if (!shot || !Trapped([&] { return XGetGeometry(dpy_, shot, &root, &x, &y, &pw, &ph, &border, &depth) != 0; }) ||
        int(depth) != depth_ || root != root_)
      return 0;
    w = int(pw);
    h = int(ph);
    return shot;
  }

  bool DirectLayout(int bitsPerPixel) const {
    return bitsPerPixel == 32 && red_.shift == 16 && green_.shift == 8 && blue_.shift == 0 && red_.bits == 8 &&
           green_.bits == 8 && blue_.bits == 8;
  }

  void RefusePalette() {
    if (paletteReported_) return;
    paletteReported_ = true;
    std::fprintf(stderr, "halvora: the X screen has no TrueColor visual (depth %d); frames cannot be shown\n", depth_);
  }

  static Mode ModeOf(const XRRModeInfo& info) {
    Mode mode{int(info.width), int(info.height), 60, 32};
    if (info.hTotal && info.vTotal) {
      double rate = double(info.dotClock) / (double(info.hTotal) * double(info.vTotal));
      if (info.modeFlags & RR_Interlace) rate *= 2;
      if (info.modeFlags & RR_DoubleScan) rate /= 2;
      if (rate >= 1) mode.refreshHz = int(std::lround(rate));
    }
    return mode;
  }

  static void AddBothDepths(std::vector<Mode>& modes, Mode mode) {
    if (mode.width <= 0 || mode.height <= 0) return;
    for (int bits : {16, 32}) {
      mode.bitsPerPixel = bits;
      if (std::find(modes.begin(), modes.end(), mode) == modes.end()) modes.push_back(mode);
    }
  }

  void Grab(Window win) {
    // A fresh override-redirect window may not be viewable yet, and another client may hold
    // the grab for a moment: try a few times.
    bool keyboard = false, pointer = false;
    for (int attempt = 0; attempt < 20 && !(keyboard && pointer); ++attempt) {
      if (!keyboard)
        keyboard = XGrabKeyboard(dpy_, win, True, GrabModeAsync, GrabModeAsync, CurrentTime) == GrabSuccess;
      if (!pointer)
        pointer = XGrabPointer(dpy_, win, True, ButtonPressMask | ButtonReleaseMask | PointerMotionMask,
                               GrabModeAsync, GrabModeAsync, None, None, CurrentTime) == GrabSuccess;
      if (!(keyboard && pointer)) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!keyboard || !pointer)
      std::fprintf(stderr, "halvora: could not grab the %s\n", keyboard ? "pointer" : "keyboard");
  }

  // X8R8G8B8 into the visual's layout; a straight copy for the common 24/32-bit visual.
  // shared: dst is the image the server reads from shared memory.
  void Convert(const Frame& frame, int w, int h, char* dst, int dstPitch, int bitsPerPixel, bool shared,
               const UnchangedRuns* same = nullptr) const {
    const bool direct = DirectLayout(bitsPerPixel);
    for (int y = 0; y < h; ++y) {
      const auto* src = reinterpret_cast<const std::uint32_t*>(reinterpret_cast<const char*>(frame.pixels) +
                                                               std::size_t(y) * frame.pitchBytes);
      char* row = dst + std::size_t(y) * dstPitch;
      if (direct && same) {
        CopyChangedRuns(*same, y, w, src, row);
        continue;
      }
      if (direct) {
        if (shared)
          StreamCopy(row, src, std::size_t(w) * 4);
        else
          std::memcpy(row, src, std::size_t(w) * 4);
        continue;
      }
      for (int x = 0; x < w; ++x) {
        const std::uint32_t p = src[x];
        const std::uint32_t v = red_.Pack((p >> 16) & 0xFF) | green_.Pack((p >> 8) & 0xFF) | blue_.Pack(p & 0xFF);
        if (bitsPerPixel == 32)
          reinterpret_cast<std::uint32_t*>(row)[x] = v;
        else if (bitsPerPixel == 16)
          reinterpret_cast<std::uint16_t*>(row)[x] = std::uint16_t(v);
        else
          std::memcpy(row + x * 3, &v, 3);
      }
    }
  }

  std::unique_ptr<SharedPixels> AllocateSharedPixels(std::size_t bytes) override {
    constexpr std::size_t kMost = std::size_t{1} << 30;
    if (!shmAvailable_ || g_connectionLost || bytes == 0 || bytes > kMost || !trueColor_ || !DirectLayout(32) ||
        depth_ != 24) {
      return nullptr;
    }
    XShmSegmentInfo shm{};
    shm.shmid = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
    if (shm.shmid < 0) return nullptr;
    shm.shmaddr = static_cast<char*>(shmat(shm.shmid, nullptr, 0));
    shm.readOnly = True;  // the server only reads frames
    const bool mapped = shm.shmaddr != reinterpret_cast<char*>(-1);
    const bool attached = mapped && Trapped([&] { return XShmAttach(dpy_, &shm) != 0; });
    shmctl(shm.shmid, IPC_RMID, nullptr);  // freed once both sides detach
    if (!attached) {
      if (mapped) shmdt(shm.shmaddr);
      return nullptr;
    }
    auto pixels = std::make_unique<ShmPixels>(this, shm, bytes);
    shared_.push_back(pixels.get());
    return pixels;
  }

  // The server lets go of the segment; its memory stays ours until the pixels are freed.
  void Forget(ShmPixels& pixels) {
    if (pixels.image_) {
      pixels.image_->data = nullptr;
      XDestroyImage(pixels.image_);
      pixels.image_ = nullptr;
    }
    if (!g_connectionLost) XShmDetach(dpy_, &pixels.shm_);
    pixels.owner_ = nullptr;
    shared_.erase(std::find(shared_.begin(), shared_.end(), &pixels));
  }

  // A frame lying wholly inside shared pixels goes to the server from where it is.
  bool PresentShared(Window id, NativeWindow& win, const Frame& frame, int w, int h) {
    const auto* first = reinterpret_cast<const std::uint8_t*>(frame.pixels);
    const std::size_t pitch = static_cast<std::size_t>(frame.pitchBytes);
    ShmPixels* pixels = nullptr;
    for (ShmPixels* p : shared_) {
      if (first >= p->Data() && first < p->Data() + p->Size()) pixels = p;
    }
    if (!pixels || pitch % 4 != 0) return false;
    const std::size_t offset = static_cast<std::size_t>(first - pixels->Data());
    if (offset % 4 != 0 || offset + (std::size_t(h) - 1) * pitch + std::size_t(w) * 4 > pixels->Size()) return false;
    if (!pixels->image_ || pixels->imagePitch_ != frame.pitchBytes) {
      if (pixels->image_) {
        pixels->image_->data = nullptr;
        XDestroyImage(pixels->image_);
      }
      pixels->image_ = XShmCreateImage(dpy_, visual_, unsigned(depth_), ZPixmap, pixels->shm_.shmaddr, &pixels->shm_,
                                       unsigned(pitch / 4), unsigned(pixels->Size() / pitch));
      pixels->imagePitch_ = frame.pitchBytes;
      if (pixels->image_ && (std::size_t(pixels->image_->bytes_per_line) != pitch ||
                             !DirectLayout(pixels->image_->bits_per_pixel))) {
        pixels->image_->data = nullptr;
        XDestroyImage(pixels->image_);
        pixels->image_ = nullptr;
      }
    }
    if (!pixels->image_) return false;
    win.shmHeld.Forget();  // the window's own image no longer holds the latest frame
    const int srcX = static_cast<int>(offset % pitch / 4), srcY = static_cast<int>(offset / pitch);
    // Synchronous: the caller draws into these pixels again as soon as this returns.
    return Trapped([&] {
      return XShmPutImage(dpy_, id, gc_, pixels->image_, srcX, srcY, 0, 0, unsigned(w), unsigned(h), False) != 0;
    });
  }

  void ReleaseShm(NativeWindow& win) {
    win.shmHeld.Forget();
    if (!win.shmImage) return;
    if (!g_connectionLost) XShmDetach(dpy_, &win.shm);
    XDestroyImage(win.shmImage);
    shmdt(win.shm.shmaddr);
    win.shmImage = nullptr;
  }

  bool PresentShm(Window id, NativeWindow& win, const Frame& frame, int w, int h) {
    if (!win.shmImage || win.shmImage->width < w || win.shmImage->height < h) {
      ReleaseShm(win);
      if (!CreateShmImage(win)) {
        shmAvailable_ = false;  // e.g. a remote server: XPutImage from now on
        return false;
      }
    }
    XImage* image = win.shmImage;
    const UnchangedRuns* same = DirectLayout(image->bits_per_pixel) ? ReusableRuns(win.shmHeld, frame, w, h) : nullptr;
    win.shmHeld.Forget();  // until the image holds the whole of this frame
    Convert(frame, w, h, image->data, image->bytes_per_line, image->bits_per_pixel, true, same);
    _mm_sfence();  // the streamed stores reach memory before the server is asked to read it
    // Synchronous so the shared buffer may be reused at once; errors fall back to XPutImage.
    if (!Trapped([&] { return XShmPutImage(dpy_, id, gc_, image, 0, 0, 0, 0, unsigned(w), unsigned(h), False) != 0; })) {
      ReleaseShm(win);
      shmAvailable_ = false;
      return false;
    }
    win.shmHeld.Took(frame, w, h);
    return true;
  }

  bool CreateShmImage(NativeWindow& win) {
    XImage* image = XShmCreateImage(dpy_, visual_, unsigned(depth_), ZPixmap, nullptr, &win.shm,
                                    unsigned(win.w), unsigned(win.h));
    if (!image) return false;
    win.shm.shmid = shmget(IPC_PRIVATE, std::size_t(image->bytes_per_line) * image->height, IPC_CREAT | 0600);
    if (win.shm.shmid < 0) {
      XDestroyImage(image);
      return false;
    }
    win.shm.shmaddr = image->data = static_cast<char*>(shmat(win.shm.shmid, nullptr, 0));
    win.shm.readOnly = False;
    const bool attached = win.shm.shmaddr != reinterpret_cast<char*>(-1) &&
                          Trapped([&] { return XShmAttach(dpy_, &win.shm) != 0; });
    shmctl(win.shm.shmid, IPC_RMID, nullptr);  // freed once both sides detach
    if (!attached) {
      if (win.shm.shmaddr != reinterpret_cast<char*>(-1)) shmdt(win.shm.shmaddr);
      image->data = nullptr;
      XDestroyImage(image);
      return false;
    }
    win.shmImage = image;
    return true;
  }

  bool PresentPut(Window id, const Frame& frame, int w, int h) {
    XImage* image = XCreateImage(dpy_, visual_, unsigned(depth_), ZPixmap, 0, nullptr, unsigned(w), unsigned(h), 32, 0);
    if (!image) return false;
    std::vector<char> buffer(std::size_t(image->bytes_per_line) * h);
    image->data = buffer.data();
    Convert(frame, w, h, image->data, image->bytes_per_line, image->bits_per_pixel, false);
    XPutImage(dpy_, id, gc_, image, 0, 0, 0, 0, unsigned(w), unsigned(h));
    // A round trip per frame keeps a slow server from piling up frames behind us.
    XSync(dpy_, False);
    image->data = nullptr;
    XDestroyImage(image);
    return !g_connectionLost;
  }

  void Push(EventKind kind, Window win, int x = 0, int y = 0, int button = 0) {
    Event e;
    e.kind = kind;
    e.window = win;
    e.x = x;
    e.y = y;
    e.button = button;
    pending_.push_back(e);
  }

  void Translate(XEvent& ev) {
    switch (ev.type) {
      case KeyPress:
      case KeyRelease: TranslateKey(ev.xkey); break;
      case ButtonPress:
      case ButtonRelease: {
        static const int kButtons[] = {-1, 0, 2, 1};  // X buttons 1..3: left, middle, right
        if (ev.xbutton.button >= 1 && ev.xbutton.button <= 3 && windows_.count(ev.xbutton.window))
          Push(ev.type == ButtonPress ? EventKind::ButtonDown : EventKind::ButtonUp, ev.xbutton.window, ev.xbutton.x,
               ev.xbutton.y, kButtons[ev.xbutton.button]);
        break;
      }
      case MotionNotify:
        if (windows_.count(ev.xmotion.window))
          Push(EventKind::MouseMove, ev.xmotion.window, ev.xmotion.x, ev.xmotion.y);
        break;
      case Expose:
        if (ev.xexpose.count == 0 && windows_.count(ev.xexpose.window)) Push(kExposeEvent, ev.xexpose.window);
        break;
      case ClientMessage:
        if (ev.xclient.message_type == wmProtocols_ && Atom(ev.xclient.data.l[0]) == wmDelete_ &&
            windows_.count(ev.xclient.window))
          Push(EventKind::CloseRequest, ev.xclient.window);
        break;
      case ConfigureNotify: FollowParent(ev.xconfigure); break;
      case DestroyNotify: Destroyed(ev.xdestroywindow.window); break;
      default: break;
    }
  }

  void FollowParent(const XConfigureEvent& ev) {
    for (auto& [id, win] : windows_) {
      if (!win.child || win.parent != ev.window) continue;
      if (win.w == ev.width && win.h == ev.height) continue;
      XResizeWindow(dpy_, Window(id), unsigned(ev.width), unsigned(ev.height));
      win.w = ev.width;
      win.h = ev.height;
      Push(kExposeEvent, Window(id));
    }
  }

  void Destroyed(Window gone) {
    std::vector<NativeId> ended;
    for (auto& [id, win] : windows_)
      if (id == gone || (win.child && win.parent == gone)) ended.push_back(id);
    for (NativeId id : ended) {
      ReleaseShm(windows_[id]);
      windows_.erase(id);
      Push(EventKind::Destroyed, Window(id));
    }
  }

  void TranslateKey(XKeyEvent& key) {
    if (!windows_.count(key.window)) return;
    const bool press = key.type == KeyPress;
    const auto keysym = XLookupKeysym(&key, 0);
    keymap::VirtualKey vk = keymap::FromKeysym(std::uint32_t(keysym));
    if (!vk.vk) {
      // Keys whose unshifted keysym is not in the table may still have a known shifted one.
      vk = keymap::FromKeysym(std::uint32_t(XLookupKeysym(&key, 1)));
      if (!vk.vk) return;
    }
    const bool wasDown = down_.count(key.keycode) != 0;
    if (press)
      down_.insert(key.keycode);
    else
      down_.erase(key.keycode);
    const bool isAlt = vk.vk == 0x12;
    const bool altHeld = (key.state & Mod1Mask) != 0;
    keymap::KeyState state;
    const unsigned nativeScan = keymap::ScanCodeOfKeycode(key.keycode);
    state.scan = !vk.extended && nativeScan ? nativeScan : keymap::ScanCodeOf(vk.vk).code;
    state.extended = vk.extended;
    state.altDown = isAlt ? press : altHeld;
    state.wasDown = press && wasDown;
    state.release = !press;
    Event e;
    e.kind = press ? EventKind::KeyDown : EventKind::KeyUp;
    e.window = key.window;
    e.vk = vk.vk;
    e.sysKey = keymap::IsSysKey(vk.vk, state.altDown || (isAlt && !press));
    e.keyLParam = keymap::KeyLParam(state);
    if (press) {
      char text[8];
      KeySym ignored;
      if (XLookupString(&key, text, sizeof text, &ignored, nullptr) == 1) e.charCode = static_cast<unsigned char>(text[0]);
    }
    e.x = key.x;
    e.y = key.y;
    pending_.push_back(e);
  }

  Display* dpy_;
  int screen_ = 0;
  Window root_ = 0;
  Visual* visual_ = nullptr;
  int depth_ = 24;
  Channel red_, green_, blue_;
  Atom wmDelete_ = 0, wmProtocols_ = 0;
  bool shmAvailable_ = false;
  bool trueColor_ = false;
  bool paletteReported_ = false;
  x11::PresentPath lastPath_ = x11::PresentPath::NoFrame;
  std::vector<ShmPixels*> shared_;  // alive, attached to the server
  bool randr_ = false;
  GC gc_ = nullptr;
  Cursor blankCursor_ = 0;
  std::map<NativeId, NativeWindow> windows_;
  std::set<unsigned> down_;
  std::deque<Event> pending_;
};

ShmPixels::~ShmPixels() {
  if (owner_) owner_->Forget(*this);
  shmdt(shm_.shmaddr);
}

}  // namespace

x11::PresentPath x11::LastPresentPath(Backend& backend) {
  auto* x = dynamic_cast<X11Backend*>(&backend);
  return x ? x->LastPath() : PresentPath::NoFrame;
}

std::unique_ptr<Backend> CreateX11(const char* displayName) {
  XSetErrorHandler(RecordError);
  XSetIOErrorHandler(ReportIoError);
  Display* display = XOpenDisplay(displayName);
  if (!display) return nullptr;
  XSetIOErrorExitHandler(display, KeepRunning, nullptr);
  g_connectionLost = false;
  return std::make_unique<X11Backend>(display);
}

}  // namespace platform::display
