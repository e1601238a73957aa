// The window program on a private X display: title, client size, screenshot, keys, closing.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <thread>

#include "tests/support/FirebirdFixture.h"
#include "tests/support/LyricsSite.h"
#include "tests/support/ProgramFolder.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/SongRows.h"
#include "tests/support/VirtualDisplay.h"
#include "tests/support/XWindows.h"

namespace {

using namespace std::chrono_literals;

constexpr int kClientWidth = 418;
constexpr int kClientHeight = 89;
// The labels' row of the client area.
constexpr int kLabelTop = 8;
constexpr int kLabelBottom = 8 + 13 - 1;
const std::string kArtifacts = std::string(LIRENTA_BUILD_DIR) + "/artifacts/";

// The window program as built, in a folder of its own, on a private display.
class WindowProgram : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(display_.Ok()) << "Xvfb could not start"; }
  // Starts the program, with a settings file naming `db` unless it is null, against `site`.
  void Start(const test::FirebirdDatabase* db, test::LyricsSite* site) {
    if (site != nullptr) {
      ASSERT_TRUE(site->Start());
    }
    StartAt(db, site != nullptr ? site->BaseUrl() : "http://127.0.0.1:9/");
  }
  // The same against the site at `url`, with `args` and `env`.
  void StartAt(const test::FirebirdDatabase* db, const std::string& url,
               const std::vector<std::string>& args = {},
               std::map<std::string, std::string> env = {}) {
    if (db != nullptr) folder_.Settings(db->Path());
    env["DISPLAY"] = display_.Name();
    program_ = folder_.Start(url, args, env);
  }
  test::WindowInfo MainWindow() {
    return test::WaitForWindow(display_, "Lirenta", kClientWidth, kClientHeight, 15000ms);
  }
  // A message box: a window titled like the main one, of another size.
  test::WindowInfo Box(std::chrono::milliseconds timeout = 30000ms) {
    return test::WaitForWindow(display_, "Lirenta", kClientWidth, kClientHeight, timeout, false);
  }
  // The button's centre, in client coordinates.
  bool ClickTheButton(unsigned long window) {
    return test::ClickAt(display_, window, 148 + 122 / 2, 56 + 25 / 2);
  }
  // Closes `box`, waits until it is gone (while it is up the main window takes no input), then
  // closes the main window: the program ends with status 0.
  void CloseBoxThenWindow(unsigned long box, unsigned long window) {
    ASSERT_TRUE(test::SendCloseRequest(display_, box));
    ASSERT_TRUE(test::WaitForWindowCount(display_, "Lirenta", 1, 5000ms));
    CloseWindow(window);
  }
  void CloseWindow(unsigned long window) {
    ASSERT_TRUE(test::SendCloseRequest(display_, window));
    auto status = program_->Wait(10000ms);
    ASSERT_TRUE(status.has_value()) << "the program did not end after the close request";
    EXPECT_EQ(*status, 0);
  }

  test::VirtualDisplay display_;
  test::ProgramFolder folder_{"lirenta"};
  std::unique_ptr<test::ChildProcess> program_;
};

TEST_F(WindowProgram, OpensTheFixedWindowAndEndsWithCodeZeroWhenClosed) {
  // No settings file beside the program, so the not-found message comes first.
  Start(nullptr, nullptr);
  // The not-found message is shown before the main window becomes visible.
  test::WindowInfo box = Box(15000ms);
  ASSERT_NE(box.id, 0u) << "no message box\n" << program_->Stderr();
  EXPECT_EQ(test::FindWindows(display_, "Lirenta").size(), 1u)
      << "the main window is visible before the message box was confirmed";
  test::SaveScreenshot(display_, box.id, kArtifacts + "not-found.png");
  ASSERT_TRUE(test::SendCloseRequest(display_, box.id));

  test::WindowInfo window = MainWindow();
  ASSERT_NE(window.id, 0u) << "no 418x89 window titled Lirenta appeared\n" << program_->Stderr();
  EXPECT_EQ(window.width, kClientWidth);
  EXPECT_EQ(window.height, kClientHeight);
  // Centred on the 1024x768 screen.
  EXPECT_NEAR(window.x, (1024 - kClientWidth) / 2, 2);
  EXPECT_NEAR(window.y, (768 - kClientHeight) / 2, 2);
  EXPECT_TRUE(test::SaveScreenshot(display_, window.id, kArtifacts + "window.png"));
  CloseWindow(window.id);
}

