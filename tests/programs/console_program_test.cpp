// lirenta-console as built, copied into a folder with its settings file, against the fixture
// lyrics site and a real database (embedded, and through the server on loopback): the run,
// settings it cannot use, and databases that cannot take the run (read-only, without the table
// or one of its columns, with a column longer than its field, a server killed in the middle of
// a run). Each failure ends with a clear message on standard output and exit status 1, and the
// database holds either every update made before the failure or none of them.
#include <gtest/gtest.h>

#include "app/U_Principal.h"
#include "tests/support/FirebirdFixture.h"
#include "tests/support/LyricsSite.h"
#include "tests/support/ProgramFolder.h"
#include "tests/support/RecordedWindow.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/SongRows.h"

namespace {

using namespace std::chrono_literals;
using Server = test::ScriptedServer;

// The default songs as the database is made.
const test::Composers kUnchanged = {{1, std::nullopt}, {2, std::nullopt}, {3, "Desconhecido"}};

// Composer pages for the three default songs.
void AddDefaultPages(test::LyricsSite& site) {
  site.AddComposerPage("trio-flor-e-cafe/cancao-do-mar.html", "Ana Reis");
  site.AddComposerPage("ac-dc-do-sertao/quem.html", "Z\xE9 Ramalhete");
  site.AddComposerPage("banda-ebano/ebano.html", "M\xE1rio Quintela");
}

class ConsoleProgram : public testing::Test {
 protected:
  // Starts `site` and runs the program on `databaseName` against it.
  test::ProgramOutcome RunOn(const std::string& databaseName, test::LyricsSite& site) {
    EXPECT_TRUE(site.Start());
    folder_.Settings(databaseName);
    return folder_.Run(site.BaseUrl());
  }
  test::ProgramFolder folder_;
  test::LyricsSite site_;
};

// The same against a site with the default songs' pages.
class DatabaseFaults : public ConsoleProgram {
 protected:
  void SetUp() override { AddDefaultPages(site_); }
};

TEST_F(ConsoleProgram, FillsInTheComposersAndReportsCompletion) {
  test::FirebirdDatabase db;
  test::LyricsSite site({"--chunked-every", "2"});
  site.AddComposerPage("trio-flor-e-cafe/cancao-do-mar-cifrada.html", "Ana Reis");
  site.AddComposerPage("banda-ebano/ebano.html", "M\xE1rio Quintela &amp; Lia");
  test::ProgramOutcome run = RunOn(db.Path(), site);
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(run.out,
            "Atualiza\xC3\xA7\xC3\xA3o conclu\xC3\xAD"
            "da.\n");
  EXPECT_NE(run.err.find("Total: 3\n"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("Registro atual: 3 of 3 (100%)\n"), std::string::npos) << run.err;
  EXPECT_EQ(test::StoredComposers(db.Path()),
            (test::Composers{{1, "Ana Reis"}, {2, std::nullopt}, {3, "M\xE1rio Quintela & Lia"}}));
}

// Pages as sites write them today: UTF-8 declared in the header (sent one byte per chunk, so
// that every character of two bytes straddles two chunks) or only in a <meta>, references and
// links. The rows get what the reader of each page sees, in Windows-1252, and so does the
// report, in UTF-8.
TEST_F(ConsoleProgram, WritesTheComposerAsThePageShowsIt) {
  test::FirebirdDatabase db;
  test::LyricsSite site({"--chunked", "--chunk-size", "1"});
  site.AddPage("trio-flor-e-cafe/cancao-do-mar.html",
               "<p>Compositores: Ant\xC3\xB4nio Carlos Jobim &amp; Vin\xC3\xAD"
               "cius de Moraes</p>");
  site.AddPage("trio-flor-e-cafe/cancao-do-mar.html.headers",
               "Content-Type: text/html; charset=utf-8\n");
  site.AddPage("ac-dc-do-sertao/quem.html",
               "<meta charset=\"utf-8\"><p>Compositor: <a href=\"/compositor/ze\">Z\xC3\xA9 "
               "Ramalhete</a></p>");
  site.AddComposerPage("banda-ebano/ebano.html", "Jo&atilde;o Bosco &#38; Aldir Blanc");
  const std::string report = folder_.Folder().File("report.tsv");
  EXPECT_TRUE(site.Start());
  folder_.Settings(db.Path());
  test::ProgramOutcome run = folder_.Run(site.BaseUrl(), {"--report", report});
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  const std::string jobim =
      "Ant\xF4nio Carlos Jobim & Vin\xED"
      "cius de Moraes";
  EXPECT_EQ(
      test::StoredComposers(db.Path()),
      (test::Composers{{1, jobim}, {2, "Z\xE9 Ramalhete"}, {3, "Jo\xE3o Bosco & Aldir Blanc"}}));
  EXPECT_NE(test::ReadFile(report).find("\t200 OK\t" + test::Utf8(jobim) + "\t\n"),
            std::string::npos)
      << test::ReadFile(report);
}

TEST_F(ConsoleProgram, UnusableSettingsEndWithTheirMessageAndStatusOne) {
  test::ProgramOutcome run = folder_.Run("http://127.0.0.1:9/");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "Arquivo BaseKavro.ini n\xC3\xA3o encontrado.\n");
  folder_.Settings(folder_.Folder().File("nenhuma.fdb"));
  run = folder_.Run("http://127.0.0.1:9/");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "N\xC3\xA3o foi poss\xC3\xADvel conectar com a Base de Dados.\n");
  // The engine's own lines, as it gave them, on standard error.
  EXPECT_NE(run.err.find("I/O error during \"open\" operation for file \"" +
                         folder_.Folder().File("nenhuma.fdb") + "\"\n"),
            std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("\nNo such file or directory\n"), std::string::npos) << run.err;
}

