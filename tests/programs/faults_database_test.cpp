// lirenta-console as built against databases that cannot take the run: read-only, without the
// table or one of its columns, with a column longer than its field, and a server killed in the
// middle of a run. Each case ends with a clear message on standard output and exit status 1,
// and the database holds either every update made before the failure or none of them.
#include <gtest/gtest.h>

#include <thread>

#include "app/ComposerLookup.h"
#include "app/U_Principal.h"
#include "tests/support/ConsoleRun.h"
#include "tests/support/FirebirdFixture.h"
#include "tests/support/LyricsSite.h"
#include "tests/support/RecordingApplication.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/StoredSongs.h"

namespace {

using namespace std::chrono_literals;
using Server = test::ScriptedServer;

const std::string kCompleted = test::Utf8(
                                   "Atualiza\xE7\xE3o conclu\xED"
                                   "da.") +
                               "\n";
const std::string kConnectFailed =
    test::Utf8("N\xE3o foi poss\xEDvel conectar com a Base de Dados.") + "\n";

// Composer pages for the three default songs.
void AddDefaultPages(test::LyricsSite& site) {
  site.AddComposerPage("trio-flor-e-cafe/cancao-do-mar.html", "Ana Reis");
  site.AddComposerPage("ac-dc-do-sertao/quem.html", "Z\xE9 Ramalhete");
  site.AddComposerPage("banda-ebano/ebano.html", "M\xE1rio Quintela");
}

class DatabaseFaults : public testing::Test {
 protected:
  void SetUp() override {
    AddDefaultPages(site_);
    ASSERT_TRUE(site_.Start());
  }
  test::ConsoleOutcome RunOn(const std::string& databaseName) {
    folder_.Settings(databaseName);
    return folder_.Run(site_.BaseUrl());
  }
  test::LyricsSite site_;
  test::ConsoleFolder folder_;
};

void ExpectDefaultSongsUnchanged(const std::map<int, test::StoredSong>& stored) {
  ASSERT_EQ(stored.size(), 3u);
  EXPECT_EQ(stored.at(1).Compositor, std::nullopt);
  EXPECT_EQ(stored.at(2).Compositor, std::nullopt);
  EXPECT_EQ(stored.at(3).Compositor, "Desconhecido");
}

TEST_F(DatabaseFaults, ReadOnlyDatabaseShowsTheServerMessageAndKeepsEveryRow) {
  test::FirebirdDatabase db;
  std::string output;
  ASSERT_EQ(
      test::RunCommand("gfix -mode read_only -user SYSDBA -password velkadrum '" + db.Path() + "'",
                       &output),
      0)
      << output;
  test::ConsoleOutcome run = RunOn(db.Path());
  EXPECT_EQ(run.status, 1) << run.out << run.err;
  EXPECT_EQ(run.out, "attempted update on read-only database.\n");
  ExpectDefaultSongsUnchanged(test::ReadStoredSongs(db.Path()));
}

TEST_F(DatabaseFaults, MissingTableOrColumnShowsWhatIsMissing) {
  {
    test::FirebirdDatabase db(std::vector<test::Song>{}, "DROP TABLE Tb_Musicas;");
    test::ConsoleOutcome run = RunOn(db.Path());
    EXPECT_EQ(run.status, 1);
    // The show event's message, then the run's own try at the song list.
    EXPECT_EQ(run.out.rfind(kConnectFailed, 0), 0u) << run.out;
    EXPECT_NE(run.out.find("Table unknown\nTB_MUSICAS"), std::string::npos) << run.out;
    EXPECT_TRUE(site_.RequestLines().empty());
  }
  {
    test::FirebirdDatabase db(test::DefaultSongs(), "ALTER TABLE Tb_Musicas DROP MUS_COMPOSITOR;");
    test::ConsoleOutcome run = RunOn(db.Path());
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out.rfind(kConnectFailed, 0), 0u) << run.out;
    EXPECT_NE(run.out.find("MUS_COMPOSITOR"), std::string::npos) << run.out;
    EXPECT_TRUE(site_.RequestLines().empty());
  }
}