TEST_F(WindowProgram, ButtonRunsTheUpdateAndTheCompletionBoxAppears) {
  test::FirebirdDatabase db;
  test::LyricsSite site;
  site.AddComposerPage("trio-flor-e-cafe/cancao-do-mar.html", "Ana Reis");
  site.AddComposerPage("banda-ebano/ebano-cifrada.html", "M\xE1rio Quintela");
  Start(&db, &site);
  test::WindowInfo window = MainWindow();
  ASSERT_NE(window.id, 0u) << program_->Stderr();
  EXPECT_EQ(test::FindWindows(display_, "Lirenta").size(), 1u) << "an unexpected message box";
  ASSERT_TRUE(ClickTheButton(window.id));

  test::WindowInfo box = Box();
  ASSERT_NE(box.id, 0u) << "no completion box\n" << program_->Stderr();
  EXPECT_EQ(display_.Run("import -window root '" + kArtifacts + "screen-after-run.png'"), 0);
  EXPECT_TRUE(test::SaveScreenshot(display_, box.id, kArtifacts + "completion-box.png"));
  CloseBoxThenWindow(box.id, window.id);
  EXPECT_EQ(test::StoredComposers(db.Path()),
            (test::Composers{{1, "Ana Reis"}, {2, std::nullopt}, {3, "M\xE1rio Quintela"}}));
}

TEST_F(WindowProgram, KeysLabelEdgesAndWindowClassAreAPersonsExpectations) {
  test::FirebirdDatabase db;
  test::LyricsSite site;
  site.AddComposerPage("trio-flor-e-cafe/cancao-do-mar.html", "Ana Reis");
  Start(&db, &site);
  test::WindowInfo window = MainWindow();
  ASSERT_NE(window.id, 0u) << program_->Stderr();
  const std::pair<std::string, std::string> lirentaClass{"lirenta", "Lirenta"};
  EXPECT_EQ(test::WindowClass(display_, window.id), lirentaClass);

  // "Registro atual: 0" starts at lblAtual's left edge (8); "Total: 0" ends at lblTotal's
  // right edge (411, so its last column is 410).
  test::Picture labels =
      test::WaitForInk(display_, window.id, 0, kLabelTop, kClientWidth, 13, 15000ms);
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
  ASSERT_TRUE(test::PressKeys(display_, window.id, "Escape Return"));
  test::WindowInfo box = Box();
  ASSERT_NE(box.id, 0u) << "Enter did not press the button, or Escape ended the program\n"
                        << program_->Stderr();
  EXPECT_TRUE(program_->Running());
  EXPECT_EQ(test::WindowClass(display_, box.id), lirentaClass);
  EXPECT_FALSE(site.RequestLines().empty());

  // The box's OK button has the focus: keypad Enter presses it.
  ASSERT_TRUE(test::PressKeys(display_, box.id, "KP_Enter"));
  EXPECT_TRUE(test::WaitForWindowCount(display_, "Lirenta", 1, 5000ms))
      << "keypad Enter left the box up";
  ASSERT_NE(MainWindow().id, 0u);
  CloseWindow(window.id);
}