TEST_F(ConsoleProgram, WorksThroughTheFirebirdServerOnLoopback) {
  test::FirebirdServer* server = test::FirebirdServer::Instance();
  ASSERT_NE(server, nullptr) << "no Firebird server: " << test::FirebirdServer::Reason();
  test::FirebirdDatabase db;
  site_.AddComposerPage("ac-dc-do-sertao/quem-traducao.html", "Z\xE9 Ramalhete");
  test::ProgramOutcome run = RunOn(server->ConnectString(db.Path()), site_);
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  auto stored = test::StoredComposers(server->ConnectString(db.Path()));
  EXPECT_EQ(stored[2], "Z\xE9 Ramalhete");
  EXPECT_EQ(stored[3], "Desconhecido");
}

TEST_F(DatabaseFaults, ReadOnlyDatabaseShowsTheServerMessageAndKeepsEveryRow) {
  test::FirebirdDatabase db;
  std::string output;
  ASSERT_EQ(
      test::RunCommand("gfix -mode read_only -user SYSDBA -password velkadrum '" + db.Path() + "'",
                       &output),
      0)
      << output;
  test::ProgramOutcome run = RunOn(db.Path(), site_);
  EXPECT_EQ(run.status, 1) << run.out << run.err;
  EXPECT_EQ(run.out, "attempted update on read-only database.\n");
  EXPECT_EQ(test::StoredComposers(db.Path()), kUnchanged);
}

TEST_F(DatabaseFaults, MissingTableOrColumnShowsWhatIsMissing) {
  struct Case {
    std::vector<test::Song> songs;
    std::string sql, missing;
  };
  for (const Case& c : {Case{{}, "DROP TABLE Tb_Musicas;", "Table unknown\nTB_MUSICAS"},
                        Case{test::DefaultSongs(), "ALTER TABLE Tb_Musicas DROP MUS_COMPOSITOR;",
                             "MUS_COMPOSITOR"}}) {
    test::FirebirdDatabase db(c.songs, c.sql);
    test::ProgramOutcome run = RunOn(db.Path(), site_);
    EXPECT_EQ(run.status, 1) << c.sql;
    // The show event's message, then the run's own try at the song list.
    EXPECT_EQ(run.out.rfind(test::kConnectFailedLine, 0), 0u) << run.out;
    EXPECT_NE(run.out.find(c.missing), std::string::npos) << run.out;
    EXPECT_TRUE(site_.RequestLines().empty());
  }
}

TEST_F(DatabaseFaults, TitleLongerThanItsFieldEndsTheRunAfterCommittingTheRowsBefore) {
  // MUS_NOME widened to 100; the second song's title has 60 characters.
  test::FirebirdDatabase db(test::DefaultSongs(),
                            "ALTER TABLE Tb_Musicas ALTER MUS_NOME TYPE VARCHAR(100);\nCOMMIT;\n"
                            "UPDATE Tb_Musicas SET MUS_NOME = '" +
                                std::string(60, 'q') + "' WHERE MUS_CODIGO = 2;");
  test::ProgramOutcome run = RunOn(db.Path(), site_);
  EXPECT_EQ(run.status, 1) << run.out << run.err;
  EXPECT_EQ(run.out, "Size Mismatch - Field MUS_NOME size is too small for data.\n") << run.out;
  // The row done before the failure is kept.
  EXPECT_EQ(test::StoredComposers(db.Path()),
            (test::Composers{{1, "Ana Reis"}, {2, std::nullopt}, {3, "Desconhecido"}}));
}