TEST_F(DatabaseFaults, TitleLongerThanItsFieldEndsTheRunAfterCommittingTheRowsBefore) {
  // MUS_NOME widened to 100; the second song's title has 60 characters.
  test::FirebirdDatabase db(test::DefaultSongs(),
                            "ALTER TABLE Tb_Musicas ALTER MUS_NOME TYPE VARCHAR(100);\n"
                            "COMMIT;\n"
                            "UPDATE Tb_Musicas SET MUS_NOME = '" +
                                std::string(60, 'q') + "' WHERE MUS_CODIGO = 2;");
  test::ConsoleOutcome run = RunOn(db.Path());
  EXPECT_EQ(run.status, 1) << run.out << run.err;
  EXPECT_EQ(run.out, "Size Mismatch - Field MUS_NOME size is too small for data.\n") << run.out;
  auto stored = test::ReadStoredSongs(db.Path());
  EXPECT_EQ(stored[1].Compositor, "Ana Reis") << "the row done before the failure is kept";
  EXPECT_EQ(stored[2].Compositor, std::nullopt);
  EXPECT_EQ(stored[3].Compositor, "Desconhecido");
}

TEST_F(DatabaseFaults, LongStoredComposerInAWiderColumnIsReplacedWhole) {
  // The run never reads the composer column; a 60-character value there is simply replaced.
  test::FirebirdDatabase db(
      std::vector<test::Song>{},
      "ALTER TABLE Tb_Musicas ALTER MUS_COMPOSITOR TYPE VARCHAR(100);\n"
      "COMMIT;\n"
      "INSERT INTO Tb_Musicas VALUES (1, 'Can\xE7\xE3o do Mar', "
      "'Trio Flor & Caf\xE9', '" +
          std::string(60, 'c') +
          "');\n"
          "INSERT INTO Tb_Musicas VALUES (2, 'Sem p\xE1gina', 'Ningu\xE9m', '" +
          std::string(60, 'd') + "');");
  test::ConsoleOutcome run = RunOn(db.Path());
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(run.out, kCompleted);
  auto stored = test::ReadStoredSongs(db.Path());
  EXPECT_EQ(stored[1].Compositor, "Ana Reis");
  EXPECT_EQ(stored[2].Compositor, std::string(60, 'd'));
}

