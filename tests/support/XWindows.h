// Looking at and driving top-level windows on a test display: found by title with xdotool,
// closed through the window-manager protocol (WM_DELETE_WINDOW), as a user's close box does.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "tests/support/VirtualDisplay.h"

namespace test {

struct WindowInfo {
  unsigned long id = 0;
  int x = 0, y = 0, width = 0, height = 0;
};

// Visible windows whose title is exactly `title`.
std::vector<WindowInfo> FindWindows(const VirtualDisplay& display, const std::string& title);

// Waits until a window titled `title` with the given client size is visible; id 0 on time-out.
WindowInfo WaitForWindow(const VirtualDisplay& display, const std::string& title, int width,
                         int height, std::chrono::milliseconds timeout);
// Waits until a window titled `title` whose size is NOT width x height is visible (a message box).
WindowInfo WaitForOtherWindow(const VirtualDisplay& display, const std::string& title, int width,
                              int height, std::chrono::milliseconds timeout);

// Asks the window to close through WM_PROTOCOLS / WM_DELETE_WINDOW.
bool SendCloseRequest(const VirtualDisplay& display, unsigned long window);

// Saves a picture of the window (ImageMagick's import) to `path`.
bool SaveScreenshot(const VirtualDisplay& display, unsigned long window, const std::string& path);

// Text of the window's controls cannot be read through X; a test clicks at client coordinates.
bool ClickAt(const VirtualDisplay& display, unsigned long window, int x, int y);

}  // namespace test
