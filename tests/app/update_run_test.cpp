// The settings file, the connection and the update run, driven through the recording
// front-end against the embedded engine and the fixture lyrics site.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <optional>
#include <sstream>

#include "app/ComposerLookup.h"
#include "app/U_Principal.h"
#include "tests/support/FirebirdFixture.h"
#include "tests/support/LyricsSite.h"
#include "tests/support/Process.h"
#include "tests/support/RecordingApplication.h"

namespace {

using Composers = std::map<int, std::optional<std::string>>;

// Composers as stored, read with isql-fb (the window must be gone: one process at a time).
Composers ReadComposers(const test::FirebirdDatabase& db) {
  std::string out = db.Isql(
      "SET LIST ON;\nSELECT Mus_Codigo, COALESCE(Mus_Compositor, '<null>') AS C FROM "
      "Tb_Musicas;\n");
  Composers result;
  std::istringstream in(out);
  std::string line;
  int code = 0;
  while (std::getline(in, line)) {
    if (line.rfind("MUS_CODIGO", 0) == 0) code = std::stoi(line.substr(10));
    if (line.rfind("C ", 0) == 0) {
      std::string value = line.substr(line.find_first_not_of(' ', 1));
      if (value == "<null>")
        result[code] = std::nullopt;
      else
        result[code] = value;
    }
  }
  return result;
}

class UpdateRun : public testing::Test {
 protected:
  void SetUp() override { setenv(app::kLyricsAddressVariable, "http://127.0.0.1:9/", 1); }
  void TearDown() override { unsetenv(app::kLyricsAddressVariable); }

  void WriteSettings(const std::string& content) {
    test::WriteFile(settings_.File(app::kSettingsFileName), content);
  }
  void PointAt(const test::FirebirdDatabase& db) {
    WriteSettings("[BANCO]\r\nCAMINHO=" + db.Path() + "\r\n");
  }
  void UseSite(test::LyricsSite& site) {
    ASSERT_TRUE(site.Start());
    setenv(app::kLyricsAddressVariable, site.BaseUrl().c_str(), 1);
  }
  std::unique_ptr<TFrmPrincipal> MakeWindow() {
    app_.SetTitle(app::kApplicationTitle);
    auto window = std::make_unique<TFrmPrincipal>(app_);
    window->SettingsDirectory = settings_.Path() + "/";
    return window;
  }
  test::RecordingButton* Button() { return app_.MainForm()->FindButton("btnBuscar"); }