TEST(DatabaseServerFaults, ServerKilledInTheMiddleOfARunLosesTheWholeRunButNoMore) {
  test::FirebirdServer* server = test::FirebirdServer::Instance();
  ASSERT_NE(server, nullptr) << "no Firebird server: " << test::FirebirdServer::Reason();
  test::FirebirdDatabase db;
  const std::string page1 = "<p>Compositor: Ana Reis</p>";
  const std::string page2 = "<p>Compositor: Tarde Demais</p>";
  auto ok = [](const std::string& body) {
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
  };
  // Song 1 is found and updated; the answer for song 2 waits until the test has killed the
  // database server, so its update meets a dead connection.
  Server site({{Server::ExpectHead(), Server::Send(ok(page1)), Server::ExpectHead(),
                Server::Stall(3s), Server::Send(ok(page2)), Server::AwaitClose()}},
              Server::Ms(20000), Server::Ms(60000));
  test::ConsoleFolder folder;
  folder.Settings(server->ConnectString(db.Path()));
  auto child = folder.Start("http://127.0.0.1:" + std::to_string(site.Port()) + "/");

  const auto deadline = std::chrono::steady_clock::now() + 20s;
  while (site.Received(0).find("GET /ac-dc-do-sertao/quem.html") == std::string::npos &&
         std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(10ms);
  ASSERT_NE(site.Received(0).find("GET /ac-dc-do-sertao/quem.html"), std::string::npos)
      << child->Stdout() << child->Stderr();
  server->Kill();

  auto status = child->Wait(30s);
  ASSERT_TRUE(status.has_value()) << "the program must end on its own";
  EXPECT_EQ(*status, 1) << child->Stdout() << child->Stderr();
  const std::string out = child->Stdout();
  // The lost connection itself is shown, not the transaction it took with it.
  EXPECT_TRUE(out == "Error reading data from the connection.\n" ||
              out == "Error writing data to the connection.\n")
      << out;
  std::string reason;
  ASSERT_TRUE(server->Start(reason)) << reason;
  // Nothing was committed before the server died: song 1's update went with it.
  ExpectDefaultSongsUnchanged(test::ReadStoredSongs(server->ConnectString(db.Path())));
}

TEST(DatabaseServerFaults, WindowStaysUsableAcrossServerDeathsAndReconnects) {
  test::FirebirdServer* server = test::FirebirdServer::Instance();
  ASSERT_NE(server, nullptr) << "no Firebird server: " << test::FirebirdServer::Reason();
  test::FirebirdDatabase db;
  const std::string connect = server->ConnectString(db.Path());
  test::LyricsSite site;
  AddDefaultPages(site);
  ASSERT_TRUE(site.Start());
  setenv(app::kLyricsAddressVariable, site.BaseUrl().c_str(), 1);
  test::TempDir settings;
  test::WriteFile(settings.File(app::kSettingsFileName), "[BANCO]\r\nCAMINHO=" + connect + "\r\n");

  test::RecordingApplication app;
  app.SetTitle(app::kApplicationTitle);
  {
    TFrmPrincipal window(app);
    window.SettingsDirectory = settings.Path() + "/";
    test::RecordingButton* button = app.MainForm()->FindButton("btnBuscar");
    app.Run();
    ASSERT_TRUE(window.DB_Kavro->Connected());

    // 1. The server dies after the first row: the second row's update meets the lost
    // connection, the run ends with that failure and the button comes back.
    app.SetPendingInput([&] {
      if (server->Running()) server->Kill();
    });
    button->Click();
    app.SetPendingInput(nullptr);
    EXPECT_TRUE(window.btnBuscar->Enabled());
    ASSERT_EQ(app.Failures().size(), 1u);
    EXPECT_NE(app.Failures()[0].find("connection"), std::string::npos) << app.Failures()[0];
    EXPECT_TRUE(app.Messages().empty());
    EXPECT_FALSE(window.DB_Kavro->Connected());

    // 2. The server is back: the next press connects again and the run completes.
    std::string reason;
    ASSERT_TRUE(server->Start(reason)) << reason;
    button->Click();
    EXPECT_EQ(app.Messages(), std::vector<std::string>{app::kCompletedMessage});
    EXPECT_EQ(app.Failures().size(), 1u);

    // 3. The server dies while the window is idle: the next press fails on the dead
    // connection with a message, and the one after reconnects.
    server->Kill();
    button->Click();
    EXPECT_TRUE(window.btnBuscar->Enabled());
    ASSERT_EQ(app.Failures().size(), 2u);
    EXPECT_NE(app.Failures()[1].find("connection"), std::string::npos) << app.Failures()[1];
    ASSERT_TRUE(server->Start(reason)) << reason;
    button->Click();
    EXPECT_EQ(app.Messages().size(), 2u);
    EXPECT_EQ(app.Failures().size(), 2u);
    EXPECT_EQ(button->History(),
              (std::vector<bool>{false, true, false, true, false, true, false, true}));
  }
  unsetenv(app::kLyricsAddressVariable);
  auto stored = test::ReadStoredSongs(connect);
  EXPECT_EQ(stored[1].Compositor, "Ana Reis");
  EXPECT_EQ(stored[2].Compositor, "Z\xE9 Ramalhete");
  EXPECT_EQ(stored[3].Compositor, "M\xE1rio Quintela");
}

}  // namespace
