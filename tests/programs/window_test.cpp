// The window program on a private X display: title, client size, screenshot, closing.
#include <gtest/gtest.h>

#include <map>
#include <memory>
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
  test::SaveScreenshot(display, box.id,
                       std::string(LIRENTA_BUILD_DIR) + "/artifacts/not-found.png");
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
  EXPECT_TRUE(test::SaveScreenshot(
      display, box.id, std::string(LIRENTA_BUILD_DIR) + "/artifacts/completion-box.png"));
  ASSERT_TRUE(test::SendCloseRequest(display, box.id));
  // While the modal box is up, the main window takes no input: wait for the box to go.
  for (int i = 0; i < 100 && test::FindWindows(display, "Lirenta").size() > 1; ++i)
    std::this_thread::sleep_for(50ms);
  ASSERT_TRUE(test::SendCloseRequest(display, window.id));
  auto status = program.Wait(10000ms);
  ASSERT_TRUE(status.has_value());
  EXPECT_EQ(*status, 0);

  std::string out = db.Isql(
      "SET LIST ON;\nSELECT Mus_Codigo, COALESCE(Mus_Compositor, '-') AS C "
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

// The window program as built, in a folder of its own with a settings file naming `db`.
struct WindowProgram {
  WindowProgram(const test::VirtualDisplay& display, const test::FirebirdDatabase& db,
                const std::string& siteUrl) {
    test::CopyFile(std::string(LIRENTA_BIN_DIR) + "/lirenta", dir.File("lirenta"), true);
    test::WriteFile(dir.File("BaseKavro.ini"), "[BANCO]\r\nCAMINHO=" + db.Path() + "\r\n");
    process = std::make_unique<test::ChildProcess>(
        test::ChildProcess::Options{{dir.File("lirenta")},
                                    {{"DISPLAY", display.Name()}, {"LIRENTA_LYRICS_URL", siteUrl}},
                                    {},
                                    "",
                                    true});
  }
  test::TempDir dir;
  std::unique_ptr<test::ChildProcess> process;
};

// The labels' row of the client area.
constexpr int kLabelTop = 8;
constexpr int kLabelBottom = 8 + 13 - 1;

TEST(WindowProgram, KeysLabelEdgesAndWindowClassAreAPersonsExpectations) {
  test::VirtualDisplay display;
  ASSERT_TRUE(display.Ok()) << "Xvfb could not start";
  test::FirebirdDatabase db;
  test::LyricsSite site;
  site.AddComposerPage("trio-flor-e-cafe/cancao-do-mar.html", "Ana Reis");
  ASSERT_TRUE(site.Start());
  WindowProgram program(display, db, site.BaseUrl());

  test::WindowInfo window =
      test::WaitForWindow(display, "Lirenta", kClientWidth, kClientHeight, 15000ms);
  ASSERT_NE(window.id, 0u) << program.process->Stderr();
  EXPECT_EQ(test::WindowClass(display, window.id),
            (std::pair<std::string, std::string>{"lirenta", "Lirenta"}));

  // "Registro atual: 0" starts at lblAtual's left edge (8); "Total: 0" ends at lblTotal's
  // right edge (411, so its last column is 410).
  test::Picture labels =
      test::WaitForInk(display, window.id, 0, kLabelTop, kClientWidth, 13, 15000ms);
  ASSERT_FALSE(labels.grey.empty());
  const int middle = kClientWidth / 2;
  auto inkIn = [&](int from, int to) {
    std::pair<int, int> span{-1, -1};
    for (int x = from; x < to; ++x)
      for (int y = kLabelTop; y <= kLabelBottom; ++y)
        if (labels.Ink(x, y)) {
          if (span.first < 0) span.first = x;
          span.second = x;
        }
    return span;
  };
  EXPECT_EQ(inkIn(0, middle).first, 8) << "first ink column of lblAtual";
  EXPECT_EQ(inkIn(middle, kClientWidth).second, 410) << "last ink column of lblTotal";

  // Escape is no way to close the main window; Enter then presses the focused button, and the
  // run's completion box shows that both keys arrived in order with the program still there.
  ASSERT_TRUE(test::PressKeys(display, window.id, "Escape Return"));
  test::WindowInfo box =
      test::WaitForOtherWindow(display, "Lirenta", kClientWidth, kClientHeight, 30000ms);
  ASSERT_NE(box.id, 0u) << "Enter did not press the button, or Escape ended the program\n"
                        << program.process->Stderr();
  EXPECT_TRUE(program.process->Running());
  EXPECT_EQ(test::WindowClass(display, box.id),
            (std::pair<std::string, std::string>{"lirenta", "Lirenta"}));
  EXPECT_FALSE(site.RequestLines().empty());

  // The box's OK button has the focus: keypad Enter presses it.
  ASSERT_TRUE(test::PressKeys(display, box.id, "KP_Enter"));
  ASSERT_TRUE(test::WaitForWindow(display, "Lirenta", kClientWidth, kClientHeight, 5000ms).id);
  for (int i = 0; i < 100 && test::FindWindows(display, "Lirenta").size() > 1; ++i)
    std::this_thread::sleep_for(50ms);
  EXPECT_EQ(test::FindWindows(display, "Lirenta").size(), 1u) << "keypad Enter left the box up";
  ASSERT_TRUE(test::SendCloseRequest(display, window.id));
  auto status = program.process->Wait(10000ms);
  ASSERT_TRUE(status.has_value());
  EXPECT_EQ(*status, 0);
}

TEST(WindowProgram, FailureTextWithToolkitMarkupIsDrawnWhole) {
  test::VirtualDisplay display;
  ASSERT_TRUE(display.Ok()) << "Xvfb could not start";
  // Every UPDATE fails with a server message of two lines of equal length: the first holds
  // the characters a toolkit may read as markup ("@" starts a symbol, "&" marks a shortcut),
  // the second has plain letters of about their width in their places.
  test::FirebirdDatabase db(
      test::DefaultSongs(),
      "CREATE EXCEPTION E_CONTATO 'Contato: suporte@kavro.com.br & @@ fim\n"
      "Contato: suporteWkavro.com.br W WW fim';\n"
      "SET TERM ^ ;\n"
      "CREATE TRIGGER TG_CONTATO FOR Tb_Musicas BEFORE UPDATE AS BEGIN EXCEPTION E_CONTATO; END^\n"
      "SET TERM ; ^\n");
  test::LyricsSite site;
  site.AddComposerPage("trio-flor-e-cafe/cancao-do-mar.html", "Ana Reis");
  ASSERT_TRUE(site.Start());
  WindowProgram program(display, db, site.BaseUrl());
  test::WindowInfo window =
      test::WaitForWindow(display, "Lirenta", kClientWidth, kClientHeight, 15000ms);
  ASSERT_NE(window.id, 0u) << program.process->Stderr();
  ASSERT_TRUE(test::ClickAt(display, window.id, 148 + 122 / 2, 56 + 25 / 2));
  test::WindowInfo box =
      test::WaitForOtherWindow(display, "Lirenta", kClientWidth, kClientHeight, 30000ms);
  ASSERT_NE(box.id, 0u) << "no error box\n" << program.process->Stderr();
  test::SaveScreenshot(display, box.id,
                       std::string(LIRENTA_BUILD_DIR) + "/artifacts/error-box-markup.png");

  // The text stands right of the error icon and above the OK button.
  constexpr int kTextLeft = 12 + 32 + 12;
  const int textBottom = box.height - 12 - 23 - 2;
  test::Picture text =
      test::WaitForInk(display, box.id, kTextLeft, 0, box.width - kTextLeft, textBottom, 15000ms);
  std::vector<std::pair<int, int>> lines = text.InkRowBands();
  std::vector<int> widths;
  std::string shown;
  // A band of a row or two is the underscore below a line, not a line.
  std::erase_if(lines, [](std::pair<int, int> band) { return band.second - band.first < 3; });
  for (auto [top, bottom] : lines) {
    auto [first, last] = text.InkColumns(top, bottom);
    widths.push_back(last - first + 1);
    shown += " " + std::to_string(top) + ".." + std::to_string(bottom) + ":" +
             std::to_string(last - first + 1);
  }
  // The server's lines: "exception 1", the exception's name, its message's two lines, the
  // trigger's position. A line cut at its "@" would be about half as wide as its ruler.
  ASSERT_EQ(lines.size(), 5u) << "lines (rows: ink width):" << shown;
  const double ratio = double(widths[2]) / double(widths[3]);
  EXPECT_GT(ratio, 0.9) << "lines (rows: ink width):" << shown;
  EXPECT_LT(ratio, 1.1) << "lines (rows: ink width):" << shown;

  ASSERT_TRUE(test::SendCloseRequest(display, box.id));
  for (int i = 0; i < 100 && test::FindWindows(display, "Lirenta").size() > 1; ++i)
    std::this_thread::sleep_for(50ms);
  ASSERT_TRUE(test::SendCloseRequest(display, window.id));
  auto status = program.process->Wait(10000ms);
  ASSERT_TRUE(status.has_value());
  EXPECT_EQ(*status, 0);
}

}  // namespace
