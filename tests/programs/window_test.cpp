// The window program on a private X display: title, client size, screenshot, closing.
#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <thread>

#include "tests/support/FirebirdFixture.h"
#include "tests/support/LyricsSite.h"
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

  // The not-found message is shown before the main window becomes visible.
  test::WindowInfo box =
      test::WaitForOtherWindow(display, "Lirenta", kClientWidth, kClientHeight, 15000ms);
  ASSERT_NE(box.id, 0u) << "no message box\n" << program.Stderr();
  EXPECT_EQ(test::FindWindows(display, "Lirenta").size(), 1u)
      << "the main window is visible before the message box was confirmed";
  test::SaveScreenshot(display, box.id, std::string(LIRENTA_BUILD_DIR) + "/artifacts/not-found.png");
  ASSERT_TRUE(test::SendCloseRequest(display, box.id));

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

TEST(WindowProgram, ButtonRunsTheUpdateAndTheCompletionBoxAppears) {
  test::VirtualDisplay display;
  ASSERT_TRUE(display.Ok()) << "Xvfb could not start";
  test::FirebirdDatabase db;
  test::LyricsSite site;
  site.AddComposerPage("trio-flor-e-cafe/cancao-do-mar.html", "Ana Reis");
  site.AddComposerPage("banda-ebano/ebano-cifrada.html", "M\xE1rio Quintela");
  ASSERT_TRUE(site.Start());
  test::TempDir dir;
  test::CopyFile(std::string(LIRENTA_BIN_DIR) + "/lirenta", dir.File("lirenta"), true);
  test::WriteFile(dir.File("BaseKavro.ini"), "[BANCO]\r\nCAMINHO=" + db.Path() + "\r\n");
  test::ChildProcess program({{dir.File("lirenta")},
                              {{"DISPLAY", display.Name()}, {"LIRENTA_LYRICS_URL", site.BaseUrl()}},
                              {},
                              "",
                              true});

  test::WindowInfo window =
      test::WaitForWindow(display, "Lirenta", kClientWidth, kClientHeight, 15000ms);
  ASSERT_NE(window.id, 0u) << program.Stderr();
  EXPECT_EQ(test::FindWindows(display, "Lirenta").size(), 1u) << "an unexpected message box";
  // The button's centre, in client coordinates.
  ASSERT_TRUE(test::ClickAt(display, window.id, 148 + 122 / 2, 56 + 25 / 2));

  test::WindowInfo box =
      test::WaitForOtherWindow(display, "Lirenta", kClientWidth, kClientHeight, 30000ms);
  ASSERT_NE(box.id, 0u) << "no completion box\n" << program.Stderr();
  EXPECT_EQ(display.Run("import -window root '" + std::string(LIRENTA_BUILD_DIR) +
                        "/artifacts/screen-after-run.png'"),
            0);
  EXPECT_TRUE(test::SaveScreenshot(display, box.id,
                                   std::string(LIRENTA_BUILD_DIR) + "/artifacts/completion-box.png"));
  ASSERT_TRUE(test::SendCloseRequest(display, box.id));
  // While the modal box is up, the main window takes no input: wait for the box to go.
  for (int i = 0; i < 100 && test::FindWindows(display, "Lirenta").size() > 1; ++i)
    std::this_thread::sleep_for(50ms);
  ASSERT_TRUE(test::SendCloseRequest(display, window.id));
  auto status = program.Wait(10000ms);
  ASSERT_TRUE(status.has_value());
  EXPECT_EQ(*status, 0);

  std::string out = db.Isql("SET LIST ON;\nSELECT Mus_Codigo, COALESCE(Mus_Compositor, '-') AS C "
                            "FROM Tb_Musicas ORDER BY Mus_Codigo;\n");
  std::map<int, std::string> stored;
  std::istringstream in(out);
  std::string line;
  int code = 0;
  while (std::getline(in, line)) {
    if (line.rfind("MUS_CODIGO", 0) == 0) code = std::stoi(line.substr(10));
    if (line.rfind("C ", 0) == 0) stored[code] = line.substr(line.find_first_not_of(' ', 1));
  }
  EXPECT_EQ(stored[1], "Ana Reis");
  EXPECT_EQ(stored[2], "-");
  EXPECT_EQ(stored[3], "M\xE1rio Quintela");
}

}  // namespace
