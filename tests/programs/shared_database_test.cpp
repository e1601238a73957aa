// Two people on one database through a Firebird server on loopback: a song whose row another
// transaction holds is skipped and counted, never a failure of the run. lirenta-console as
// built, against the test's own private server.
#include <gtest/gtest.h>

#include <iostream>
#include <thread>

#include "tests/support/FirebirdFixture.h"
#include "tests/support/LyricsSite.h"
#include "tests/support/ProgramFolder.h"
#include "tests/support/SongRows.h"
#include "tests/support/WindowConnection.h"

namespace {

using namespace std::chrono_literals;

class SharedDatabase : public testing::Test {
 protected:
  // `songs` numbered songs by Ana, each with its page naming "Autor N".
  void Songs(int songs, std::vector<std::string> siteArgs = {}) {
    site_ = std::make_unique<test::LyricsSite>(std::move(siteArgs));
    db_ = std::make_unique<test::FirebirdDatabase>(test::NumberedSongs(songs));
    for (int i = 1; i <= songs; ++i)
      site_->AddComposerPage("ana/t" + std::to_string(i) + ".html", "Autor " + std::to_string(i));
    ASSERT_TRUE(site_->Start());
    ASSERT_NE(server_, nullptr) << "no Firebird server: " << test::FirebirdServer::Reason();
    connect_ = server_->ConnectString(db_->Path());
  }
  void ExpectEveryComposer(int songs, const test::Composers& besides = {}) {
    test::Composers expected;
    for (int i = 1; i <= songs; ++i) expected[i] = "Autor " + std::to_string(i);
    for (const auto& [code, composer] : besides) expected[code] = composer;
    EXPECT_EQ(test::StoredComposers(connect_), expected);
  }

  test::FirebirdServer* server_ = test::FirebirdServer::Instance();
  std::unique_ptr<test::FirebirdDatabase> db_;
  std::unique_ptr<test::LyricsSite> site_;
  std::string connect_;
};

TEST_F(SharedDatabase, RowHeldByAnotherTransactionIsSkippedCountedAndTheRestWritten) {
  Songs(3);
  test::WindowConnection other(connect_);
  other.database.Open();
  other.transaction.Start();
  ASSERT_EQ(test::ExecImmediate(other.database, other.transaction,
                                "UPDATE Tb_Musicas SET Mus_Compositor = 'Outra Pessoa' "
                                "WHERE Mus_Codigo = 2"),
            0);
  test::ProgramFolder folder;
  folder.Settings(connect_);
  test::ProgramOutcome run = folder.Run(site_->BaseUrl());
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(run.out, test::kCompletedLine);
  EXPECT_NE(run.err.find(test::Utf8("Resumo: 3 m\xFAsicas consultadas, 3 compositores "
                                    "encontrados, 2 registros gravados, 0 m\xFAsicas puladas, 1 "
                                    "m\xFAsicas em uso por outra execu\xE7\xE3o.\n")),
            std::string::npos)
      << run.err;
  other.transaction.Commit();
  ExpectEveryComposer(3, {{2, "Outra Pessoa"}});
}

TEST_F(SharedDatabase, TwoRunsAtOnceBothEndWellAndStoreEveryComposer) {
  // The second run starts a moment after the first and walks the same rows just behind
  // it, into the songs the first has written and not yet committed.
  constexpr int kSongs = 3000;
  Songs(kSongs);
  test::ProgramFolder first, second;
  first.Settings(connect_);
  second.Settings(connect_);
  auto a = first.Start(site_->BaseUrl());
  std::this_thread::sleep_for(100ms);
  auto b = second.Start(site_->BaseUrl());
  for (auto* run : {a.get(), b.get()}) {
    auto status = run->Wait(120s);
    ASSERT_TRUE(status.has_value()) << run->Stderr();
    EXPECT_EQ(*status, 0) << run->Stdout() << run->Stderr();
    EXPECT_EQ(run->Stdout(), test::kCompletedLine) << run->Stderr();
    for (const char* engine : {"deadlock", "update conflicts", "concurrent transaction"})
      EXPECT_EQ(run->Stderr().find(engine), std::string::npos) << run->Stderr();
  }
  // The runs met: the second found rows the first held.
  EXPECT_NE(b->Stderr().find(test::Utf8("em uso por outra execu\xE7\xE3o.")), std::string::npos)
      << b->Stderr();
  ExpectEveryComposer(kSongs);
}

TEST_F(SharedDatabase, SecondRunWithOnlyMissingSkipsWhatTheFirstHasCommitted) {
  // A site that answers in 10 ms: the first run takes several seconds and commits as it goes.
  constexpr int kSongs = 600;
  Songs(kSongs, {"--delay-ms", "10"});
  test::ProgramFolder first, second;
  first.Settings(connect_);
  second.Settings(connect_);
  auto a = first.Start(site_->BaseUrl());
  std::this_thread::sleep_for(3s);
  int committed = 0;
  for (const auto& [code, composer] : test::StoredComposers(connect_)) committed += bool(composer);
  auto b = second.Start(site_->BaseUrl(), {"--only-missing"});
  for (auto* run : {a.get(), b.get()}) {
    auto status = run->Wait(120s);
    ASSERT_TRUE(status.has_value()) << run->Stderr();
    EXPECT_EQ(*status, 0) << run->Stdout() << run->Stderr();
  }
  // "Resumo: ..., S músicas puladas": at least what the first run had committed when the second
  // started.
  const std::string err = b->Stderr();
  const std::size_t skippedAt = err.rfind(test::Utf8(" m\xFAsicas puladas"));
  ASSERT_NE(skippedAt, std::string::npos) << err;
  const std::size_t from = err.rfind(' ', skippedAt - 1) + 1;
  const int skipped = std::stoi(err.substr(from, skippedAt - from));
  std::cout << "committed by the first run when the second started: " << committed
            << "; skipped by the second: " << skipped << " of " << kSongs << "\n";
  EXPECT_GT(committed, 0) << "the first run did not commit as it went";
  EXPECT_GE(skipped, committed) << err;
  ExpectEveryComposer(kSongs);
}

}  // namespace
