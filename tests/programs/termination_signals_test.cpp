// SIGINT and SIGTERM during an update run, against both programs as built. The console program
// stops after the song in progress, keeps the songs done and ends with 128 + the signal; the
// window program takes the signal as a close of its window, so the run still walks every row,
// commits and ends with status 0. A second signal ends either program at once. The site answers
// each song on a connection of its own and holds the third answer back; the test signals once
// the first two connections ran to their end, so the signals arrive in the middle of the run,
// while it waits on the network.
#include <gtest/gtest.h>
#include <signal.h>

#include "tests/support/FirebirdFixture.h"
#include "tests/support/LyricsSite.h"
#include "tests/support/ProgramFolder.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/SongRows.h"
#include "tests/support/VirtualDisplay.h"
#include "tests/support/XWindows.h"

namespace {

using namespace std::chrono_literals;
using Server = test::ScriptedServer;

constexpr int kSongs = 12;
const std::string kComposer = "Autor da Casa";

// The database, the site holding its third answer for `hold`, and the program's folder.
class Signalled : public testing::Test {
 protected:
  void Serve(std::chrono::milliseconds hold) {
    std::vector<Server::Script> scripts(kSongs, {Server::ExpectHead()});
    for (int i = 0; i < kSongs; ++i) {
      if (i == 2) scripts[i].push_back(Server::Stall(hold));
      scripts[i].push_back(Server::Send(
          test::PageAnswer("<p>Compositor: " + kComposer + "</p>", "Connection: close\r\n")));
      scripts[i].push_back(Server::Close());
    }
    site_ = std::make_unique<Server>(scripts, Server::Ms(60000), Server::Ms(120000));
    url_ = "http://127.0.0.1:" + std::to_string(site_->Port()) + "/";
    folder_.Settings(db_.Path());
  }
  // Waits until the run is under way, then sends `signals` to `program`.
  void Signal(test::ChildProcess& program, std::vector<int> signals) {
    ASSERT_TRUE(site_->WaitFinished(2, 30s)) << program.Stderr();
    for (int signal : signals) ASSERT_EQ(kill(program.Pid(), signal), 0);
  }
  void ExpectEveryComposerStored() {
    EXPECT_EQ(site_->Accepted(), kSongs);
    test::Composers expected;
    for (int i = 1; i <= kSongs; ++i) expected[i] = kComposer;
    EXPECT_EQ(test::StoredComposers(db_.Path()), expected);
  }
  test::FirebirdDatabase db_{test::NumberedSongs(kSongs, "Banda")};
  std::unique_ptr<Server> site_;
  std::string url_;
  test::ProgramFolder folder_;
};

class ConsoleSignal : public Signalled, public testing::WithParamInterface<int> {};

TEST_P(ConsoleSignal, FirstSignalStopsAfterTheSongInProgressAndKeepsTheSongsDone) {
  Serve(1s);
  auto program = folder_.Start(url_);
  // The signal comes while the third song, the one in progress, waits for its page.
  ASSERT_TRUE(site_->WaitAccepted(3, 30s)) << program->Stderr();
  ASSERT_EQ(kill(program->Pid(), GetParam()), 0);
  auto status = program->Wait(60s);
  ASSERT_TRUE(status.has_value()) << program->Stderr();
  EXPECT_EQ(*status, 128 + GetParam()) << program->Stdout() << program->Stderr();
  EXPECT_EQ(program->Stdout(),
            test::Utf8("Interrompido ap\xF3s 3 de 12 m\xFAsicas; as altera\xE7\xF5"
                       "es at\xE9 aqui foram gravadas.\n"));
  EXPECT_EQ(site_->Accepted(), 3);
  test::Composers expected;
  for (int i = 1; i <= kSongs; ++i) expected[i] = std::nullopt;
  for (int i = 1; i <= 3; ++i) expected[i] = kComposer;
  EXPECT_EQ(test::StoredComposers(db_.Path()), expected);
}

INSTANTIATE_TEST_SUITE_P(IntAndTerm, ConsoleSignal, testing::Values(SIGINT, SIGTERM),
                         [](const testing::TestParamInfo<int>& info) {
                           return std::string(info.param == SIGINT ? "SIGINT" : "SIGTERM");
                         });

using ConsoleSignals = Signalled;

TEST_F(ConsoleSignals, SecondSignalEndsTheProgramAtOnce) {
  // The held answer does not come while the test waits: only the second signal can end the
  // program.
  Serve(50s);
  auto program = folder_.Start(url_);
  // Two different signals, so that neither can merge into the other while pending; the
  // waiting thread takes the lower number first.
  Signal(*program, {SIGINT, SIGTERM});
  auto status = program->Wait(30s);
  ASSERT_TRUE(status.has_value()) << "the second signal did not end the program";
  EXPECT_EQ(*status, 128 + SIGTERM);
  EXPECT_EQ(program->Stdout(), "");
  for (const auto& [code, composer] : test::StoredComposers(db_.Path()))
    EXPECT_EQ(composer, std::nullopt) << code;
}

using WindowSignals = Signalled;

TEST_F(WindowSignals, TermDuringARunActsAsACloseOfTheWindow) {
  test::VirtualDisplay display;
  ASSERT_TRUE(display.Ok()) << "Xvfb could not start";
  Serve(1s);
  test::ProgramFolder lirenta("lirenta");
  lirenta.Settings(db_.Path());
  auto program = lirenta.Start(url_, {}, {{"DISPLAY", display.Name()}});
  test::WindowInfo window = test::WaitForWindow(display, "Lirenta", 418, 89, 15000ms);
  ASSERT_NE(window.id, 0u) << program->Stderr();
  ASSERT_TRUE(test::ClickAt(display, window.id, 148 + 122 / 2, 56 + 25 / 2));
  Signal(*program, {SIGTERM});
  // The run goes on to its last row and commits; its completion box closes by itself, so the
  // program ends without anyone pressing OK.
  auto status = program->Wait(60s);
  ASSERT_TRUE(status.has_value()) << "the window program did not end\n" << program->Stderr();
  EXPECT_EQ(*status, 0) << program->Stderr();
  ExpectEveryComposerStored();
}

}  // namespace
