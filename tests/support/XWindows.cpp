#include "tests/support/XWindows.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xdamage.h>
#include <poll.h>

#include <algorithm>
#include <filesystem>

namespace test {

namespace {

using Clock = std::chrono::steady_clock;

// A window may vanish between listing and looking at it: such errors are not the test's.
int IgnoreErrors(Display*, XErrorEvent*) {
  return 0;
}

// A connection to the test display of its own, closed with the object.
struct Connection {
  explicit Connection(const VirtualDisplay& display) : dpy(XOpenDisplay(display.Name().c_str())) {
    XSetErrorHandler(IgnoreErrors);
  }
  ~Connection() {
    if (dpy != nullptr) XCloseDisplay(dpy);
  }
  Display* dpy;
};

std::vector<WindowInfo> Windows(Display* dpy, const std::string& title) {
  std::vector<WindowInfo> found;
  Window root, parent, *children = nullptr;
  unsigned count = 0;
  if (XQueryTree(dpy, DefaultRootWindow(dpy), &root, &parent, &children, &count) == 0) return found;
  for (unsigned i = 0; i < count; ++i) {
    XWindowAttributes a{};
    char* name = nullptr;
    if (XGetWindowAttributes(dpy, children[i], &a) != 0 && a.map_state == IsViewable &&
        XFetchName(dpy, children[i], &name) != 0 && name != nullptr && title == name)
      found.push_back({children[i], a.x, a.y, a.width, a.height});
    if (name != nullptr) XFree(name);
  }
  if (children != nullptr) XFree(children);
  return found;
}

// Waits until the display sends an event or `deadline` passes, and drains what came; false on
// time-out.
bool AwaitEvent(Display* dpy, Clock::time_point deadline) {
  if (XPending(dpy) == 0) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    pollfd p{ConnectionNumber(dpy), POLLIN, 0};
    if (left.count() <= 0 || poll(&p, 1, int(left.count())) == 0) return false;
  }
  while (XPending(dpy) > 0) {
    XEvent event;
    XNextEvent(dpy, &event);
  }
  return true;
}

// Asks the display to send an event for every drawing into `window` (the DAMAGE extension).
void WatchDrawing(Display* dpy, Window window) {
  int firstEvent = 0, firstError = 0;
  if (XDamageQueryExtension(dpy, &firstEvent, &firstError) == 0) return;
  XDamageCreate(dpy, window, XDamageReportRawRectangles);
  XSync(dpy, False);
}

Picture TakePicture(Display* dpy, unsigned long window, int left, int top, int width, int height) {
  Picture picture{left, top, 0, 0, {}, 0};
  XImage* image =
      XGetImage(dpy, window, left, top, unsigned(width), unsigned(height), AllPlanes, ZPixmap);
  if (image == nullptr) return picture;
  picture.width = width;
  picture.height = height;
  picture.grey.resize(std::size_t(width * height));
  std::vector<int> counts(256, 0);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      unsigned long pixel = XGetPixel(image, x, y);
      unsigned r = (pixel >> 16) & 0xFF, g = (pixel >> 8) & 0xFF, b = pixel & 0xFF;
      ++counts[(r + g + b) / 3];
      picture.grey[std::size_t(y * width + x)] = static_cast<unsigned char>((r + g + b) / 3);
    }
  XDestroyImage(image);
  picture.background = int(std::max_element(counts.begin(), counts.end()) - counts.begin());
  return picture;
}

}  // namespace

std::vector<WindowInfo> FindWindows(const VirtualDisplay& display, const std::string& title) {
  Connection c(display);
  return c.dpy == nullptr ? std::vector<WindowInfo>{} : Windows(c.dpy, title);
}

std::optional<std::vector<WindowInfo>> WaitForWindows(
    const VirtualDisplay& display, const std::string& title,
    const std::function<bool(const std::vector<WindowInfo>&)>& done,
    std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  Connection c(display);
  if (c.dpy == nullptr) return std::nullopt;
  // Selected before the first look, so no change between the look and the wait goes unseen.
  XSelectInput(c.dpy, DefaultRootWindow(c.dpy), SubstructureNotifyMask);
  XSync(c.dpy, False);
  do {
    std::vector<WindowInfo> windows = Windows(c.dpy, title);
    if (done(windows)) return windows;
  } while (AwaitEvent(c.dpy, deadline));
  return std::nullopt;
}

