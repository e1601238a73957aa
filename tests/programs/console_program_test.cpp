// lirenta-console as built, copied into a folder with its settings file, against the fixture
// lyrics site and a real database (embedded, and through the server on loopback).
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "tests/support/FirebirdFixture.h"
#include "tests/support/LyricsSite.h"
#include "tests/support/Process.h"

namespace {

using namespace std::chrono_literals;

std::map<int, std::string> ReadComposers(const test::FirebirdDatabase& db,
                                         const std::string& connect = {}) {
  std::string out = db.Isql(
      "SET LIST ON;\nSELECT Mus_Codigo, COALESCE(Mus_Compositor, '<null>') AS C FROM Tb_Musicas;\n",
      connect);
  std::map<int, std::string> result;
  std::istringstream in(out);
  std::string line;
  int code = 0;
  while (std::getline(in, line)) {
    if (line.rfind("MUS_CODIGO", 0) == 0) code = std::stoi(line.substr(10));
    if (line.rfind("C ", 0) == 0) result[code] = line.substr(line.find_first_not_of(' ', 1));
  }
  return result;
}

struct ConsoleRun {
  int status = -1;
  std::string out, err;
};

class ConsoleProgram : public testing::Test {
 protected:
  void SetUp() override {
    program_ = dir_.File("lirenta-console");
    test::CopyFile(std::string(LIRENTA_BIN_DIR) + "/lirenta-console", program_, true);
  }
  void Settings(const std::string& databaseName) {
    test::WriteFile(dir_.File("BaseKavro.ini"), "[BANCO]\r\nCAMINHO=" + databaseName + "\r\n");
  }
  ConsoleRun Run(const std::string& baseUrl) {
    test::ChildProcess child({{program_}, {{"LIRENTA_LYRICS_URL", baseUrl}}, {}, "/", true});
    ConsoleRun run;
    auto status = child.Wait(60000ms);
    run.status = status ? *status : -1;
    run.out = child.Stdout();
    run.err = child.Stderr();
    return run;
  }

  test::TempDir dir_;
  std::string program_;
};

TEST_F(ConsoleProgram, FillsInTheComposersAndReportsCompletion) {
  test::FirebirdDatabase db;
  Settings(db.Path());
  test::LyricsSite site({"--chunked-every", "2"});
  site.AddComposerPage("trio-flor-e-cafe/cancao-do-mar-cifrada.html", "Ana Reis");
  site.AddComposerPage("banda-ebano/ebano.html", "M\xE1rio Quintela &amp; Lia");
  ASSERT_TRUE(site.Start());

  ConsoleRun run = Run(site.BaseUrl());
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(run.out,
            "Atualiza\xC3\xA7\xC3\xA3o conclu\xC3\xAD"
            "da.\n");
  EXPECT_NE(run.err.find("Total: 3\n"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("Registro atual: 3 of 3 (100%)\n"), std::string::npos) << run.err;

  auto stored = ReadComposers(db);
  EXPECT_EQ(stored[1], "Ana Reis");
  EXPECT_EQ(stored[2], "<null>");
  EXPECT_EQ(stored[3], "M\xE1rio Quintela &amp; Lia");
}

TEST_F(ConsoleProgram, MissingSettingsFileEndsWithItsMessageAndStatusOne) {
  ConsoleRun run = Run("http://127.0.0.1:9/");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "Arquivo BaseKavro.ini n\xC3\xA3o encontrado.\n");
}

TEST_F(ConsoleProgram, UnopenableDatabaseEndsWithTheConnectionMessage) {
  Settings(dir_.File("nenhuma.fdb"));
  ConsoleRun run = Run("http://127.0.0.1:9/");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "N\xC3\xA3o foi poss\xC3\xADvel conectar com a Base de Dados.\n");
}

TEST_F(ConsoleProgram, MissingTableShowsTheFailureTextAndStatusOne) {
  test::FirebirdDatabase db(std::vector<test::Song>{}, "DROP TABLE Tb_Musicas;");
  Settings(db.Path());
  ConsoleRun run = Run("http://127.0.0.1:9/");
  EXPECT_EQ(run.status, 1);
  // The connection message from the show event, then the run's failure through the default
  // display (the connection is open, so the run tries the song list itself).
  EXPECT_EQ(run.out.rfind("N\xC3\xA3o foi poss\xC3\xADvel conectar com a Base de Dados.\n", 0), 0u)
      << run.out;
  EXPECT_NE(run.out.find("TB_MUSICAS"), std::string::npos) << run.out;
}

TEST_F(ConsoleProgram, WorksThroughTheFirebirdServerOnLoopback) {
  test::FirebirdServer* server = test::FirebirdServer::Instance();
  ASSERT_NE(server, nullptr) << "no Firebird server: " << test::FirebirdServer::Reason();
  test::FirebirdDatabase db;
  Settings(server->ConnectString(db.Path()));
  test::LyricsSite site;
  site.AddComposerPage("ac-dc-do-sertao/quem-traducao.html", "Z\xE9 Ramalhete");
  ASSERT_TRUE(site.Start());

  ConsoleRun run = Run(site.BaseUrl());
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  auto stored = ReadComposers(db, server->ConnectString(db.Path()));
  EXPECT_EQ(stored[2], "Z\xE9 Ramalhete");
  EXPECT_EQ(stored[3], "Desconhecido");
}

}  // namespace
