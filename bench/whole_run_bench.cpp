// The whole run: lirenta-console over 1,000, 10,000 and 100,000 songs against the fixture site,
// a third of the songs found at their first address, a third at "-cifrada" and a third nowhere
// (one, two and three GETs). Beside it, in the same invocation and taking turns with it, the
// floor for the same work: the song list walked through the client library's C API, the same
// request bytes sent by a raw-socket client and the UPDATEs executed through the C API. The
// floor runs as a process of its own, like the console: this program started again with
// --floor-run, timed from fork to exit, its processor time taken from its own usage, so that
// both sides pay a process start, the engine's loading and its attach.
//
// Every run, of either side, starts from a fresh copy of the database; after it, the rows that
// got their composer are counted.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "app/ComposerLookup.h"
#include "app/U_Principal.h"
#include "bench/support/Arguments.h"
#include "bench/support/ChildProgram.h"
#include "bench/support/CpuTime.h"
#include "bench/support/FixtureSiteProcess.h"
#include "bench/support/HeadRecorder.h"
#include "bench/support/RawFirebird.h"
#include "bench/support/RawHttpClient.h"
#include "bench/support/ResultTable.h"
#include "bench/support/Rounds.h"
#include "bench/support/SongCorpus.h"
#include "runtime/ExePath.h"
#include "ui/ConsoleApplication.h"

