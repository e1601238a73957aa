// Both programs as built, run as ordinary users on a machine where root has used the embedded
// engine first (/tmp/firebird made by root, mode 0770), without FIREBIRD_LOCK: each takes a
// lock folder of its own. Two users on one database file: the engine's lock on the file itself
// still keeps the second one out while the first run holds it.
#include <gtest/gtest.h>

#include "tests/support/FirebirdFixture.h"
#include "tests/support/LyricsSite.h"
#include "tests/support/OrdinaryUser.h"
#include "tests/support/ProgramFolder.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/SongRows.h"
#include "tests/support/VirtualDisplay.h"
#include "tests/support/XWindows.h"

namespace {

using namespace std::chrono_literals;
using Server = test::ScriptedServer;

const test::Composers kFound = {{1, "Ana Reis"}, {2, "Z\xE9 Ramalhete"}, {3, "M\xE1rio Quintela"}};

class OrdinaryUser : public testing::Test {
 protected:
  void SetUp() override {
    site_.AddComposerPage("trio-flor-e-cafe/cancao-do-mar.html", "Ana Reis");
    site_.AddComposerPage("ac-dc-do-sertao/quem.html", "Z\xE9 Ramalhete");
    site_.AddComposerPage("banda-ebano/ebano.html", "M\xE1rio Quintela");
    ASSERT_TRUE(site_.Start());
  }
  // The user's own copy of the database in `folder`, named by its settings file.
  std::string GiveDatabase(test::ProgramFolder& folder, mode_t mode = 0600) {
    const std::string path = folder.Give(db_.Path(), "kavro.fdb", mode);
    folder.Settings(path);
    return path;
  }
  test::FirebirdDatabase db_;
  test::LyricsSite site_;
};

TEST_F(OrdinaryUser, ConsoleRunCompletesForNobody) {
  test::ProgramFolder folder("lirenta-console", test::kNobody);
  const std::string database = GiveDatabase(folder);
  test::ProgramOutcome run = folder.Run(site_.BaseUrl());
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(run.out, test::kCompletedLine);
  EXPECT_EQ(test::StoredComposers(database), kFound);
}

TEST_F(OrdinaryUser, WindowRunCompletesForNobody) {
  test::VirtualDisplay display;
  ASSERT_TRUE(display.Ok()) << "Xvfb could not start";
  test::ProgramFolder folder("lirenta", test::kNobody);
  const std::string database = GiveDatabase(folder);
  auto program = folder.Start(site_.BaseUrl(), {}, {{"DISPLAY", display.Name()}});
  test::WindowInfo window = test::WaitForWindow(display, "Lirenta", 418, 89, 15000ms);
  ASSERT_NE(window.id, 0u) << program->Stderr();
  ASSERT_TRUE(test::ClickAt(display, window.id, 148 + 122 / 2, 56 + 25 / 2));
  // The completion box: a window titled like the main one, of another size.
  test::WindowInfo box = test::WaitForWindow(display, "Lirenta", 418, 89, 30000ms, false);
  ASSERT_NE(box.id, 0u) << "no completion message\n" << program->Stderr();
  ASSERT_TRUE(test::SendCloseRequest(display, box.id));
  ASSERT_TRUE(test::WaitForWindowCount(display, "Lirenta", 1, 5000ms));
  ASSERT_TRUE(test::SendCloseRequest(display, window.id));
  auto status = program->Wait(10s);
  ASSERT_TRUE(status.has_value()) << "the window program did not end";
  EXPECT_EQ(*status, 0) << program->Stderr();
  EXPECT_EQ(test::StoredComposers(database), kFound);
}

TEST_F(OrdinaryUser, SecondUserIsRefusedWhileTheFirstRunHoldsTheDatabase) {
  // The first song's answer is held back until the second user's run has ended.
  std::vector<Server::Script> scripts(3, {Server::ExpectHead()});
  scripts[0].push_back(Server::Stall(30s));
  for (auto& script : scripts)
    script.insert(
        script.end(),
        {Server::Send(test::PageAnswer("<p>Compositor: Autor</p>", "Connection: close\r\n")),
         Server::Close()});
  Server site(scripts, 60000ms, 120000ms);
  const std::string url = "http://127.0.0.1:" + std::to_string(site.Port()) + "/";

  test::ProgramFolder first("lirenta-console", test::kNobody);
  const std::string database = GiveDatabase(first, 0666);
  auto holder = first.Start(url);
  // The first run asks for its first page only after it opened the database.
  for (auto until = std::chrono::steady_clock::now() + 30s;
       site.Accepted() == 0 && std::chrono::steady_clock::now() < until;)
    std::this_thread::sleep_for(20ms);
  ASSERT_EQ(site.Accepted(), 1) << holder->Stderr();

  test::ProgramFolder second("lirenta-console", test::kSecondUser);
  second.Settings(database);
  test::ProgramOutcome refused = second.Run(url);
  EXPECT_EQ(refused.status, 1) << "the second run hung or ran";
  EXPECT_EQ(refused.out, test::kConnectFailedLine);
  EXPECT_NE(refused.err.find("Database already opened with engine instance"), std::string::npos)
      << refused.err;

  site.ReleaseStalls();
  auto status = holder->Wait(60s);
  ASSERT_TRUE(status.has_value()) << holder->Stderr();
  EXPECT_EQ(*status, 0) << holder->Stdout() << holder->Stderr();
  EXPECT_EQ(test::StoredComposers(database),
            (test::Composers{{1, "Autor"}, {2, "Autor"}, {3, "Autor"}}));
  std::string check;
  EXPECT_EQ(
      test::RunCommand("gfix -v -full -user SYSDBA -password velkadrum '" + database + "'", &check),
      0);
  EXPECT_EQ(check, "") << check;
}

}  // namespace