TEST_F(WindowProgram, FailureTextWithToolkitMarkupIsDrawnWhole) {
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
  Start(&db, &site);
  test::WindowInfo window = MainWindow();
  ASSERT_NE(window.id, 0u) << program_->Stderr();
  ASSERT_TRUE(ClickTheButton(window.id));
  test::WindowInfo box = Box();
  ASSERT_NE(box.id, 0u) << "no error box\n" << program_->Stderr();
  test::SaveScreenshot(display_, box.id, kArtifacts + "error-box-markup.png");

  // The text stands right of the error icon and above the OK button.
  constexpr int kTextLeft = 12 + 32 + 12;
  const int textBottom = box.height - 12 - 23 - 2;
  test::Picture text =
      test::WaitForInk(display_, box.id, kTextLeft, 0, box.width - kTextLeft, textBottom, 15000ms);
  std::vector<std::pair<int, int>> lines = text.InkRowBands();
  // A band of a row or two is the underscore below a line, not a line.
  std::erase_if(lines, [](std::pair<int, int> band) { return band.second - band.first < 3; });
  std::vector<int> widths;
  std::string shown = "lines (rows: ink width):";
  for (auto [top, bottom] : lines) {
    auto [first, last] = text.InkColumns(top, bottom);
    widths.push_back(last - first + 1);
    shown += " " + std::to_string(top) + ".." + std::to_string(bottom) + ":" +
             std::to_string(last - first + 1);
  }
  // The server's lines: "exception 1", the exception's name, its message's two lines, the
  // trigger's position. A line cut at its "@" would be about half as wide as its ruler.
  ASSERT_EQ(lines.size(), 5u) << shown;
  const double ratio = double(widths[2]) / double(widths[3]);
  EXPECT_GT(ratio, 0.9) << shown;
  EXPECT_LT(ratio, 1.1) << shown;
  CloseBoxThenWindow(box.id, window.id);
}

TEST_F(WindowProgram, CommandLineOptionsGoverTheWindowsRun) {
  test::FirebirdDatabase db;  // songs 1, 2 (no composer) and 3 ("Desconhecido")
  test::LyricsSite site;
  site.AddComposerPage("trio-flor-e-cafe/cancao-do-mar.html", "Ana Reis");
  site.AddComposerPage("banda-ebano/ebano.html", "M\xE1rio Quintela");
  ASSERT_TRUE(site.Start());
  test::TempDir files;
  const std::string report = files.File("r.tsv");
  StartAt(&db, site.BaseUrl(), {"--dry-run", "--only-missing", "--report", report});
  test::WindowInfo window = MainWindow();
  ASSERT_NE(window.id, 0u) << program_->Stderr();
  ASSERT_TRUE(ClickTheButton(window.id));
  test::WindowInfo box = Box();
  ASSERT_NE(box.id, 0u) << "no completion box\n" << program_->Stderr();
  CloseBoxThenWindow(box.id, window.id);
  // Song 3 has a composer: it is not asked for. Nothing is written.
  EXPECT_EQ(site.RequestLines(),
            (std::vector<std::string>{"GET /trio-flor-e-cafe/cancao-do-mar.html HTTP/1.1",
                                      "GET /ac-dc-do-sertao/quem.html HTTP/1.1",
                                      "GET /ac-dc-do-sertao/quem-cifrada.html HTTP/1.1",
                                      "GET /ac-dc-do-sertao/quem-traducao.html HTTP/1.1"}));
  EXPECT_EQ(test::ReadLines(report).size(), 5u);
  EXPECT_EQ(test::StoredComposers(db.Path()),
            (test::Composers{{1, std::nullopt}, {2, std::nullopt}, {3, "Desconhecido"}}));
}

