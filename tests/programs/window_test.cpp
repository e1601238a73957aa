// The window program on a private X display: title, client size, screenshot, closing.
#include <gtest/gtest.h>

#include "tests/support/Process.h"
#include "tests/support/VirtualDisplay.h"
#include "tests/support/XWindows.h"

namespace {

using namespace std::chrono_literals;

constexpr int kClientWidth = 418;
constexpr int kClientHeight = 89;

TEST(WindowProgram, OpensTheFixedWindowAndEndsWithCodeZeroWhenClosed) {
  test::VirtualDisplay display;
  ASSERT_TRUE(display.Ok()) << "Xvfb could not start";
  test::TempDir dir;
  // A copy in an empty folder: no settings file beside it, so the not-found message comes first.
  test::CopyFile(std::string(LIRENTA_BIN_DIR) + "/lirenta", dir.File("lirenta"), true);
  test::ChildProcess program({{dir.File("lirenta")}, {{"DISPLAY", display.Name()}}, {}, "", true});

  // The message box is shown before the main window becomes visible.
  test::WindowInfo box =
      test::WaitForOtherWindow(display, "Lirenta", kClientWidth, kClientHeight, 15000ms);
  if (box.id != 0) {
    EXPECT_TRUE(test::FindWindows(display, "Lirenta").size() == 1u)
        << "the main window is visible before the message box was confirmed";
    test::SaveScreenshot(display, box.id, std::string(LIRENTA_BUILD_DIR) + "/artifacts/not-found.png");
    ASSERT_TRUE(test::SendCloseRequest(display, box.id));
  }

  test::WindowInfo window =
      test::WaitForWindow(display, "Lirenta", kClientWidth, kClientHeight, 15000ms);
  ASSERT_NE(window.id, 0u) << "no 418x89 window titled Lirenta appeared\n" << program.Stderr();
  EXPECT_EQ(window.width, kClientWidth);
  EXPECT_EQ(window.height, kClientHeight);
  // Centred on the 1024x768 screen.
  EXPECT_NEAR(window.x, (1024 - kClientWidth) / 2, 2);
  EXPECT_NEAR(window.y, (768 - kClientHeight) / 2, 2);
  EXPECT_TRUE(test::SaveScreenshot(display, window.id,
                                   std::string(LIRENTA_BUILD_DIR) + "/artifacts/window.png"));

  ASSERT_TRUE(test::SendCloseRequest(display, window.id));
  auto status = program.Wait(10000ms);
  ASSERT_TRUE(status.has_value()) << "the program did not end after the close request";
  EXPECT_EQ(*status, 0);
}

}  // namespace