namespace {

// Defaults of a full run.
const std::vector<long> kDefaultSizes = {1000, 10000, 100000};
constexpr long kDefaultRounds = 3;
constexpr long kDefaultPageBytes = 4096;
// Targets: at most 1.10 times the floor's time (so at least 0.91 of its songs per second); 10
// times the songs within 10 times the time; peak resident memory under 64 MiB.
constexpr double kFloorTarget = 1.0 / 1.10;
// Time may grow at most in proportion to the songs (10 times the songs, 10 times the time).
constexpr double kGrowthTarget = 1.0;
constexpr double kPeakMemoryTargetMiB = 64.0;
// A console run that takes longer than this is stopped and counts as a failure.
constexpr auto kRunDeadline = std::chrono::minutes(30);

constexpr const char* kMemoryFolder = "/dev/shm";

constexpr const char* kSongList =
    "SELECT Mus_Codigo, Mus_Nome, Mus_Interprete, Mus_Compositor FROM Tb_Musicas";
constexpr const char* kRawUpdate = "UPDATE Tb_Musicas SET Mus_Compositor = ? WHERE Mus_Codigo = ?";

// One side's figures over the rounds of one size.
struct Side {
  std::vector<double> seconds;  // fork to exit, one entry per round
  double start = 0;             // fork to the song list open and counted, summed over the rounds
  double end = 0;               // last song to the end of the process (commit, shutdown), summed
  double cpu = 0;               // processor time, summed over the rounds
  double systemCpu = 0;         // the part of it spent in the kernel
  double peakMiB = 0;           // the highest of the rounds
};

struct SizeResult {
  long songs = 0;
  long gets = 0;
  int rounds = 0;
  Side ours;
  Side floor;
};

// Every run, of either side, starts from a copy of the freshly made database: the same file,
// no record versions left behind by an earlier run.
void FreshDatabase(const std::string& pristine, const std::string& database) {
  std::filesystem::copy_file(pristine, database, std::filesystem::copy_options::overwrite_existing);
}

int CountComposers(const std::string& database) {
  bench::RawAttachment attachment(database, bench::kSongUser, bench::kSongPassword);
  bench::RawTransaction transaction(attachment.Handle());
  bench::RawStatement count(attachment.Handle(), transaction.Handle(),
                            "SELECT COUNT(*) FROM Tb_Musicas WHERE Mus_Compositor = "
                            "'Autor ' || Mus_Codigo");
  count.Open();
  return count.Fetch() ? count.IntegerAt(0) : -1;
}

// The floor: the update run's work with nothing but the C API and a raw socket. Returns the
// number of GETs made.
//
// Standard error marks the phases as the console's does: "Total: N" once the song list is open
// and counted, a line ending "(100%)" after the last song.
long FloorRun(const std::string& database, uint16_t port, const std::string& requestHead) {
  bench::RawAttachment attachment(database, bench::kSongUser, bench::kSongPassword);
  bench::RawTransaction transaction(attachment.Handle());
  bench::RawStatement songs(attachment.Handle(), transaction.Handle(), kSongList);
  songs.Open();
  bench::RawStatement count(attachment.Handle(), transaction.Handle(), app::kCountStatement);
  count.Open();
  if (!count.Fetch()) throw std::runtime_error("no count");
  std::fprintf(stderr, "Total: %d\n", count.IntegerAt(0));
  std::fflush(stderr);
  count.CloseCursor();
  bench::RawStatement update(attachment.Handle(), transaction.Handle(), kRawUpdate);
  bench::RawHttpClient http(port);
  long gets = 0;
  std::string body;
  while (songs.Fetch()) {
    const std::string title(songs.TextAt(1));
    const std::string performer(songs.TextAt(2));
    for (std::size_t attempt = 0; attempt < app::kPageSuffixes.size(); ++attempt) {
      const std::string target = app::PageAddress("/", performer, title, attempt);
      ++gets;
      if (http.Exchange(bench::RetargetHead(requestHead, target, port), body) / 100 != 2) continue;
      const std::string composer = app::ExtractComposer(body, bench::kPageContentType);
      if (!composer.empty()) {
        update.SetText(0, composer);
        update.SetInteger(1, songs.IntegerAt(0));
        update.Execute();
      }
      break;
    }
  }
  std::fprintf(stderr, "Walked (100%%)\n");
  std::fflush(stderr);
  songs.CloseCursor();
  transaction.Commit();
  return gets;
}

// The floor's own process: --floor-run DATABASE --port PORT --head FILE. Writes the number of
// GETs it made on standard output.
int FloorMain(const bench::Arguments& args) {
  std::ifstream headFile(args.Text("head", ""), std::ios::binary);
  const std::string requestHead((std::istreambuf_iterator<char>(headFile)),
                                std::istreambuf_iterator<char>());
  if (requestHead.empty()) throw std::runtime_error("no request head for the floor");
  const long gets =
      FloorRun(args.Text("floor-run", ""), uint16_t(args.Count("port", 0)), requestHead);
  std::printf("%ld\n", gets);
  return 0;
}

// One side's run as a child process: its exit, and the seconds from fork to its "Total: " line
// (start) and from its "(100%)" line to its end (end).
struct ChildRun {
  bench::ChildExit exit;
  double start = -1;
  double end = -1;
};

ChildRun RunChild(bench::ChildProgram::Options options, const std::string& what) {
  options.pipeStderr = true;
  bench::ChildProgram program(options);
  auto since = [&] {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - program.Started())
        .count();
  };
  double counted = -1, walked = -1;
  while (const std::optional<std::string> line = program.ReadStderrLine(kRunDeadline)) {
    if (counted < 0 && line->rfind("Total: ", 0) == 0) counted = since();
    if (line->size() >= 6 && line->compare(line->size() - 6, 6, "(100%)") == 0) {
      walked = since();
      break;
    }
  }
  const std::optional<bench::ChildExit> exit = program.Wait(kRunDeadline);
  if (!exit || exit->status != 0) throw std::runtime_error(what + " did not complete the run");
  return {*exit, counted, exit->seconds - walked};
}

