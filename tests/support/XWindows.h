// Looking at and driving top-level windows on a test display: found by title, waited for on
// the display's own events, closed through the window-manager protocol (WM_DELETE_WINDOW) as a
// user's close box does.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/VirtualDisplay.h"

namespace test {

struct WindowInfo {
  unsigned long id = 0;
  int x = 0, y = 0, width = 0, height = 0;
};

// Visible top-level windows whose title is exactly `title`.
std::vector<WindowInfo> FindWindows(const VirtualDisplay& display, const std::string& title);

// Waits until `done` holds for the visible windows titled `title`, looking again at every map,
// unmap and resize on the display; those windows, or nullopt when `timeout` passed first.
std::optional<std::vector<WindowInfo>> WaitForWindows(
    const VirtualDisplay& display, const std::string& title,
    const std::function<bool(const std::vector<WindowInfo>&)>& done,
    std::chrono::milliseconds timeout);
// A window titled `title` with the client size `width` x `height`, or with another size when
// `sameSize` is false (a message box); id 0 on time-out.
WindowInfo WaitForWindow(const VirtualDisplay& display, const std::string& title, int width,
                         int height, std::chrono::milliseconds timeout, bool sameSize = true);
// Until exactly `count` windows titled `title` are visible; false on time-out.
bool WaitForWindowCount(const VirtualDisplay& display, const std::string& title, std::size_t count,
                        std::chrono::milliseconds timeout);

// Asks the window to close through WM_PROTOCOLS / WM_DELETE_WINDOW.
bool SendCloseRequest(const VirtualDisplay& display, unsigned long window);

// Saves a picture of the window (ImageMagick's import) to `path`.
bool SaveScreenshot(const VirtualDisplay& display, unsigned long window, const std::string& path);

// Text of the window's controls cannot be read through X; a test clicks at client coordinates.
bool ClickAt(const VirtualDisplay& display, unsigned long window, int x, int y);

// Gives the window the keyboard focus and types `keys` (xdotool key names, e.g. "Return",
// "KP_Enter", "Escape") through the X test extension, as a keyboard does.
bool PressKeys(const VirtualDisplay& display, unsigned long window, const std::string& keys);

// The window's WM_CLASS: instance name and class name; empty texts when it has none.
std::pair<std::string, std::string> WindowClass(const VirtualDisplay& display,
                                                unsigned long window);

// What the window shows in a rectangle of its client area, as a grey level per pixel.
struct Picture {
  int left = 0, top = 0, width = 0, height = 0;
  std::vector<unsigned char> grey;  // row by row
  int background = 0;               // the commonest grey level
  int At(int x, int y) const { return grey[std::size_t((y - top) * width + (x - left))]; }
  // Ink: clearly darker than the background, the anti-aliased edges of letters included.
  bool Ink(int x, int y) const { return At(x, y) + 16 < background; }
  // First and last column (window coordinates) holding ink between rows `fromRow` and `toRow`
  // (inclusive, window coordinates); -1, -1 when there is none.
  std::pair<int, int> InkColumns(int fromRow, int toRow) const;
  // The runs of rows that hold ink, as first and last row (window coordinates).
  std::vector<std::pair<int, int>> InkRowBands() const;
};
// Takes a picture of the rectangle, and again after each drawing into the window the display
// reports, until one holds ink or `timeout` passed; the last picture taken.
Picture WaitForInk(const VirtualDisplay& display, unsigned long window, int left, int top,
                   int width, int height, std::chrono::milliseconds timeout);

}  // namespace test
