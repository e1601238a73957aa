// The parameterised UPDATE by key, 10,000 of them in one transaction on the embedded engine:
// through the main window's Q_Atualizar the way the update run does it (Close, AssignString,
// AssignInteger, ExecuteSql), and through the client library's C API with the statement
// prepared once and isc_dsql_execute given the same descriptor area every time (the floor).
// Both use the window's connection and transaction and take turns in rounds; each updates its
// own half of the table, every row once.
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <exception>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "app/U_Principal.h"
#include "bench/support/Arguments.h"
#include "bench/support/RawFirebird.h"
#include "bench/support/ResultTable.h"
#include "bench/support/Rounds.h"
#include "bench/support/SongCorpus.h"
#include "ui/ConsoleApplication.h"

namespace {

// Defaults of a full run.
constexpr long kDefaultUpdates = 10000;
constexpr long kDefaultRounds = 20;
// Target: ours within 1.2 times the C API's time per UPDATE.
constexpr double kRawTarget = 1.2;

constexpr const char* kRawUpdate = "UPDATE Tb_Musicas SET Mus_Compositor = ? WHERE Mus_Codigo = ?";

// One side's UPDATE of a row.
using Update = std::function<void(int key, const std::string& composer)>;

int Run(const bench::Arguments& args) {
  const long updates = std::max(1L, args.Count("updates", kDefaultUpdates));
  const long rounds = std::clamp(args.Count("rounds", kDefaultRounds), 1L, updates);
  const long perRound = updates / rounds;
  const long done = perRound * rounds;
  // Two halves, and one row each for the first (preparing) execution.
  const int rows = int(2 * done + 2);

  bench::ScratchFolder scratch;
  const std::string database = scratch.File("kavro.fdb");
  bench::CreateSongDatabase(database, rows);
  std::ofstream(scratch.File("BaseKavro.ini"), std::ios::binary)
      << "[BANCO]\r\nCAMINHO=" << database << "\r\n";

  // The main window connected as at its show event: the song list open, the transaction on.
  ui::ConsoleApplication application(stdout, stderr, false);
  TFrmPrincipal window(application);
  window.SettingsDirectory = scratch.Path() + "/";
  if (!window.ConnectDatabase()) throw std::runtime_error("the window did not connect");
  TIBQuery& Q_Atualizar = *window.Q_Atualizar;
  Q_Atualizar.Close();
  Q_Atualizar.SQL().Clear();
  Q_Atualizar.SQL().Add(app::kUpdateStatement);
  bench::RawStatement raw(window.DB_Kavro->HandleAddress(), window.Trans_Kavro->HandleAddress(),
                          kRawUpdate);

  std::vector<std::string> composers(std::size_t(rows) + 1);
  for (int key = 1; key <= rows; ++key) composers[std::size_t(key)] = bench::ComposerOf(key);

  const Update ours = [&](int key, const std::string& composer) {
    Q_Atualizar.Close();
    Q_Atualizar.GetParam("Compositor")->AssignString(composer);
    Q_Atualizar.GetParam("Codigo")->AssignInteger(key);
    Q_Atualizar.ExecuteSql();
  };
  const Update api = [&](int key, const std::string& composer) {
    raw.SetText(0, composer);
    raw.SetInteger(1, key);
    raw.Execute();
  };
  // The first execution of ours prepares the statement; the C API's was prepared above.
  ours(rows - 1, composers[std::size_t(rows - 1)]);
  api(rows, composers[std::size_t(rows)]);
  // Each side updates its own half of the table, a round its own stretch of keys.
  auto side = [&](const char* name, const Update& update, int firstKey) {
    return bench::Side{name, [&, firstKey](long round) {
                         const int from = firstKey + int(round * perRound);
                         for (int key = from; key < from + perRound; ++key)
                           update(key, composers[std::size_t(key)]);
                       }};
  };
  std::vector<bench::Side> ways = {
      side("ours (Q_Atualizar as the update run)", ours, 1),
      side("C API (prepared once, isc_dsql_execute)", api, int(done) + 1)};
  bench::RunInTurns(ways, rounds, perRound);

  // Every row must now hold its composer, seen from within the same transaction.
  bench::RawStatement check(window.DB_Kavro->HandleAddress(), window.Trans_Kavro->HandleAddress(),
                            "SELECT COUNT(*) FROM Tb_Musicas WHERE Mus_Compositor = "
                            "'Autor ' || Mus_Codigo");
  check.Open();
  const int updated = check.Fetch() ? check.IntegerAt(0) : -1;
  check.CloseCursor();
  if (updated != rows)
    throw std::runtime_error("rows updated: " + std::to_string(updated) + " of " +
                             std::to_string(rows));
  window.Trans_Kavro->Rollback();

  bench::ResultTable table("Parameterised UPDATE by key, " + std::to_string(done) +
                               " each in one transaction, " + std::to_string(rounds) +
                               " interleaved rounds, embedded engine",
                           {"way", "us/UPDATE", "best round us/UPDATE",
                            "ours / this (median of rounds)", "target", "verdict"});
  table.AddRow({ways[0].name, bench::Fixed(bench::MicrosPer(ways[0].seconds, done), 1),
                bench::Fixed(ways[0].bestRound * 1e6, 1), "", "", ""});
  const double ratio = bench::MedianRatio(ways[0].rounds, ways[1].rounds);
  table.AddRow({ways[1].name, bench::Fixed(bench::MicrosPer(ways[1].seconds, done), 1),
                bench::Fixed(ways[1].bestRound * 1e6, 1), bench::Ratio(ratio),
                "<= " + bench::Ratio(kRawTarget), bench::Verdict(ratio <= kRawTarget)});
  table.AddNote("both on the main window's DB_Kavro and Trans_Kavro; " + std::to_string(rows) +
                " rows, each updated once and checked afterwards");
  table.Publish(args.Text("results", ""));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  return bench::Main(argc, argv, "bench_update", Run);
}
