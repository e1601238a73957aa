// Reading many short lines through a TCP connection whose peer is a memory handler: measures
// the input queue and ReadLine without any socket in the way.
#include <benchmark/benchmark.h>

#include <string>

#include "http/IdIOHandlerMemory.h"
#include "http/IdTCPConnection.h"

namespace {

// Lines per run, each like a short header line.
constexpr int kLines = 100000;

std::string MakeInput() {
  std::string input;
  for (int i = 0; i < kLines; ++i) input += "X-Header-" + std::to_string(i % 1000) + ": value\r\n";
  return input;
}

void BM_ReadLine100kShortLines(benchmark::State& state) {
  const std::string input = MakeInput();
  std::size_t total = 0;
  for (auto _ : state) {
    state.PauseTiming();
    TIdIOHandlerMemory peer;
    // Pieces the size of one receive call, as a busy socket delivers them.
    for (std::size_t at = 0; at < input.size(); at += 32768) peer.Feed(input.substr(at, 32768));
    TIdTCPClient client;
    client.SetIOHandler(&peer);
    client.ConnectToPeer(0);
    state.ResumeTiming();

    for (int i = 0; i < kLines; ++i) {
      std::string line = client.ReadLine();
      total += line.size();
      benchmark::DoNotOptimize(line);
    }
  }
  benchmark::DoNotOptimize(total);
  state.SetItemsProcessed(state.iterations() * kLines);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(input.size()));
}
BENCHMARK(BM_ReadLine100kShortLines)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