SizeResult MeasureSize(const bench::Arguments& args, long size, long rounds,
                       const std::string& requestHead) {
  const std::string binDir = std::string(LIRENTA_BIN_DIR);
  bench::ScratchFolder scratch;
  // The pages go to memory when the machine has a memory file system: writing 100,000 small
  // files to disk takes longer than the runs that read them.
  bench::ScratchFolder pages(std::filesystem::is_directory(kMemoryFolder) ? kMemoryFolder : "/tmp");
  const std::string database = scratch.File("kavro.fdb");
  const std::string pristine = scratch.File("pristine.fdb");
  const auto preparing = std::chrono::steady_clock::now();
  bench::CreateSongDatabase(pristine, int(size));
  const auto made = std::chrono::steady_clock::now();
  bench::WriteSongSite(pages.Path(), int(size),
                       std::size_t(args.Count("page-bytes", kDefaultPageBytes)));
  std::fprintf(stderr, "  database made in %.1f s, pages written in %.1f s\n",
               std::chrono::duration<double>(made - preparing).count(),
               std::chrono::duration<double>(std::chrono::steady_clock::now() - made).count());
  // The console program reads BaseKavro.ini next to itself.
  const std::string console = scratch.File("lirenta-console");
  std::filesystem::copy_file(args.Text("console", binDir + "/lirenta-console"), console);
  std::ofstream(scratch.File("BaseKavro.ini"), std::ios::binary)
      << "[BANCO]\r\nCAMINHO=" << database << "\r\n";
  bench::FixtureSiteProcess site(args.Text("site", binDir + "/lirenta-fixture-site"), pages.Path());
  const std::string headPath = scratch.File("request-head");
  std::ofstream(headPath, std::ios::binary) << requestHead;
  const std::string floorOut = scratch.File("floor.out");

  SizeResult result;
  result.songs = size;
  result.gets = bench::GetsFor(int(size));
  const int expected = bench::ComposersFor(int(size));
  for (long round = 0; round < rounds; ++round) {
    for (int turn = 0; turn < 2; ++turn) {
      const bool ours = (round + turn) % 2 == 0;
      FreshDatabase(pristine, database);
      bench::ChildProgram::Options options;
      if (ours) {
        options.args = {console};
        options.env = {std::string(app::kLyricsAddressVariable) + "=" + site.BaseUrl()};
        options.stdoutPath = scratch.File("console.out");
      } else {
        options.args = {rt::ExecutablePath(),        "--floor-run", database, "--port",
                        std::to_string(site.Port()), "--head",      headPath};
        options.stdoutPath = floorOut;
      }
      const ChildRun run = RunChild(options, (ours ? "lirenta-console over " : "the floor over ") +
                                                 std::to_string(size) + " songs");
      Side& side = ours ? result.ours : result.floor;
      side.seconds.push_back(run.exit.seconds);
      side.cpu += run.exit.cpuSeconds;
      side.systemCpu += run.exit.systemSeconds;
      side.start += run.start;
      side.end += run.end;
      side.peakMiB = std::max(side.peakMiB, double(run.exit.peakResidentKb) / 1024.0);
      if (!ours) {
        long gets = -1;
        std::ifstream(floorOut) >> gets;
        if (gets != result.gets)
          throw std::runtime_error("the floor made an unexpected number of GETs");
      }
      const int found = CountComposers(database);
      if (found != expected)
        throw std::runtime_error(std::string(ours ? "lirenta-console" : "the floor") + " wrote " +
                                 std::to_string(found) + " composers of " +
                                 std::to_string(expected));
    }
    std::fprintf(stderr, "  round %ld: ours %.3f s, floor %.3f s\n", round + 1,
                 result.ours.seconds.back(), result.floor.seconds.back());
  }
  result.rounds = int(rounds);
  return result;
}