WindowInfo WaitForWindow(const VirtualDisplay& display, const std::string& title, int width,
                         int height, std::chrono::milliseconds timeout, bool sameSize) {
  auto match = [&](const WindowInfo& w) {
    return (w.width == width && w.height == height) == sameSize;
  };
  auto windows = WaitForWindows(
      display, title,
      [&](const std::vector<WindowInfo>& all) {
        return std::any_of(all.begin(), all.end(), match);
      },
      timeout);
  return windows ? *std::find_if(windows->begin(), windows->end(), match) : WindowInfo{};
}

bool WaitForWindowCount(const VirtualDisplay& display, const std::string& title, std::size_t count,
                        std::chrono::milliseconds timeout) {
  return WaitForWindows(
             display, title,
             [&](const std::vector<WindowInfo>& all) { return all.size() == count; }, timeout)
      .has_value();
}

bool SendCloseRequest(const VirtualDisplay& display, unsigned long window) {
  Connection c(display);
  if (c.dpy == nullptr) return false;
  XEvent ev{};
  ev.xclient.type = ClientMessage;
  ev.xclient.window = window;
  ev.xclient.message_type = XInternAtom(c.dpy, "WM_PROTOCOLS", False);
  ev.xclient.format = 32;
  ev.xclient.data.l[0] = long(XInternAtom(c.dpy, "WM_DELETE_WINDOW", False));
  ev.xclient.data.l[1] = CurrentTime;
  Status ok = XSendEvent(c.dpy, window, False, NoEventMask, &ev);
  XSync(c.dpy, False);
  return ok != 0;
}

bool SaveScreenshot(const VirtualDisplay& display, unsigned long window, const std::string& path) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  return display.Run("import -window " + std::to_string(window) + " '" + path + "'") == 0;
}

bool ClickAt(const VirtualDisplay& display, unsigned long window, int x, int y) {
  return display.Run("xdotool mousemove --window " + std::to_string(window) + " " +
                     std::to_string(x) + " " + std::to_string(y) + " click 1") == 0;
}

bool PressKeys(const VirtualDisplay& display, unsigned long window, const std::string& keys) {
  return display.Run("xdotool windowfocus --sync " + std::to_string(window) + " key --delay 50 " +
                     keys) == 0;
}

std::pair<std::string, std::string> WindowClass(const VirtualDisplay& display,
                                                unsigned long window) {
  std::pair<std::string, std::string> result;
  Connection c(display);
  XClassHint hint{};
  if (c.dpy != nullptr && XGetClassHint(c.dpy, window, &hint) != 0) {
    if (hint.res_name != nullptr) result.first = hint.res_name;
    if (hint.res_class != nullptr) result.second = hint.res_class;
    XFree(hint.res_name);
    XFree(hint.res_class);
  }
  return result;
}

std::pair<int, int> Picture::InkColumns(int fromRow, int toRow) const {
  int first = -1, last = -1;
  for (int y = std::max(fromRow, top); y <= std::min(toRow, top + height - 1); ++y)
    for (int x = left; x < left + width; ++x)
      if (Ink(x, y)) {
        if (first < 0 || x < first) first = x;
        if (x > last) last = x;
      }
  return {first, last};
}

std::vector<std::pair<int, int>> Picture::InkRowBands() const {
  std::vector<std::pair<int, int>> bands;
  for (int y = top; y < top + height; ++y) {
    if (InkColumns(y, y).first < 0) continue;
    if (!bands.empty() && bands.back().second == y - 1)
      bands.back().second = y;
    else
      bands.push_back({y, y});
  }
  return bands;
}

Picture WaitForInk(const VirtualDisplay& display, unsigned long window, int left, int top,
                   int width, int height, std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  Connection c(display);
  if (c.dpy == nullptr) return Picture{left, top, 0, 0, {}, 0};
  WatchDrawing(c.dpy, window);
  for (;;) {
    Picture picture = TakePicture(c.dpy, window, left, top, width, height);
    if (!picture.grey.empty() && picture.InkColumns(top, top + height - 1).first >= 0)
      return picture;
    if (!AwaitEvent(c.dpy, deadline)) return picture;
  }
}

}  // namespace test
