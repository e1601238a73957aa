// The settings file, the connection and the update run, driven through the recording
// front-end against the embedded engine and the fixture lyrics site.
#include <gtest/gtest.h>

#include <filesystem>

#include "runtime/Text.h"
#include "tests/support/FirebirdFixture.h"
#include "tests/support/LyricsSite.h"
#include "tests/support/RecordedWindow.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/SongRows.h"

namespace {

class UpdateRun : public testing::Test {
 protected:
  // Starts `site` and points the window's lookups at it.
  void UseSite(test::LyricsSite& site) {
    ASSERT_TRUE(site.Start());
    w_.SetSite(site.BaseUrl());
  }
  // The window on `db`, shown (its show event connects) and its button pressed once.
  TFrmPrincipal& RunOn(const test::FirebirdDatabase& db) {
    w_.PointAt(db.Path());
    TFrmPrincipal& window = w_.Open();
    w_.ShowAndClick();
    return window;
  }
  test::RecordedWindow w_;
  test::RecordingApplication& app_ = w_.app;
};

TEST_F(UpdateRun, MissingSettingsFileShowsOnlyItsMessageOnEveryPress) {
  TFrmPrincipal& window = w_.Open();
  app_.Run();  // the show event
  ASSERT_EQ(app_.Messages(), std::vector<std::string>{"Arquivo BaseKavro.ini n\xE3o encontrado."});
  w_.Button().Click();
  w_.Button().Click();
  EXPECT_EQ(app_.Messages().size(), 3u);
  EXPECT_EQ(app_.Messages()[2], app::kSettingsMissingMessage);
  EXPECT_TRUE(app_.Failures().empty());
  EXPECT_TRUE(window.btnBuscar->Enabled());
  EXPECT_TRUE(w_.Button().History().empty()) << "the run must not start";
  EXPECT_EQ(window.lblTotal->Caption(), "Total: 0");
  EXPECT_FALSE(window.DB_Kavro->Connected());
}

TEST_F(UpdateRun, UnusableSettingsGiveTheirMessageAndNoConnection) {
  TFrmPrincipal& window = w_.Open();
  // A folder named like the settings file counts as missing.
  const std::string settings = w_.Folder().File(app::kSettingsFileName);
  std::filesystem::create_directory(settings);
  EXPECT_FALSE(window.ConnectDatabase());
  std::filesystem::remove(settings);
  // A missing key, a database that is not there, and a name cut at 2047 characters.
  for (const std::string& content :
       {std::string("[BANCO]\r\nOUTRA=1\r\n"),
        "[BANCO]\r\nCAMINHO=" + w_.Folder().File("nao-existe.fdb") + "\r\n",
        "[BANCO]\nCAMINHO=/" + std::string(2099, 'x') + "\n"}) {
    w_.Settings(content);
    EXPECT_FALSE(window.ConnectDatabase()) << content;
  }
  EXPECT_EQ(window.DB_Kavro->DatabaseName().size(), 2047u);
  EXPECT_EQ(app_.Messages(),
            (std::vector<std::string>{app::kSettingsMissingMessage, app::kConnectFailedMessage,
                                      app::kConnectFailedMessage, app::kConnectFailedMessage}));
  // Each failure's own text goes to standard error, never into the box.
  ASSERT_EQ(app_.Diagnostics().size(), 3u);
  EXPECT_NE(app_.Diagnostics()[1].find("nao-existe.fdb"), std::string::npos);
  EXPECT_NE(app_.Diagnostics()[1].find("No such file or directory"), std::string::npos)
      << app_.Diagnostics()[1];
  EXPECT_FALSE(window.DB_Kavro->Connected());
}

TEST_F(UpdateRun, ConnectingWhileConnectedReopensFromScratch) {
  test::FirebirdDatabase db;
  w_.PointAt(db.Path());
  TFrmPrincipal& window = w_.Open();
  ASSERT_TRUE(window.ConnectDatabase());
  window.Q_Musicas->MoveNext();
  ASSERT_TRUE(window.ConnectDatabase());
  EXPECT_TRUE(window.DB_Kavro->Connected());
  EXPECT_TRUE(window.Q_Musicas->Active());
  EXPECT_EQ(window.Q_MusicasMUS_CODIGO->IntegerValue(), 1)
      << "the list starts again at its first row";
  EXPECT_TRUE(app_.Messages().empty());
}

TEST_F(UpdateRun, SongListFailingAfterTheAttachKeepsTheConnectionAndTheRunShowsTheFailure) {
  test::FirebirdDatabase db(std::vector<test::Song>{}, "DROP TABLE Tb_Musicas;");
  w_.PointAt(db.Path());
  TFrmPrincipal& window = w_.Open();
  app_.Run();
  EXPECT_EQ(app_.Messages(), std::vector<std::string>{app::kConnectFailedMessage});
  EXPECT_TRUE(window.DB_Kavro->Connected());
  EXPECT_FALSE(window.Q_Musicas->Active());

  w_.Button().Click();  // skips the connection, fails to open the list
  EXPECT_TRUE(window.btnBuscar->Enabled());
  EXPECT_EQ(w_.Button().History(), (std::vector<bool>{false, true}));
  ASSERT_EQ(app_.Failures().size(), 1u);
  EXPECT_NE(app_.Failures()[0].find("TB_MUSICAS"), std::string::npos) << app_.Failures()[0];
  EXPECT_EQ(app_.Messages().size(), 1u) << "no completion message";
}

TEST_F(UpdateRun, EmptyTableCountsZeroLooksUpNothingAndCompletes) {
  test::FirebirdDatabase db(std::vector<test::Song>{});
  test::LyricsSite site;
  UseSite(site);
  TFrmPrincipal& window = RunOn(db);
  EXPECT_EQ(window.lblTotal->Caption(), "Total: 0");
  EXPECT_EQ(window.ProgressBar1->Max(), 0);
  EXPECT_TRUE(app_.MainForm()->FindLabel("lblAtual")->History().empty());
  EXPECT_EQ(app_.Messages(), std::vector<std::string>{app::kCompletedMessage});
  EXPECT_TRUE(site.RequestLines().empty());
  EXPECT_TRUE(window.Trans_Kavro->Active()) << "the commit keeps the transaction";
}

TEST_F(UpdateRun, ThreeSongsWithOneComposerFoundGiveOneUpdate) {
  test::FirebirdDatabase db;  // songs 1, 2 (no composer) and 3 ("Desconhecido")
  test::LyricsSite site;
  site.AddComposerPage("ac-dc-do-sertao/quem.html", "  Z\xE9 Ramalhete ");
  UseSite(site);
  TFrmPrincipal& window = RunOn(db);
  EXPECT_EQ(window.lblTotal->Caption(), "Total: 3");
  EXPECT_EQ(window.lblAtual->Caption(), "Registro atual: 3");
  EXPECT_EQ(window.ProgressBar1->Max(), 3);
  EXPECT_EQ(window.ProgressBar1->Position(), 3);
  EXPECT_EQ(app_.Messages(), std::vector<std::string>{app::kCompletedMessage});
  EXPECT_EQ(app_.ProcessMessagesCalls(), 3);
  EXPECT_EQ(w_.Button().History(), (std::vector<bool>{false, true}));
  EXPECT_TRUE(window.Q_Musicas->Active());
  EXPECT_TRUE(window.Q_Musicas->AtEnd());
  w_.Close();
  // Song 1: three attempts; song 2: found at once; song 3: three attempts.
  EXPECT_EQ(site.RequestLines(),
            (std::vector<std::string>{"GET /trio-flor-e-cafe/cancao-do-mar.html HTTP/1.1",
                                      "GET /trio-flor-e-cafe/cancao-do-mar-cifrada.html HTTP/1.1",
                                      "GET /trio-flor-e-cafe/cancao-do-mar-traducao.html HTTP/1.1",
                                      "GET /ac-dc-do-sertao/quem.html HTTP/1.1",
                                      "GET /banda-ebano/ebano.html HTTP/1.1",
                                      "GET /banda-ebano/ebano-cifrada.html HTTP/1.1",
                                      "GET /banda-ebano/ebano-traducao.html HTTP/1.1"}));
  // Nothing found for song 3: its composer is kept.
  EXPECT_EQ(test::StoredComposers(db.Path()),
            (test::Composers{{1, std::nullopt}, {2, "Z\xE9 Ramalhete"}, {3, "Desconhecido"}}));
}

TEST_F(UpdateRun, FoundComposerReplacesTheStoredOneAndASecondRunRewinds) {
  test::FirebirdDatabase db;
  test::LyricsSite site;
  site.AddComposerPage("banda-ebano/ebano-traducao.html", "M\xE1rio Quintela");
  UseSite(site);
  TFrmPrincipal& window = RunOn(db);
  w_.Button().Click();  // the open list is walked again from its first row
  EXPECT_EQ(app_.Messages(),
            (std::vector<std::string>{app::kCompletedMessage, app::kCompletedMessage}));
  EXPECT_EQ(window.lblAtual->Caption(), "Registro atual: 3");
  EXPECT_EQ(site.RequestLines().size(), 18u);  // three attempts for each song, twice
  w_.Close();
  EXPECT_EQ(test::StoredComposers(db.Path())[3], "M\xE1rio Quintela");
}

TEST_F(UpdateRun, FailureMidRunCommitsWhatWasDoneAndShowsItsText) {
  // The second song's composer breaks a check constraint.
  test::FirebirdDatabase db(test::DefaultSongs(),
                            "ALTER TABLE Tb_Musicas ADD CONSTRAINT CK_SEM_BOOM CHECK "
                            "(MUS_COMPOSITOR IS NULL OR MUS_COMPOSITOR <> 'Boom');");
  test::LyricsSite site;
  site.AddComposerPage("trio-flor-e-cafe/cancao-do-mar.html", "Ana Reis");
  site.AddComposerPage("ac-dc-do-sertao/quem.html", "Boom");
  site.AddComposerPage("banda-ebano/ebano.html", "Nunca");
  UseSite(site);
  TFrmPrincipal& window = RunOn(db);
  EXPECT_TRUE(window.btnBuscar->Enabled());
  EXPECT_TRUE(app_.Messages().empty()) << "no completion message";
  ASSERT_EQ(app_.Failures().size(), 1u);
  EXPECT_NE(app_.Failures()[0].find("CK_SEM_BOOM"), std::string::npos) << app_.Failures()[0];
  EXPECT_EQ(window.lblAtual->Caption(), "Registro atual: 1");
  w_.Close();
  // Song 1 was committed before the failure.
  EXPECT_EQ(test::StoredComposers(db.Path()),
            (test::Composers{{1, "Ana Reis"}, {2, std::nullopt}, {3, "Desconhecido"}}));
}

TEST_F(UpdateRun, ClosingDuringARunFinishesEveryRowAndCommits) {
  test::FirebirdDatabase db;
  test::LyricsSite site;
  for (const char* page : {"trio-flor-e-cafe/cancao-do-mar.html", "ac-dc-do-sertao/quem.html",
                           "banda-ebano/ebano.html"})
    site.AddComposerPage(page, "Compositora Um");
  UseSite(site);
  w_.PointAt(db.Path());
  TFrmPrincipal& window = w_.Open();
  app_.Run();
  app_.SetPendingInput([this] { app_.Terminate(); });  // the close box during the first row
  w_.Button().Click();
  EXPECT_TRUE(app_.Terminated());
  EXPECT_EQ(window.lblAtual->Caption(), "Registro atual: 3");
  w_.Close();
  EXPECT_EQ(test::StoredComposers(db.Path()),
            (test::Composers{{1, "Compositora Um"}, {2, "Compositora Um"}, {3, "Compositora Um"}}));
}

TEST_F(UpdateRun, UnreachableSiteIsWaitedOutThenTheRunStopsAndSaysSo) {
  test::FirebirdDatabase db;
  test::LoopbackPort refusing(test::LoopbackPort::Kind::Refusing);
  w_.SetSite("http://127.0.0.1:" + std::to_string(refusing.Port()) + "/");
  w_.PointAt(db.Path());
  TFrmPrincipal& window = w_.Open();
  window.Options.maxWait = std::chrono::seconds(2);
  w_.ShowAndClick();
  // The first song is asked for at once, after 1 s, and when the 2 s are spent.
  ASSERT_EQ(app_.Waits().size(), 2u);
  EXPECT_EQ(app_.Waits()[0], std::chrono::milliseconds(1000));
  EXPECT_EQ(app_.Messages(),
            std::vector<std::string>{
                "O site de letras n\xE3o respondeu por 2 s (Connection refused). Parado ap\xF3s 0 "
                "de 3 m\xFAsicas; as altera\xE7\xF5"
                "es at\xE9 aqui foram gravadas."});
  EXPECT_TRUE(app_.Failures().empty());
  EXPECT_TRUE(window.btnBuscar->Enabled());
  const auto& captions = app_.MainForm()->FindLabel("lblAtual")->History();
  ASSERT_FALSE(captions.empty());
  EXPECT_EQ(captions[0], "aguardando o site de letras: nova tentativa em 1 s (Connection refused)");
  EXPECT_EQ(captions.back(), "Registro atual: 0");
  EXPECT_TRUE(window.Tally.siteSilent);
  w_.Close();
  auto stored = test::StoredComposers(db.Path());
  EXPECT_EQ(stored[1], std::nullopt);
  EXPECT_EQ(stored[3], "Desconhecido");
}

TEST_F(UpdateRun, PageTricklingPastTheAnswerTimeIsTheSitesTroubleAndIsAskedAgain) {
  // The site's first answer comes one byte every 50 ms: its page would take seconds.
  test::FirebirdDatabase db(test::NumberedSongs(1));
  test::LyricsSite site({"--trickle", "1:1:50"});
  site.AddComposerPage(test::NumberedPage(1), test::NumberedComposer(1));
  UseSite(site);
  test::TempDir files;
  w_.PointAt(db.Path());
  TFrmPrincipal& window = w_.Open();
  window.Options.reportFile = files.File("r.tsv");
  window.IdHTTP1->AnswerTimeout = 500;
  w_.ShowAndClick();
  EXPECT_EQ(app_.Messages(), std::vector<std::string>{app::kCompletedMessage});
  ASSERT_EQ(app_.Waits().size(), 1u);
  const auto& captions = app_.MainForm()->FindLabel("lblAtual")->History();
  ASSERT_FALSE(captions.empty());
  EXPECT_EQ(captions[0], "aguardando o site de letras: nova tentativa em 1 s (Read timed out)");
  // The attempt given up, the song's other addresses, and the song asked again.
  auto line = [&](const std::string& page, const std::string& outcome,
                  const std::string& composer = "") {
    return "1\tAna\tt1\t" + site.BaseUrl() + page + "\t" + outcome + "\t" + composer + "\t";
  };
  EXPECT_EQ(test::ReadLines(files.File("r.tsv")),
            (std::vector<std::string>{
                app::kReportHeader, line("ana/t1.html", "Read timed out"),
                line("ana/t1-cifrada.html", "404 Not Found"),
                line("ana/t1-traducao.html", "404 Not Found"),
                line("ana/t1.html", "200 OK", rt::Win1252ToUtf8(test::NumberedComposer(1)))}));
  w_.Close();
  EXPECT_EQ(test::StoredComposers(db.Path()), (test::Composers{{1, test::NumberedComposer(1)}}));
}

TEST_F(UpdateRun, ClosingTheWindowDuringAWaitStopsTheRunThereAndKeepsTheSongsDone) {
  test::FirebirdDatabase db;
  // Song 1 is found; song 2's request meets a reset, and every later connection is closed at
  // once: the run waits, and the window is closed during that wait.
  test::ScriptedServer site(
      {{test::ScriptedServer::ExpectHead(),
        test::ScriptedServer::Send(test::PageAnswer(test::ComposerPage("Antes da Queda"))),
        test::ScriptedServer::ExpectHead(), test::ScriptedServer::Reset()}});
  w_.SetSite("http://127.0.0.1:" + std::to_string(site.Port()) + "/");
  w_.PointAt(db.Path());
  TFrmPrincipal& window = w_.Open();
  app_.Run();
  // The input after song 1 is the close, which comes in the wait's first look at the messages.
  app_.SetPendingInput([this] { app_.SetPendingInput([this] { app_.Terminate(); }); });
  w_.Button().Click();
  EXPECT_TRUE(app_.Terminated());
  EXPECT_EQ(app_.Waits().size(), 1u);
  EXPECT_TRUE(app_.Messages().empty());
  EXPECT_TRUE(app_.Failures().empty());
  EXPECT_TRUE(window.btnBuscar->Enabled());
  EXPECT_EQ(window.Tally.done, 1);
  w_.Close();
  EXPECT_EQ(test::StoredComposers(db.Path()),
            (test::Composers{{1, "Antes da Queda"}, {2, std::nullopt}, {3, "Desconhecido"}}));
}

}  // namespace