TEST_F(WindowProgram, ClosingTheWindowDuringAWaitEndsTheProgramAndKeepsTheSongsDone) {
  test::FirebirdDatabase db;
  // Song 1 is found; song 2 is told, on every address, to come back in a minute.
  using Server = test::ScriptedServer;
  const Server::Step tooMany = Server::Send(
      "HTTP/1.1 429 Too Many Requests\r\nRetry-After: 60\r\nConnection: close\r\n"
      "Content-Length: 0\r\n\r\n");
  Server site(
      {{Server::ExpectHead(),
        Server::Send(test::PageAnswer(test::ComposerPage("Ana Reis"), "Connection: close\r\n")),
        Server::Close()},
       {Server::ExpectHead(), tooMany, Server::Close()},
       {Server::ExpectHead(), tooMany, Server::Close()},
       {Server::ExpectHead(), tooMany, Server::Close()}},
      Server::Ms(5000), Server::Ms(60000));
  StartAt(&db, "http://127.0.0.1:" + std::to_string(site.Port()) + "/");
  test::WindowInfo window = MainWindow();
  ASSERT_NE(window.id, 0u) << program_->Stderr();
  ASSERT_TRUE(ClickTheButton(window.id));
  ASSERT_TRUE(site.WaitFinished(4, 15000ms)) << program_->Stderr();
  // The wait's text stands in the current-row label, cut before it reaches "Total: 3": right of
  // it stays a gap wider than a blank between words, and lblTotal still ends at its right edge.
  std::vector<bool> ink(kClientWidth);
  for (int tries = 0; tries < 50; ++tries) {
    test::Picture labels =
        test::WaitForInk(display_, window.id, 0, kLabelTop, kClientWidth, 13, 5000ms);
    for (int x = 0; x < kClientWidth; ++x) {
      ink[std::size_t(x)] = false;
      for (int y = kLabelTop; y <= kLabelBottom; ++y)
        ink[std::size_t(x)] = ink[std::size_t(x)] || labels.Ink(x, y);
    }
    if (std::count(ink.begin() + 200, ink.begin() + 300, true) > 0) break;  // the long text
    std::this_thread::sleep_for(100ms);
  }
  const int last = int(std::find(ink.rbegin(), ink.rend(), true).base() - ink.begin()) - 1;
  EXPECT_NEAR(last, 410, 1);  // the last glyph's own edge
  // Leftwards from lblTotal's last column: the first run of at least 6 blank columns, within
  // lblTotal's width, with the wait's text before it.
  int gapEnd = -1;
  for (int x = last, blank = 0; x >= 200; --x) {
    blank = ink[std::size_t(x)] ? 0 : blank + 1;
    if (blank == 6) {
      gapEnd = x + 5;
      break;
    }
  }
  EXPECT_GT(gapEnd, 411 - 70) << "the wait's text runs into lblTotal";
  EXPECT_GT(std::count(ink.begin() + 200, ink.begin() + 300, true), 0) << "no wait text";
  EXPECT_TRUE(test::SaveScreenshot(display_, window.id, kArtifacts + "waiting.png"));
  CloseWindow(window.id);
  EXPECT_EQ(test::StoredComposers(db.Path()),
            (test::Composers{{1, "Ana Reis"}, {2, std::nullopt}, {3, "Desconhecido"}}));
}

TEST_F(WindowProgram, SiteSilentForTheMaxWaitShowsItsBoxAndTheWindowStaysOpen) {
  test::FirebirdDatabase db;
  test::LoopbackPort refusing(test::LoopbackPort::Kind::Refusing);
  StartAt(&db, "http://127.0.0.1:" + std::to_string(refusing.Port()) + "/", {},
          {{"LIRENTA_MAX_WAIT", "1"}});
  test::WindowInfo window = MainWindow();
  ASSERT_NE(window.id, 0u) << program_->Stderr();
  ASSERT_TRUE(ClickTheButton(window.id));
  test::WindowInfo box = Box();
  ASSERT_NE(box.id, 0u) << "no box\n" << program_->Stderr();
  EXPECT_TRUE(test::SaveScreenshot(display_, box.id, kArtifacts + "site-silent-box.png"));
  EXPECT_TRUE(program_->Running());
  CloseBoxThenWindow(box.id, window.id);
}

}  // namespace