TEST_F(DatabaseFaults, LongStoredComposerInAWiderColumnIsReplacedWhole) {
  // The run never reads the composer column; a 60-character value there is simply replaced.
  test::FirebirdDatabase db(
      {},
      "ALTER TABLE Tb_Musicas ALTER MUS_COMPOSITOR TYPE VARCHAR(100);\nCOMMIT;\n"
      "INSERT INTO Tb_Musicas VALUES (1, 'Can\xE7\xE3o do Mar', 'Trio Flor & Caf\xE9', '" +
          std::string(60, 'c') +
          "');\n"
          "INSERT INTO Tb_Musicas VALUES (2, 'Sem p\xE1gina', 'Ningu\xE9m', '" +
          std::string(60, 'd') + "');");
  test::ProgramOutcome run = RunOn(db.Path(), site_);
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(run.out, test::kCompletedLine);
  EXPECT_EQ(test::StoredComposers(db.Path()),
            (test::Composers{{1, "Ana Reis"}, {2, std::string(60, 'd')}}));
}

using DatabaseServerFaults = DatabaseFaults;

TEST_F(DatabaseServerFaults, ServerKilledInTheMiddleOfARunLosesOnlyWhatWasNotYetCommitted) {
  test::FirebirdServer* server = test::FirebirdServer::Instance();
  ASSERT_NE(server, nullptr) << "no Firebird server: " << test::FirebirdServer::Reason();
  test::FirebirdDatabase db;
  // Song 1 is found and updated. The kept connection is dropped as song 2's request arrives,
  // which tells the test that song 1's update is made; the program asks once more, and that
  // answer waits until the test has killed the database server, so song 2's update meets a
  // dead connection. Song 1's update is younger than the commit interval when song 2's lookup
  // begins, and the next commit would come after song 2.
  Server site(
      {{Server::ExpectHead(), Server::Send(test::PageAnswer("<p>Compositor: Ana Reis</p>")),
        Server::ExpectHead(), Server::Close()},
       {Server::ExpectHead(), Server::Stall(3s),
        Server::Send(test::PageAnswer("<p>Compositor: Tarde Demais</p>")), Server::AwaitClose()}},
      Server::Ms(20000), Server::Ms(60000));
  test::ProgramFolder folder;
  folder.Settings(server->ConnectString(db.Path()));
  auto child = folder.Start("http://127.0.0.1:" + std::to_string(site.Port()) + "/");
  ASSERT_TRUE(site.WaitFinished(1, 20s)) << child->Stdout() << child->Stderr();
  ASSERT_NE(site.Received(0).find("GET /ac-dc-do-sertao/quem.html"), std::string::npos);
  server->Kill();

  auto status = child->Wait(30s);
  ASSERT_TRUE(status.has_value()) << "the program must end on its own";
  EXPECT_EQ(*status, 1) << child->Stdout() << child->Stderr();
  const std::string out = child->Stdout();
  // The lost connection itself is shown, not the transaction it took with it, and what was
  // kept: no commit came before it.
  const std::string kept = test::Utf8(
      "). Parado ap\xF3s 1 de 3 m\xFAsicas; os 0 registros gravados at\xE9 a \xFAltima "
      "confirma\xE7\xE3o foram mantidos; termine com --only-missing.\n");
  const std::string lost = test::Utf8("A conex\xE3o com a Base de Dados foi perdida (");
  EXPECT_TRUE(out == lost + "Error reading data from the connection" + kept ||
              out == lost + "Error writing data to the connection" + kept)
      << out;
  EXPECT_NE(child->Stderr().find(test::SummaryLine(2, 2, 0, 0)), std::string::npos)
      << child->Stderr();
  std::string reason;
  ASSERT_TRUE(server->Start(reason)) << reason;
  // Nothing was committed before the server died: song 1's update went with it, and nothing
  // else was lost.
  EXPECT_EQ(test::StoredComposers(server->ConnectString(db.Path())), kUnchanged);
}