int Run(const bench::Arguments& args) {
  const std::vector<long> sizes = args.Counts("sizes", kDefaultSizes);
  const long rounds = std::max(1L, args.Count("rounds", kDefaultRounds));

  // The request bytes of the main window's HTTP client, for the floor to send.
  std::string requestHead;
  {
    ui::ConsoleApplication application(stdout, stderr, false);
    TFrmPrincipal window(application);
    requestHead = bench::CaptureRequestHead("/x", [&](const std::string& url) {
      std::string ignored;
      window.IdHTTP1->GetPage(url, ignored);
    });
  }

  std::vector<SizeResult> results;
  for (long size : sizes) {
    std::fprintf(stderr, "whole run: %ld songs, %ld rounds...\n", size, rounds);
    results.push_back(MeasureSize(args, size, rounds, requestHead));
  }

  bench::ResultTable table(
      "Whole run of lirenta-console against the fixture site (a third of the songs found at "
      "once, a third at \"-cifrada\", a third nowhere)",
      {"songs", "GETs", "ours s", "ours start s", "ours end s", "ours CPU s", "ours songs/s",
       "peak RSS MiB", "floor s", "floor start s", "floor end s", "floor CPU s", "floor songs/s",
       "floor peak RSS MiB", "ours / floor", "time x prev size", "RSS growth MiB", "verdict"});
  for (std::size_t i = 0; i < results.size(); ++i) {
    const SizeResult& r = results[i];
    const double ours = bench::Median(r.ours.seconds);
    const double floor = bench::Median(r.floor.seconds);
    // Ours' songs per second over the floor's, round by round.
    const double ratio = bench::MedianRatio(r.floor.seconds, r.ours.seconds);
    bool met = ratio >= kFloorTarget && r.ours.peakMiB < kPeakMemoryTargetMiB;
    std::string growth, memory;
    if (i > 0) {
      const SizeResult& p = results[i - 1];
      const double timeGrowth = ours / bench::Median(p.ours.seconds);
      const double sizeGrowth = double(r.songs) / double(p.songs);
      growth = bench::Ratio(timeGrowth) + " for " + bench::Ratio(sizeGrowth);
      memory = (r.ours.peakMiB >= p.ours.peakMiB ? "+" : "") +
               bench::Fixed(r.ours.peakMiB - p.ours.peakMiB, 1);
      met = met && timeGrowth <= kGrowthTarget * sizeGrowth;
    }
    auto mean = [&](double sum, int digits) { return bench::Fixed(sum / r.rounds, digits); };
    table.AddRow({std::to_string(r.songs), std::to_string(r.gets), bench::Fixed(ours, 2),
                  mean(r.ours.start, 3), mean(r.ours.end, 3), mean(r.ours.cpu, 2),
                  bench::Fixed(double(r.songs) / ours, 0), bench::Fixed(r.ours.peakMiB, 1),
                  bench::Fixed(floor, 2), mean(r.floor.start, 3), mean(r.floor.end, 3),
                  mean(r.floor.cpu, 2), bench::Fixed(double(r.songs) / floor, 0),
                  bench::Fixed(r.floor.peakMiB, 1), bench::Ratio(ratio), growth, memory,
                  bench::Verdict(met)});
  }
  table.AddNote(
      "targets: ours / floor (songs per second) >= " + bench::Ratio(kFloorTarget) +
      " (ours' time at most 1.10x the floor's); 10x the songs within 10x the time; peak RSS < " +
      bench::Fixed(kPeakMemoryTargetMiB, 0) + " MiB");
  table.AddNote("times are the median of " + std::to_string(rounds) +
                " rounds per size (start, end and CPU the mean), ours and the floor taking "
                "turns; ours / floor is the median of the rounds' ratios");
  table.AddNote(
      "both sides are processes of their own, timed from fork to exit (start-up, attach, song "
      "list, run, commit); start is fork to the \"Total: \" line, end is the line after the last "
      "song to the exit; CPU and peak RSS from getrusage of each child");
  table.AddNote(
      "floor: this benchmark started again: the song list, the count and the UPDATEs through "
      "the C API, and a raw-socket client sending ours' request bytes");
  std::string kernel;
  for (const SizeResult& r : results)
    kernel += std::string(kernel.empty() ? "" : "; ") + std::to_string(r.songs) + " songs " +
              bench::Fixed(r.ours.systemCpu / r.rounds, 2) + " / " +
              bench::Fixed(r.floor.systemCpu / r.rounds, 2);
  table.AddNote("of the CPU, in the kernel (ours / floor, s): " + kernel);
  table.Publish(args.Text("results", ""));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  return bench::Main(argc, argv, "bench_whole_run", [](const bench::Arguments& args) {
    return args.Text("floor-run", "").empty() ? Run(args) : FloorMain(args);
  });
}
