#include "tests/support/XWindows.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <thread>

namespace test {

std::vector<WindowInfo> FindWindows(const VirtualDisplay& display, const std::string& title) {
  std::string out;
  std::vector<WindowInfo> found;
  if (display.Run("xdotool search --onlyvisible --name '^" + title + "$'", &out) != 0) return found;
  std::istringstream ids(out);
  unsigned long id;
  while (ids >> id) {
    std::string geo;
    if (display.Run("xdotool getwindowgeometry --shell " + std::to_string(id), &geo) != 0) continue;
    WindowInfo w;
    w.id = id;
    std::istringstream lines(geo);
    std::string line;
    while (std::getline(lines, line)) {
      std::size_t eq = line.find('=');
      if (eq == std::string::npos) continue;
      std::string key = line.substr(0, eq);
      int value = std::atoi(line.c_str() + eq + 1);
      if (key == "X") w.x = value;
      if (key == "Y") w.y = value;
      if (key == "WIDTH") w.width = value;
      if (key == "HEIGHT") w.height = value;
    }
    found.push_back(w);
  }
  return found;
}

namespace {
template <typename Pred>
WindowInfo WaitFor(const VirtualDisplay& display, const std::string& title, Pred pred,
                   std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  do {
    for (const WindowInfo& w : FindWindows(display, title))
      if (pred(w)) return w;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  } while (std::chrono::steady_clock::now() < deadline);
  return {};
}
}  // namespace

WindowInfo WaitForWindow(const VirtualDisplay& display, const std::string& title, int width,
                         int height, std::chrono::milliseconds timeout) {
  return WaitFor(
      display, title, [&](const WindowInfo& w) { return w.width == width && w.height == height; },
      timeout);
}

WindowInfo WaitForOtherWindow(const VirtualDisplay& display, const std::string& title, int width,
                              int height, std::chrono::milliseconds timeout) {
  return WaitFor(
      display, title, [&](const WindowInfo& w) { return w.width != width || w.height != height; },
      timeout);
}

bool SendCloseRequest(const VirtualDisplay& display, unsigned long window) {
  Display* dpy = XOpenDisplay(display.Name().c_str());
  if (dpy == nullptr) return false;
  XEvent ev{};
  ev.xclient.type = ClientMessage;
  ev.xclient.window = window;
  ev.xclient.message_type = XInternAtom(dpy, "WM_PROTOCOLS", False);
  ev.xclient.format = 32;
  ev.xclient.data.l[0] = long(XInternAtom(dpy, "WM_DELETE_WINDOW", False));
  ev.xclient.data.l[1] = CurrentTime;
  Status ok = XSendEvent(dpy, window, False, NoEventMask, &ev);
  XSync(dpy, False);
  XCloseDisplay(dpy);
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
  Display* dpy = XOpenDisplay(display.Name().c_str());
  if (dpy == nullptr) return result;
  XClassHint hint{};
  if (XGetClassHint(dpy, window, &hint) != 0) {
    if (hint.res_name != nullptr) result.first = hint.res_name;
    if (hint.res_class != nullptr) result.second = hint.res_class;
    XFree(hint.res_name);
    XFree(hint.res_class);
  }
  XCloseDisplay(dpy);
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
    bool ink = InkColumns(y, y).first >= 0;
    if (!ink) continue;
    if (!bands.empty() && bands.back().second == y - 1)
      bands.back().second = y;
    else
      bands.push_back({y, y});
  }
  return bands;
}

Picture TakePicture(const VirtualDisplay& display, unsigned long window, int left, int top,
                    int width, int height) {
  Picture picture{left, top, 0, 0, {}, 0};
  Display* dpy = XOpenDisplay(display.Name().c_str());
  if (dpy == nullptr) return picture;
  XImage* image =
      XGetImage(dpy, window, left, top, unsigned(width), unsigned(height), AllPlanes, ZPixmap);
  if (image != nullptr) {
    picture.width = width;
    picture.height = height;
    picture.grey.resize(std::size_t(width * height));
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        unsigned long pixel = XGetPixel(image, x, y);
        unsigned r = (pixel >> 16) & 0xFF, g = (pixel >> 8) & 0xFF, b = pixel & 0xFF;
        picture.grey[std::size_t(y * width + x)] = static_cast<unsigned char>((r + g + b) / 3);
      }
    XDestroyImage(image);
    std::vector<int> counts(256, 0);
    for (unsigned char g : picture.grey) ++counts[g];
    picture.background = int(std::max_element(counts.begin(), counts.end()) - counts.begin());
  }
  XCloseDisplay(dpy);
  return picture;
}

Picture WaitForInk(const VirtualDisplay& display, unsigned long window, int left, int top,
                   int width, int height, std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    Picture picture = TakePicture(display, window, left, top, width, height);
    if (!picture.grey.empty() && picture.InkColumns(top, top + height - 1).first >= 0)
      return picture;
    if (std::chrono::steady_clock::now() >= deadline) return picture;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

}  // namespace test