TEST_F(DatabaseServerFaults, ServerKilledBeforeTheLastCommitIsALostConnectionToo) {
  // The last song is written and the server dies before the commit at the run's end, so the
  // loss reaches the run through the transaction, which leaves the attachment open.
  test::FirebirdServer* server = test::FirebirdServer::Instance();
  ASSERT_NE(server, nullptr) << "no Firebird server: " << test::FirebirdServer::Reason();
  test::FirebirdDatabase db;
  const std::string connect = server->ConnectString(db.Path());
  ASSERT_TRUE(site_.Start());
  test::RecordedWindow w(site_.BaseUrl());
  w.PointAt(connect);
  TFrmPrincipal& window = w.Open();
  w.app.Run();
  w.app.SetPendingInput(
      [&] { w.app.SetPendingInput([&] { w.app.SetPendingInput([&] { server->Kill(); }); }); });
  w.Button().Click();
  EXPECT_TRUE(w.app.Failures().empty());
  EXPECT_EQ(w.app.Messages(),
            std::vector<std::string>{
                "A conex\xE3o com a Base de Dados foi perdida (Error reading data from the "
                "connection). Parado ap\xF3s 3 de 3 m\xFAsicas; os 0 registros gravados at\xE9 a "
                "\xFAltima confirma\xE7\xE3o foram mantidos; termine com --only-missing."});
  EXPECT_FALSE(window.DB_Kavro->Connected());
  std::string reason;
  ASSERT_TRUE(server->Start(reason)) << reason;
  EXPECT_EQ(test::StoredComposers(connect), kUnchanged);
  // The next press connects again and completes the run.
  w.Button().Click();
  EXPECT_EQ(w.app.Messages().back(), app::kCompletedMessage);
}

TEST_F(DatabaseServerFaults, WindowStaysUsableAcrossServerDeathsAndReconnects) {
  test::FirebirdServer* server = test::FirebirdServer::Instance();
  ASSERT_NE(server, nullptr) << "no Firebird server: " << test::FirebirdServer::Reason();
  test::FirebirdDatabase db;
  const std::string connect = server->ConnectString(db.Path());
  ASSERT_TRUE(site_.Start());
  {
    test::RecordedWindow w(site_.BaseUrl());
    w.PointAt(connect);
    TFrmPrincipal& window = w.Open();
    test::RecordingApplication& app = w.app;
    app.Run();
    ASSERT_TRUE(window.DB_Kavro->Connected());

    // 1. The server dies after the first row: the second row's update meets the lost
    // connection, the run stops with the line that says so, the window stays and the button
    // comes back.
    app.SetPendingInput([&] {
      if (server->Running()) server->Kill();
    });
    w.Button().Click();
    app.SetPendingInput(nullptr);
    EXPECT_TRUE(window.btnBuscar->Enabled());
    EXPECT_TRUE(app.Failures().empty());
    ASSERT_EQ(app.Messages().size(), 1u);
    EXPECT_EQ(app.Messages()[0].rfind("A conex\xE3o com a Base de Dados foi perdida (Error ", 0),
              0u)
        << app.Messages()[0];
    EXPECT_NE(app.Messages()[0].find(" the connection). Parado ap\xF3s 1 de 3 m\xFAsicas; os 0 "
                                     "registros gravados"),
              std::string::npos)
        << app.Messages()[0];
    EXPECT_TRUE(window.Tally.connectionLost);
    EXPECT_FALSE(window.DB_Kavro->Connected());

    // 2. The server is back: the next press connects again and the run completes.
    std::string reason;
    ASSERT_TRUE(server->Start(reason)) << reason;
    w.Button().Click();
    ASSERT_EQ(app.Messages().size(), 2u);
    EXPECT_EQ(app.Messages()[1], app::kCompletedMessage);

    // 3. The server dies while the window is idle: the next press meets the dead connection,
    // says so, and the one after reconnects.
    server->Kill();
    w.Button().Click();
    EXPECT_TRUE(window.btnBuscar->Enabled());
    ASSERT_EQ(app.Messages().size(), 3u);
    EXPECT_NE(app.Messages()[2].find(" the connection). Parado ap\xF3s 0 de "), std::string::npos)
        << app.Messages()[2];
    ASSERT_TRUE(server->Start(reason)) << reason;
    w.Button().Click();
    EXPECT_EQ(app.Messages().size(), 4u);
    EXPECT_TRUE(app.Failures().empty());
    EXPECT_EQ(w.Button().History(),
              (std::vector<bool>{false, true, false, true, false, true, false, true}));
  }
  EXPECT_EQ(test::StoredComposers(connect),
            (test::Composers{{1, "Ana Reis"}, {2, "Z\xE9 Ramalhete"}, {3, "M\xE1rio Quintela"}}));
}

}  // namespace
