// Start-up: from exec to the show event with the database attached. lirenta-console runs its
// show event (settings file, attach, song list open) and then the update run, whose first
// visible act is the "Total: " line on standard error; over an empty song table that line
// follows the show event by one count statement. The time to that line and the time to the
// program's end are taken from fork, in turns with the floor: this program started again in a
// mode that only attaches through the client library's C API, opens the song list, counts and
// prints the same line.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "app/U_Principal.h"
#include "bench/support/Arguments.h"
#include "bench/support/ChildProgram.h"
#include "bench/support/RawFirebird.h"
#include "bench/support/ResultTable.h"
#include "bench/support/Rounds.h"
#include "bench/support/SongCorpus.h"
#include "runtime/ExePath.h"

namespace {

// Starts of each program in a full run.
constexpr long kDefaultStarts = 20;
// A start that takes longer than this counts as a failure.
constexpr auto kStartDeadline = std::chrono::seconds(60);

constexpr const char* kSongList =
    "SELECT Mus_Codigo, Mus_Nome, Mus_Interprete, Mus_Compositor FROM Tb_Musicas";

struct Samples {
  std::string name;
  std::vector<double> firstLine;  // seconds from fork to the "Total: " line
  std::vector<double> exit;       // seconds from fork to the end
};

double Mean(const std::vector<double>& values) {
  double sum = 0;
  for (double v : values) sum += v;
  return values.empty() ? 0.0 : sum / double(values.size());
}

// The floor's own start: attach, open the song list, count, print.
int FloorStart(const std::string& database) {
  bench::RawAttachment attachment(database, bench::kSongUser, bench::kSongPassword);
  bench::RawTransaction transaction(attachment.Handle());
  bench::RawStatement songs(attachment.Handle(), transaction.Handle(), kSongList);
  songs.Open();
  songs.Fetch();
  bench::RawStatement count(attachment.Handle(), transaction.Handle(), app::kCountStatement);
  count.Open();
  const int total = count.Fetch() ? count.IntegerAt(0) : -1;
  std::fprintf(stderr, "Total: %d\n", total);
  std::fflush(stderr);
  return 0;
}

void Measure(Samples& samples, const bench::ChildProgram::Options& options) {
  bench::ChildProgram program(options);
  const std::optional<std::string> line = program.ReadStderrLine(kStartDeadline);
  const double firstLine =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - program.Started()).count();
  const std::optional<bench::ChildExit> exit = program.Wait(kStartDeadline);
  if (!line || line->rfind("Total: 0", 0) != 0 || !exit || exit->status != 0)
    throw std::runtime_error(samples.name + " did not start and run as expected");
  samples.firstLine.push_back(firstLine);
  samples.exit.push_back(exit->seconds);
}

int Run(const bench::Arguments& args) {
  const long starts = std::max(1L, args.Count("starts", kDefaultStarts));
  const std::string binDir = std::string(LIRENTA_BIN_DIR);

  bench::ScratchFolder scratch;
  const std::string database = scratch.File("kavro.fdb");
  bench::CreateSongDatabase(database, 0);
  const std::string console = scratch.File("lirenta-console");
  std::filesystem::copy_file(args.Text("console", binDir + "/lirenta-console"), console);
  std::ofstream(scratch.File("BaseKavro.ini"), std::ios::binary)
      << "[BANCO]\r\nCAMINHO=" << database << "\r\n";

  bench::ChildProgram::Options ours;
  ours.args = {console};
  ours.pipeStderr = true;
  bench::ChildProgram::Options floor;
  floor.args = {rt::ExecutablePath(), "--floor-attach", database};
  floor.pipeStderr = true;

  Samples oursSamples{"lirenta-console", {}, {}};
  Samples floorSamples{"C API attach (floor)", {}, {}};
  // One start each first: the program files and the engine's libraries come into the cache.
  Measure(oursSamples, ours);
  Measure(floorSamples, floor);
  oursSamples.firstLine.clear();
  oursSamples.exit.clear();
  floorSamples.firstLine.clear();
  floorSamples.exit.clear();
  for (long i = 0; i < starts; ++i) {
    if (i % 2 == 0) {
      Measure(oursSamples, ours);
      Measure(floorSamples, floor);
    } else {
      Measure(floorSamples, floor);
      Measure(oursSamples, ours);
    }
  }

  bench::ResultTable table("Start-up: exec to the show event with the database attached, " +
                               std::to_string(starts) + " starts each, taking turns",
                           {"program", "ms to show (median)", "ms to show (mean)",
                            "ms to exit (median)", "ours / this (show, median of pairs)"});
  table.AddRow({oursSamples.name, bench::Fixed(bench::Median(oursSamples.firstLine) * 1e3, 2),
                bench::Fixed(Mean(oursSamples.firstLine) * 1e3, 2),
                bench::Fixed(bench::Median(oursSamples.exit) * 1e3, 2), ""});
  table.AddRow({floorSamples.name, bench::Fixed(bench::Median(floorSamples.firstLine) * 1e3, 2),
                bench::Fixed(Mean(floorSamples.firstLine) * 1e3, 2),
                bench::Fixed(bench::Median(floorSamples.exit) * 1e3, 2),
                bench::Ratio(bench::MedianRatio(oursSamples.firstLine, floorSamples.firstLine))});
  table.AddNote(
      "\"show\" is the first line on standard error (\"Total: 0\"): over an empty "
      "table it follows the show event by one COUNT statement; times from fork");
  table.AddNote("embedded engine, database file on local disk; no target is set for start-up");
  table.Publish(args.Text("results", ""));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  return bench::Main(argc, argv, "bench_startup", [](const bench::Arguments& args) {
    const std::string floorDatabase = args.Text("floor-attach", "");
    return floorDatabase.empty() ? Run(args) : FloorStart(floorDatabase);
  });
}
