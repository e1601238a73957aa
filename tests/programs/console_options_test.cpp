// lirenta-console's run options as built, against the fixture site and the embedded engine: a
// dry run (the same lookups and report, nothing written), only the songs still missing (no
// request for a song that has a composer), the stored composer in the report, a report that
// cannot be written, and the summary line of every run.
#include <gtest/gtest.h>

#include "tests/support/FirebirdFixture.h"
#include "tests/support/LyricsSite.h"
#include "tests/support/ProgramFolder.h"
#include "tests/support/SongRows.h"

namespace {

const std::string kDryRunLine = test::Utf8(
    "Simula\xE7\xE3o conclu\xED"
    "da. Nada foi gravado.\n");

class ConsoleOptions : public testing::Test {
 protected:
  // Runs the program on `db` against the site with `args`.
  test::ProgramOutcome RunOn(const test::FirebirdDatabase& db,
                             const std::vector<std::string>& args) {
    folder_.Settings(db.Path());
    return folder_.Run(site_.BaseUrl(), args);
  }
  test::LyricsSite site_;
  test::ProgramFolder folder_;
  test::TempDir files_;
};

TEST_F(ConsoleOptions, DryRunLooksUpAsARealRunWritesNothingAndReportsTheStoredComposer) {
  const std::vector<test::Song> songs = {{1, "Achada", "Ana", std::nullopt},
                                         {2, "Falta", "Ana", std::string("Velho\tNome")},
                                         {3, "Trocada", "Ana", std::string("Antigo")}};
  site_.AddComposerPage("ana/achada.html", "Nova");
  site_.AddComposerPage("ana/trocada-cifrada.html", "Outro");
  ASSERT_TRUE(site_.Start());
  test::FirebirdDatabase dry(songs), real(songs);
  const test::Composers before = test::StoredComposers(dry.Path());

  const std::string dryReport = files_.File("dry.tsv"), realReport = files_.File("real.tsv");
  test::ProgramOutcome run = RunOn(dry, {"--dry-run", "--report", dryReport});
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(run.out, kDryRunLine);
  EXPECT_NE(run.err.find(test::SummaryLine(3, 2, 0, 0) + "\n"), std::string::npos) << run.err;
  EXPECT_EQ(test::StoredComposers(dry.Path()), before);
  const std::vector<std::string> dryRequests = site_.RequestLines();

  run = RunOn(real, {"--report", realReport});
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(run.out, test::kCompletedLine);
  EXPECT_NE(run.err.find(test::SummaryLine(3, 2, 2, 0) + "\n"), std::string::npos) << run.err;
  EXPECT_EQ(test::StoredComposers(real.Path()),
            (test::Composers{{1, "Nova"}, {2, "Velho\tNome"}, {3, "Outro"}}));
  // The same requests, and the same report: the preview of what the real run then did.
  const std::vector<std::string> requests = site_.RequestLines();
  EXPECT_EQ(std::vector<std::string>(requests.begin() + long(dryRequests.size()), requests.end()),
            dryRequests);
  const std::string base = site_.BaseUrl() + "ana/";
  EXPECT_EQ(test::ReadLines(dryReport),
            (std::vector<std::string>{
                "codigo\tinterprete\tnome\tendereco\tresultado\tcompositor\tanterior",
                "1\tAna\tAchada\t" + base + "achada.html\t200 OK\tNova\t",
                "2\tAna\tFalta\t" + base + "falta.html\t404 Not Found\t\tVelho\\tNome",
                "2\tAna\tFalta\t" + base + "falta-cifrada.html\t404 Not Found\t\tVelho\\tNome",
                "2\tAna\tFalta\t" + base + "falta-traducao.html\t404 Not Found\t\tVelho\\tNome",
                "3\tAna\tTrocada\t" + base + "trocada.html\t404 Not Found\t\tAntigo",
                "3\tAna\tTrocada\t" + base + "trocada-cifrada.html\t200 OK\tOutro\tAntigo"}));
  EXPECT_EQ(test::ReadFile(realReport), test::ReadFile(dryReport));
}

TEST_F(ConsoleOptions, OnlyMissingAsksNothingForAStoredComposerAndFillsTheOthers) {
  const std::vector<test::Song> songs = {{1, "Nula", "Ana", std::nullopt},
                                         {2, "Vazia", "Ana", std::string("")},
                                         {3, "Branca", "Ana", std::string(" \t ")},
                                         {4, "Feita", "Ana", std::string(" Z ")}};
  for (const char* title : {"nula", "vazia", "branca", "feita"})
    site_.AddComposerPage(std::string("ana/") + title + ".html", "Achado");
  ASSERT_TRUE(site_.Start());
  test::FirebirdDatabase db(songs);
  const std::vector<std::string> asked = {"GET /ana/nula.html HTTP/1.1",
                                          "GET /ana/vazia.html HTTP/1.1",
                                          "GET /ana/branca.html HTTP/1.1"};

  test::ProgramOutcome run = RunOn(db, {"--only-missing", "--dry-run"});
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(run.out, kDryRunLine);
  EXPECT_EQ(site_.RequestLines(), asked);
  run = RunOn(db, {"--only-missing"});
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  // A skipped song still counts in the progress.
  EXPECT_NE(run.err.find("Registro atual: 4 of 4 (100%)\n"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find(test::SummaryLine(3, 3, 3, 1) + "\n"), std::string::npos) << run.err;
  const std::vector<std::string> requests = site_.RequestLines();
  EXPECT_EQ(std::vector<std::string>(requests.begin() + 3, requests.end()), asked);
  EXPECT_EQ(test::StoredComposers(db.Path()),
            (test::Composers{{1, "Achado"}, {2, "Achado"}, {3, "Achado"}, {4, " Z "}}));
}

TEST_F(ConsoleOptions, ReportThatCannotBeWrittenIsSaidOnceAndTheRunGoesOn) {
  site_.AddComposerPage("trio-flor-e-cafe/cancao-do-mar.html", "Ana Reis");
  site_.AddComposerPage("banda-ebano/ebano.html", "M\xE1rio Quintela");
  ASSERT_TRUE(site_.Start());
  test::FirebirdDatabase db;
  test::ProgramOutcome run = RunOn(db, {"--report", "/dev/full"});
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(run.out, test::kCompletedLine);
  const std::string said = test::Utf8(
      "N\xE3o foi poss\xEDvel gravar no relat\xF3rio /dev/full: No space left on device\n");
  const std::size_t first = run.err.find(said);
  EXPECT_NE(first, std::string::npos) << run.err;
  EXPECT_EQ(run.err.find(said, first + 1), std::string::npos) << "said more than once";
  EXPECT_NE(run.err.find(test::SummaryLine(3, 2, 2, 0) +
                         test::Utf8(" O relat\xF3rio ficou incompleto.\n")),
            std::string::npos)
      << run.err;
  EXPECT_EQ(test::StoredComposers(db.Path()),
            (test::Composers{{1, "Ana Reis"}, {2, std::nullopt}, {3, "M\xE1rio Quintela"}}));
}

}  // namespace
