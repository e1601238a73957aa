// lirenta-console as built, copied into a folder with its settings file, against the fixture
// lyrics site and a real database (embedded, and through the server on loopback).
#include <gtest/gtest.h>

#include "tests/support/FirebirdFixture.h"
#include "tests/support/LyricsSite.h"
#include "tests/support/ProgramFolder.h"
#include "tests/support/SongRows.h"

namespace {

class ConsoleProgram : public testing::Test {
 protected:
  // Starts `site` and runs the program on `databaseName` against it.
  test::ProgramOutcome RunOn(const std::string& databaseName, test::LyricsSite& site) {
    EXPECT_TRUE(site.Start());
    folder_.Settings(databaseName);
    return folder_.Run(site.BaseUrl());
  }
  test::ProgramFolder folder_;
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
  EXPECT_EQ(
      test::StoredComposers(db.Path()),
      (test::Composers{{1, "Ana Reis"}, {2, std::nullopt}, {3, "M\xE1rio Quintela &amp; Lia"}}));
}

TEST_F(ConsoleProgram, UnusableSettingsEndWithTheirMessageAndStatusOne) {
  test::ProgramOutcome run = folder_.Run("http://127.0.0.1:9/");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "Arquivo BaseKavro.ini n\xC3\xA3o encontrado.\n");
  folder_.Settings(folder_.Folder().File("nenhuma.fdb"));
  run = folder_.Run("http://127.0.0.1:9/");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "N\xC3\xA3o foi poss\xC3\xADvel conectar com a Base de Dados.\n");
}

TEST_F(ConsoleProgram, WorksThroughTheFirebirdServerOnLoopback) {
  test::FirebirdServer* server = test::FirebirdServer::Instance();
  ASSERT_NE(server, nullptr) << "no Firebird server: " << test::FirebirdServer::Reason();
  test::FirebirdDatabase db;
  test::LyricsSite site;
  site.AddComposerPage("ac-dc-do-sertao/quem-traducao.html", "Z\xE9 Ramalhete");
  test::ProgramOutcome run = RunOn(server->ConnectString(db.Path()), site);
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  auto stored = test::StoredComposers(server->ConnectString(db.Path()));
  EXPECT_EQ(stored[2], "Z\xE9 Ramalhete");
  EXPECT_EQ(stored[3], "Desconhecido");
}

}  // namespace
