#include "bench/support/Rounds.h"

#include <algorithm>
#include <chrono>
#include <stdexcept>

#include "bench/support/CpuTime.h"

namespace bench {

double Median(std::vector<double> values) {
  if (values.empty()) return 0.0;
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2.0;
}

double MedianRatio(const std::vector<double>& a, const std::vector<double>& b) {
  if (a.size() != b.size()) throw std::logic_error("rounds of the two sides differ in number");
  std::vector<double> ratios;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (b[i] > 0) ratios.push_back(a[i] / b[i]);
  return Median(std::move(ratios));
}

void RunInTurns(std::vector<Side>& sides, long rounds, long perRound) {
  for (long round = 0; round < rounds; ++round) {
    for (std::size_t turn = 0; turn < sides.size(); ++turn) {
      Side& side = sides[(std::size_t(round) + turn) % sides.size()];
      const double cpuStart = ProcessCpuSeconds();
      const auto start = std::chrono::steady_clock::now();
      side.work(round);
      const double seconds =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      side.seconds += seconds;
      side.cpuSeconds += ProcessCpuSeconds() - cpuStart;
      const double perItem = seconds / double(perRound);
      if (round == 0 || perItem < side.bestRound) side.bestRound = perItem;
      side.rounds.push_back(perItem);
    }
  }
}

Side GetSide(std::string name, std::function<std::size_t()> get, long perRound,
             std::size_t bodySize) {
  Side side{std::move(name), nullptr};
  side.work = [get = std::move(get), perRound, bodySize, name = side.name](long) {
    for (long i = 0; i < perRound; ++i)
      if (get() != bodySize) throw std::runtime_error(name + ": wrong body size");
  };
  return side;
}

}  // namespace bench
