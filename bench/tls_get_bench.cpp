// HTTPS GET on loopback: the same 4 KiB page from the fixture site serving TLS, fetched by the
// main window's HTTP client (TIdHTTP::GetPage through its TLS I/O handler) and by libcurl, in
// interleaved rounds. First over a kept-alive connection (one handshake for the whole run),
// then with a new connection for every GET, whose extra time over the kept one is the cost of
// a handshake. libcurl resumes TLS sessions on new connections unless told not to; both of its
// ways are shown. The certificates are made for the run with the `openssl` command.
#include <stdlib.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/U_Principal.h"
#include "bench/support/Arguments.h"
#include "bench/support/CpuTime.h"
#include "bench/support/CurlClient.h"
#include "bench/support/FixtureSiteProcess.h"
#include "bench/support/ResultTable.h"
#include "bench/support/Rounds.h"
#include "bench/support/SongCorpus.h"
#include "ui/ConsoleApplication.h"

namespace {

// A full run: GETs over a kept connection and GETs that each open a new connection (with its
// handshake), in rounds; the page is 4 KiB.
constexpr long kDefaultGets = 5000;
constexpr long kDefaultNewConnections = 500;
constexpr long kDefaultRounds = 10;
constexpr long kPageBytes = 4096;
constexpr const char* kPagePath = "/perf/pagina.html";
// Target: ours at most libcurl's time per GET on a kept connection.
constexpr double kLibcurlTarget = 1.0;

void MakeCertificates(const std::string& dir) {
  const std::string key = "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
  const std::string script =
      "cd '" + dir + "' && openssl req -x509 " + key +
      " -keyout ca.key -out ca.crt -days 2 -subj '/CN=Bench CA' && openssl req " + key +
      " -keyout site.key -out site.csr -subj '/CN=127.0.0.1' && printf "
      "'subjectAltName=IP:127.0.0.1\\n' > site.ext && openssl x509 -req -in site.csr -CA ca.crt "
      "-CAkey ca.key -CAcreateserial -out site.crt -days 2 -extfile site.ext";
  if (std::system(("( " + script + " ) >/dev/null 2>&1").c_str()) != 0)
    throw std::runtime_error("openssl could not make the certificates");
}

// Runs `gets` in turns, `perRound` GETs a round, after one GET each that opens the connections.
std::vector<bench::Side> Measure(
    const std::vector<std::pair<std::string, std::function<std::size_t()>>>& gets, long rounds,
    long perRound) {
  std::vector<bench::Side> sides;
  for (const auto& [name, get] : gets) {
    if (get() != std::size_t(kPageBytes)) throw std::runtime_error(name + ": wrong body");
    sides.push_back(bench::GetSide(name, get, perRound, std::size_t(kPageBytes)));
  }
  bench::RunInTurns(sides, rounds, perRound);
  return sides;
}

int Run(const bench::Arguments& args) {
  const long rounds = std::max(1L, args.Count("rounds", kDefaultRounds));
  const long perRound = std::max(1L, args.Count("gets", kDefaultGets) / rounds);
  const long perRoundNew =
      std::max(1L, args.Count("new-connections", kDefaultNewConnections) / rounds);

  bench::ScratchFolder scratch;
  MakeCertificates(scratch.Path());
  std::filesystem::create_directories(scratch.File("site/perf"));
  std::ofstream(scratch.File("site") + kPagePath, std::ios::binary)
      << bench::ComposerPage("Autor de Teste", std::size_t(kPageBytes));
  bench::FixtureSiteProcess site(
      args.Text("site", std::string(LIRENTA_BIN_DIR) + "/lirenta-fixture-site"),
      scratch.File("site"),
      {"--cert", scratch.File("site.crt"), "--key", scratch.File("site.key")});
  const std::string url = "https://127.0.0.1:" + std::to_string(site.Port()) + kPagePath;
  setenv("SSL_CERT_FILE", scratch.File("ca.crt").c_str(), 1);

  // Our client exactly as the main window sets it up.
  ui::ConsoleApplication application(stdout, stderr, false);
  TFrmPrincipal window(application);
  TIdHTTP& ours = *window.IdHTTP1;
  auto ourGet = [&] {
    std::string text;
    ours.GetPage(url, text);
    return text.size();
  };
  const std::string ca = scratch.File("ca.crt");
  bench::CurlClient kept({.url = url, .caFile = ca});
  bench::CurlClient fresh({.url = url, .caFile = ca, .freshConnections = true});
  bench::CurlClient freshFull(
      {.url = url, .caFile = ca, .freshConnections = true, .sessionCache = false});

  const int64_t handshakesBefore = window.IdSSLIOHandlerSocket1->Handshakes();
  const std::vector<bench::Side> keptWays =
      Measure({{"ours (TIdHTTP::GetPage)", ourGet},
               {"libcurl (easy handle reused)", [&] { return kept.Get().size(); }}},
              rounds, perRound);
  const int64_t keptHandshakes = window.IdSSLIOHandlerSocket1->Handshakes() - handshakesBefore;

  const std::vector<bench::Side> newWays = Measure(
      {{"ours, new connection each GET",
        [&] {
          ours.DisconnectFromPeer();
          return ourGet();
        }},
       {"libcurl, new connection each GET, sessions resumed", [&] { return fresh.Get().size(); }},
       {"libcurl, new connection each GET, no session cache",
        [&] { return freshFull.Get().size(); }}},
      rounds, perRoundNew);
  ours.DisconnectFromPeer();

  const long done = perRound * rounds, doneNew = perRoundNew * rounds;
  const double toCurl = bench::MedianRatio(keptWays[0].rounds, keptWays[1].rounds);
  bench::ResultTable table(
      "HTTPS GET of a " + std::to_string(kPageBytes) + "-byte page, kept-alive TLS connection, " +
          std::to_string(done) + " GETs each in " + std::to_string(rounds) + " interleaved rounds",
      {"client", "us/GET", "CPU us/GET", "ours / this (median of rounds)", "target", "verdict"});
  auto row = [&](const bench::Side& way, long count) {
    return std::vector<std::string>{way.name, bench::Fixed(bench::MicrosPer(way.seconds, count), 1),
                                    bench::Fixed(bench::MicrosPer(way.cpuSeconds, count), 1)};
  };
  auto first = row(keptWays[0], done);
  first.insert(first.end(), {"", "", ""});
  table.AddRow(first);
  auto second = row(keptWays[1], done);
  second.insert(second.end(), {bench::Ratio(toCurl), "<= " + bench::Ratio(kLibcurlTarget),
                               bench::Verdict(toCurl <= kLibcurlTarget)});
  table.AddRow(second);
  table.AddNote("our handshakes over the kept-alive run: " + std::to_string(keptHandshakes));
  table.AddNote("server: lirenta-fixture-site --cert --key on 127.0.0.1 (TLS 1.3, P-256 key)");
  table.Publish(args.Text("results", ""));

  bench::ResultTable costs(
      "HTTPS GET with a new connection (TCP connect and TLS handshake) for "
      "every GET, " +
          std::to_string(doneNew) + " GETs each in " + std::to_string(rounds) +
          " interleaved rounds",
      {"client", "us/GET", "CPU us/GET", "handshake cost us (minus kept GET)",
       "ours / this (median of rounds)"});
  const double ourKept = bench::MicrosPer(keptWays[0].seconds, done);
  const double curlKept = bench::MicrosPer(keptWays[1].seconds, done);
  for (std::size_t i = 0; i < newWays.size(); ++i) {
    auto cells = row(newWays[i], doneNew);
    const double perGet = bench::MicrosPer(newWays[i].seconds, doneNew);
    cells.push_back(bench::Fixed(perGet - (i == 0 ? ourKept : curlKept), 1));
    cells.push_back(
        i == 0 ? "" : bench::Ratio(bench::MedianRatio(newWays[0].rounds, newWays[i].rounds)));
    costs.AddRow(cells);
  }
  costs.AddNote("ours makes a full handshake on every new connection (no session resumption)");
  costs.Publish(args.Text("results", ""));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const bench::CurlGlobal curl;
  return bench::Main(argc, argv, "bench_tls_get", Run);
}