  test::TempDir settings_;
  test::RecordingApplication app_;
};

TEST_F(UpdateRun, MissingSettingsFileShowsOnlyItsMessageOnEveryPress) {
  auto window = MakeWindow();
  app_.Run();  // the show event
  ASSERT_EQ(app_.Messages(), std::vector<std::string>{"Arquivo BaseKavro.ini n\xE3o encontrado."});
  Button()->Click();
  Button()->Click();
  EXPECT_EQ(app_.Messages().size(), 3u);
  EXPECT_EQ(app_.Messages()[2], app::kSettingsMissingMessage);
  EXPECT_TRUE(app_.Failures().empty());
  EXPECT_TRUE(window->btnBuscar->Enabled());
  EXPECT_TRUE(Button()->History().empty()) << "the run must not start";
  EXPECT_EQ(window->lblTotal->Caption(), "Total: 0");
  EXPECT_FALSE(window->DB_Kavro->Connected());
}

TEST_F(UpdateRun, ADirectoryNamedLikeTheSettingsFileCountsAsMissing) {
  std::filesystem::create_directory(settings_.File(app::kSettingsFileName));
  auto window = MakeWindow();
  EXPECT_FALSE(window->ConnectDatabase());
  EXPECT_EQ(app_.Messages(), std::vector<std::string>{app::kSettingsMissingMessage});
}

TEST_F(UpdateRun, MissingKeyOrBadPathGivesTheConnectionMessage) {
  auto window = MakeWindow();
  WriteSettings("[BANCO]\r\nOUTRA=1\r\n");
  EXPECT_FALSE(window->ConnectDatabase());
  WriteSettings("[BANCO]\r\nCAMINHO=" + settings_.File("nao-existe.fdb") + "\r\n");
  EXPECT_FALSE(window->ConnectDatabase());
  EXPECT_EQ(app_.Messages(),
            (std::vector<std::string>{app::kConnectFailedMessage, app::kConnectFailedMessage}));
  EXPECT_FALSE(window->DB_Kavro->Connected());
}

TEST_F(UpdateRun, LongDatabaseNameIsCutAt2047Characters) {
  auto window = MakeWindow();
  WriteSettings("[BANCO]\nCAMINHO=/" + std::string(2099, 'x') + "\n");
  EXPECT_FALSE(window->ConnectDatabase());
  EXPECT_EQ(window->DB_Kavro->DatabaseName().size(), 2047u);
  EXPECT_EQ(app_.Messages(), std::vector<std::string>{app::kConnectFailedMessage});
}

TEST_F(UpdateRun, ConnectingWhileConnectedReopensFromScratch) {
  test::FirebirdDatabase db;
  PointAt(db);
  auto window = MakeWindow();
  ASSERT_TRUE(window->ConnectDatabase());
  window->Q_Musicas->MoveNext();
  ASSERT_TRUE(window->ConnectDatabase());
  EXPECT_TRUE(window->DB_Kavro->Connected());
  EXPECT_TRUE(window->Q_Musicas->Active());
  EXPECT_EQ(window->Q_MusicasMUS_CODIGO->IntegerValue(), 1)
      << "the list starts again at its first row";
  EXPECT_TRUE(app_.Messages().empty());
}

TEST_F(UpdateRun, SongListFailingAfterTheAttachKeepsTheConnectionAndTheRunShowsTheFailure) {
  test::FirebirdDatabase db(std::vector<test::Song>{}, "DROP TABLE Tb_Musicas;");
  PointAt(db);
  auto window = MakeWindow();
  app_.Run();
  EXPECT_EQ(app_.Messages(), std::vector<std::string>{app::kConnectFailedMessage});
  EXPECT_TRUE(window->DB_Kavro->Connected());
  EXPECT_FALSE(window->Q_Musicas->Active());

  Button()->Click();  // skips the connection, fails to open the list
  EXPECT_TRUE(window->btnBuscar->Enabled());
  EXPECT_EQ(Button()->History(), (std::vector<bool>{false, true}));
  ASSERT_EQ(app_.Failures().size(), 1u);
  EXPECT_NE(app_.Failures()[0].find("TB_MUSICAS"), std::string::npos) << app_.Failures()[0];
  EXPECT_EQ(app_.Messages().size(), 1u) << "no completion message";
}

TEST_F(UpdateRun, EmptyTableCountsZeroLooksUpNothingAndCompletes) {
  test::FirebirdDatabase db(std::vector<test::Song>{});
  PointAt(db);
  test::LyricsSite site;
  UseSite(site);
  auto window = MakeWindow();
  app_.Run();
  Button()->Click();
  EXPECT_EQ(window->lblTotal->Caption(), "Total: 0");
  EXPECT_EQ(window->ProgressBar1->Max(), 0);
  EXPECT_TRUE(app_.MainForm()->FindLabel("lblAtual")->History().empty());
  EXPECT_EQ(app_.Messages(), std::vector<std::string>{app::kCompletedMessage});
  EXPECT_TRUE(site.RequestLines().empty());
  EXPECT_TRUE(window->Trans_Kavro->Active()) << "the commit keeps the transaction";
}

TEST_F(UpdateRun, ThreeSongsWithOneComposerFoundGiveOneUpdate) {
  test::FirebirdDatabase db;  // songs 1, 2 (no composer) and 3 ("Desconhecido")
  PointAt(db);
  test::LyricsSite site;
  site.AddComposerPage("ac-dc-do-sertao/quem.html", "  Z\xE9 Ramalhete ");
  UseSite(site);
  {
    auto window = MakeWindow();
    app_.Run();
    Button()->Click();
    EXPECT_EQ(window->lblTotal->Caption(), "Total: 3");
    EXPECT_EQ(window->lblAtual->Caption(), "Registro atual: 3");
    EXPECT_EQ(window->ProgressBar1->Max(), 3);
    EXPECT_EQ(window->ProgressBar1->Position(), 3);
    EXPECT_EQ(app_.Messages(), std::vector<std::string>{app::kCompletedMessage});
    EXPECT_EQ(app_.ProcessMessagesCalls(), 3);
    EXPECT_EQ(Button()->History(), (std::vector<bool>{false, true}));
    EXPECT_TRUE(window->Q_Musicas->Active());
    EXPECT_TRUE(window->Q_Musicas->AtEnd());
  }
  // Song 1: three attempts; song 2: found at once; song 3: three attempts.
  std::vector<std::string> expected = {"GET /trio-flor-e-cafe/cancao-do-mar.html HTTP/1.1",
                                       "GET /trio-flor-e-cafe/cancao-do-mar-cifrada.html HTTP/1.1",
                                       "GET /trio-flor-e-cafe/cancao-do-mar-traducao.html HTTP/1.1",
                                       "GET /ac-dc-do-sertao/quem.html HTTP/1.1",
                                       "GET /banda-ebano/ebano.html HTTP/1.1",
                                       "GET /banda-ebano/ebano-cifrada.html HTTP/1.1",
                                       "GET /banda-ebano/ebano-traducao.html HTTP/1.1"};
  EXPECT_EQ(site.RequestLines(), expected);
  Composers stored = ReadComposers(db);
  EXPECT_EQ(stored[1], std::nullopt);
  EXPECT_EQ(stored[2], std::optional<std::string>("Z\xE9 Ramalhete"));
  EXPECT_EQ(stored[3], std::optional<std::string>("Desconhecido")) << "nothing found: kept";
}

TEST_F(UpdateRun, FoundComposerReplacesTheStoredOneAndASecondRunRewinds) {
  test::FirebirdDatabase db;
  PointAt(db);
  test::LyricsSite site;
  site.AddComposerPage("banda-ebano/ebano-traducao.html", "M\xE1rio Quintela");
  UseSite(site);
  {
    auto window = MakeWindow();
    app_.Run();
    Button()->Click();
    Button()->Click();  // the open list is walked again from its first row
    EXPECT_EQ(app_.Messages(),
              (std::vector<std::string>{app::kCompletedMessage, app::kCompletedMessage}));
    EXPECT_EQ(window->lblAtual->Caption(), "Registro atual: 3");
    EXPECT_EQ(site.RequestLines().size(), 18u);  // three attempts for each song, twice
  }
  EXPECT_EQ(ReadComposers(db)[3], std::optional<std::string>("M\xE1rio Quintela"));
}

TEST_F(UpdateRun, FailureMidRunCommitsWhatWasDoneAndShowsItsText) {
  // The second song's composer breaks a check constraint.
  test::FirebirdDatabase db(test::DefaultSongs(),
                            "ALTER TABLE Tb_Musicas ADD CONSTRAINT CK_SEM_BOOM CHECK "
                            "(MUS_COMPOSITOR IS NULL OR MUS_COMPOSITOR <> 'Boom');");
  PointAt(db);
  test::LyricsSite site;
  site.AddComposerPage("trio-flor-e-cafe/cancao-do-mar.html", "Ana Reis");
  site.AddComposerPage("ac-dc-do-sertao/quem.html", "Boom");
  site.AddComposerPage("banda-ebano/ebano.html", "Nunca");
  UseSite(site);
  {
    auto window = MakeWindow();
    app_.Run();
    Button()->Click();
    EXPECT_TRUE(window->btnBuscar->Enabled());
    EXPECT_TRUE(app_.Messages().empty()) << "no completion message";
    ASSERT_EQ(app_.Failures().size(), 1u);
    EXPECT_NE(app_.Failures()[0].find("CK_SEM_BOOM"), std::string::npos) << app_.Failures()[0];
    EXPECT_EQ(window->lblAtual->Caption(), "Registro atual: 1");
  }
  Composers stored = ReadComposers(db);
  EXPECT_EQ(stored[1], std::optional<std::string>("Ana Reis")) << "committed before the failure";
  EXPECT_EQ(stored[2], std::nullopt);
  EXPECT_EQ(stored[3], std::optional<std::string>("Desconhecido"));
}

TEST_F(UpdateRun, ClosingDuringARunFinishesEveryRowAndCommits) {
  test::FirebirdDatabase db;
  PointAt(db);
  test::LyricsSite site;
  for (const char* page : {"trio-flor-e-cafe/cancao-do-mar.html", "ac-dc-do-sertao/quem.html",
                           "banda-ebano/ebano.html"})
    site.AddComposerPage(page, "Compositora Um");
  UseSite(site);
  {
    auto window = MakeWindow();
    app_.Run();
    app_.SetPendingInput([this] { app_.Terminate(); });  // the close box during the first row
    Button()->Click();
    EXPECT_TRUE(app_.Terminated());
    EXPECT_EQ(window->lblAtual->Caption(), "Registro atual: 3");
  }
  for (auto& [code, composer] : ReadComposers(db))
    EXPECT_EQ(composer, std::optional<std::string>("Compositora Um")) << code;
}

TEST_F(UpdateRun, UnreachableSiteLeavesEveryRowUnchanged) {
  test::FirebirdDatabase db;
  PointAt(db);
  {
    auto window = MakeWindow();  // the address points at a closed port
    app_.Run();
    Button()->Click();
    EXPECT_EQ(app_.Messages(), std::vector<std::string>{app::kCompletedMessage});
  }
  Composers stored = ReadComposers(db);
  EXPECT_EQ(stored[1], std::nullopt);
  EXPECT_EQ(stored[3], std::optional<std::string>("Desconhecido"));
}

}  // namespace
