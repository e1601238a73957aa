// HTTP GET on a kept-alive connection: the same 4 KiB page fetched from the fixture site on
// loopback by the main window's HTTP client (TIdHTTP::GetPage), by libcurl with one easy handle
// reused, and by a raw-socket client sending the very request bytes ours sends (the floor:
// what the loopback and the server cost). The three take turns in rounds, so that a noisy
// machine slows them alike.
#include <stdlib.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "app/ComposerLookup.h"
#include "app/U_Principal.h"
#include "bench/support/Arguments.h"
#include "bench/support/CpuTime.h"
#include "bench/support/CurlClient.h"
#include "bench/support/FixtureSiteProcess.h"
#include "bench/support/HeadRecorder.h"
#include "bench/support/RawHttpClient.h"
#include "bench/support/ResultTable.h"
#include "bench/support/Rounds.h"
#include "bench/support/SongCorpus.h"
#include "ui/ConsoleApplication.h"

namespace {

// Defaults of a full run.
constexpr long kDefaultGets = 10000;
constexpr long kDefaultRounds = 20;
constexpr long kDefaultPageBytes = 4096;
// Targets: ours at most libcurl's time per GET, and within 1.5 times the raw floor; ours'
// processor time per GET within 1.3 times the raw floor's.
constexpr double kLibcurlTarget = 1.0;
constexpr double kFloorTarget = 1.5;
constexpr double kFloorCpuTarget = 1.3;

constexpr const char* kPagePath = "/perf/pagina.html";
// Songs of the second comparison, the update run's mix of found and missing pages.
constexpr long kDefaultMixSongs = 3000;

// The update run's GETs without its database: every song's lookup through the main window's
// FindComposer (one GET for a third of the songs, two for a third, three for the last third,
// every missing page a refused 404 answer), against the raw client making the same GETs and
// cutting the composer out of the same pages.
void MeasureLookupMix(const bench::Arguments& args, TFrmPrincipal& window,
                      const bench::FixtureSiteProcess& site, const std::string& rawHead,
                      long rounds) {
  const long songs = std::max(rounds, args.Count("mix-songs", kDefaultMixSongs));
  const long perRound = songs / rounds;
  const long done = perRound * rounds;
  setenv(app::kLyricsAddressVariable, site.BaseUrl().c_str(), 1);
  bench::RawHttpClient raw(site.Port());
  std::string body;
  auto lookup = [&](bool ourSide, int song) {
    const std::string performer = bench::PerformerOf(song), title = bench::TitleOf(song);
    if (ourSide) return window.FindComposer(performer, title);
    for (std::size_t attempt = 0; attempt < app::kPageSuffixes.size(); ++attempt) {
      const std::string target = app::PageAddress("/", performer, title, attempt);
      if (raw.Exchange(bench::RetargetHead(rawHead, target, site.Port()), body) / 100 == 2)
        return app::ExtractComposer(body, bench::kPageContentType);
    }
    return std::string();
  };
  // A round looks up its own songs, every composer checked.
  auto side = [&](const char* name, bool ourSide) {
    return bench::Side{
        name, [&, name, ourSide](long round) {
          const int from = int(round * perRound) + 1;
          for (int song = from; song < from + perRound; ++song) {
            const bool found = bench::KindOf(song) != bench::PageKind::Missing;
            if (lookup(ourSide, song) != (found ? bench::ComposerOf(song) : std::string()))
              throw std::runtime_error(std::string(name) + ": wrong composer for song " +
                                       std::to_string(song));
          }
        }};
  };
  std::vector<bench::Side> ways = {side("ours (TFrmPrincipal::FindComposer)", true),
                                   side("raw socket (floor)", false)};
  bench::RunInTurns(ways, rounds, perRound);
  const long gets = bench::GetsFor(int(done));
  bench::ResultTable table("The update run's lookups without the database: " +
                               std::to_string(done) + " songs, " + std::to_string(gets) +
                               " GETs each side, " + std::to_string(rounds) + " interleaved rounds",
                           {"client", "us/song", "best round us/song", "us/GET", "CPU us/GET",
                            "ours / this (median of rounds)"});
  for (std::size_t i = 0; i < ways.size(); ++i)
    table.AddRow({ways[i].name, bench::Fixed(bench::MicrosPer(ways[i].seconds, done), 1),
                  bench::Fixed(ways[i].bestRound * 1e6, 1),
                  bench::Fixed(bench::MicrosPer(ways[i].seconds, gets), 1),
                  bench::Fixed(bench::MicrosPer(ways[i].cpuSeconds, gets), 1),
                  i == 0 ? "" : bench::Ratio(bench::MedianRatio(ways[0].rounds, ways[i].rounds))});
  table.AddNote(
      "a third of the pages found at once, a third at \"-cifrada\", a third missing "
      "(three 404 answers); every composer checked");
  table.Publish(args.Text("results", ""));
}

int Run(const bench::Arguments& args) {
  const long gets = args.Count("gets", kDefaultGets);
  const long rounds = std::max(1L, args.Count("rounds", kDefaultRounds));
  const long pageBytes = args.Count("page-bytes", kDefaultPageBytes);
  const std::string sitePath =
      args.Text("site", std::string(LIRENTA_BIN_DIR) + "/lirenta-fixture-site");

  bench::ScratchFolder scratch;
  const std::string page = bench::ComposerPage("Autor de Teste", std::size_t(pageBytes));
  bench::WriteSongSite(scratch.File("site"),
                       int(std::max(rounds, args.Count("mix-songs", kDefaultMixSongs))),
                       std::size_t(pageBytes));
  {
    std::filesystem::create_directories(scratch.File("site/perf"));
    std::ofstream(scratch.File("site") + kPagePath, std::ios::binary) << page;
  }
  bench::FixtureSiteProcess site(sitePath, scratch.File("site"));
  const std::string url = "http://127.0.0.1:" + std::to_string(site.Port()) + kPagePath;

  // Our client exactly as the main window sets it up.
  ui::ConsoleApplication application(stdout, stderr, false);
  TFrmPrincipal window(application);
  TIdHTTP& ours = *window.IdHTTP1;
  bench::CurlClient curl(
      {.url = url, .accept = ours.Request().Accept, .userAgent = ours.Request().UserAgent});

  const std::string ourHead = bench::CaptureRequestHead(kPagePath, [&](const std::string& at) {
    std::string ignored;
    ours.GetPage(at, ignored);
  });
  const std::string curlHead = bench::CaptureRequestHead(kPagePath, [&](const std::string& at) {
    curl.SetUrl(at);
    curl.Get();
  });
  curl.SetUrl(url);
  const std::string rawHead = bench::RetargetHead(ourHead, kPagePath, site.Port());
  bench::RawHttpClient raw(site.Port());

  std::string rawPage;
  const std::function<std::size_t()> gets3[] = {[&] {
                                                  std::string text;
                                                  ours.GetPage(url, text);
                                                  return text.size();
                                                },
                                                [&] { return curl.Get().size(); },
                                                [&] {
                                                  if (raw.Exchange(rawHead, rawPage) != 200)
                                                    throw std::runtime_error("raw GET refused");
                                                  return rawPage.size();
                                                }};
  const char* names[] = {"ours (TIdHTTP::GetPage)", "libcurl (easy handle reused)",
                         "raw socket (floor)"};
  const long perRound = std::max(1L, gets / rounds);
  std::vector<bench::Side> ways;
  for (std::size_t i = 0; i < 3; ++i) {
    // One GET each opens the connections and warms the caches.
    if (gets3[i]() != page.size()) throw std::runtime_error(std::string(names[i]) + ": wrong body");
    ways.push_back(bench::GetSide(names[i], gets3[i], perRound, page.size()));
  }
  bench::RunInTurns(ways, rounds, perRound);

  const long done = perRound * rounds;
  bench::ResultTable table("HTTP GET of a " + std::to_string(page.size()) +
                               "-byte page, kept-alive connection, " + std::to_string(done) +
                               " GETs each in " + std::to_string(rounds) + " interleaved rounds",
                           {"client", "us/GET", "best round us/GET", "CPU us/GET",
                            "ours / this (median of rounds)", "target", "verdict"});
  auto cpu = [&](const bench::Side& way) {
    return bench::Fixed(bench::MicrosPer(way.cpuSeconds, done), 1);
  };
  table.AddRow({ways[0].name, bench::Fixed(bench::MicrosPer(ways[0].seconds, done), 1),
                bench::Fixed(ways[0].bestRound * 1e6, 1), cpu(ways[0]), "", "", ""});
  const double toCurl = bench::MedianRatio(ways[0].rounds, ways[1].rounds);
  table.AddRow({ways[1].name, bench::Fixed(bench::MicrosPer(ways[1].seconds, done), 1),
                bench::Fixed(ways[1].bestRound * 1e6, 1), cpu(ways[1]), bench::Ratio(toCurl),
                "<= " + bench::Ratio(kLibcurlTarget), bench::Verdict(toCurl <= kLibcurlTarget)});
  const double toFloor = bench::MedianRatio(ways[0].rounds, ways[2].rounds);
  table.AddRow({ways[2].name, bench::Fixed(bench::MicrosPer(ways[2].seconds, done), 1),
                bench::Fixed(ways[2].bestRound * 1e6, 1), cpu(ways[2]), bench::Ratio(toFloor),
                "<= " + bench::Ratio(kFloorTarget), bench::Verdict(toFloor <= kFloorTarget)});
  const double cpuToFloor = ways[2].cpuSeconds > 0 ? ways[0].cpuSeconds / ways[2].cpuSeconds : 0;
  table.AddNote("processor time per GET, ours / raw floor: " + bench::Ratio(cpuToFloor) +
                " (target <= " + bench::Ratio(kFloorCpuTarget) +
                "): " + bench::Verdict(cpuToFloor <= kFloorCpuTarget));
  table.AddNote("request head: ours " + std::to_string(ourHead.size()) +
                " bytes (the floor sends the same), libcurl " + std::to_string(curlHead.size()) +
                " bytes");
  table.AddNote("server: lirenta-fixture-site on 127.0.0.1, one connection per client");
  table.Publish(args.Text("results", ""));

  MeasureLookupMix(args, window, site, rawHead, rounds);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const bench::CurlGlobal curl;
  return bench::Main(argc, argv, "bench_http_get", Run);
}
