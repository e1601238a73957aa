#include "tests/support/XWindows.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

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

}  // namespace test
