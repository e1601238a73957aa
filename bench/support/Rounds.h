// Times of a comparison taken in rounds, the sides taking turns. A stall of the machine hits
// one round of one side; the median of the per-round ratios is the figure such a stall cannot
// move, where the ratio of the totals can.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace bench {

double Median(std::vector<double> values);
// The median over the rounds of a[i] / b[i]; both hold one time per round.
double MedianRatio(const std::vector<double>& a, const std::vector<double>& b);

// One side of a comparison: its name, the work of one of its rounds (which raises when a result
// is wrong), and what its rounds took.
struct Side {
  std::string name;
  std::function<void(long round)> work;
  double seconds = 0;               // all rounds
  double cpuSeconds = 0;            // processor time of this process, user and system
  double bestRound = 0;             // seconds per item in the fastest round
  std::vector<double> rounds = {};  // seconds per item, one entry per round
};

// Runs `rounds` rounds of every side, the sides taking turns (round r starts with side r mod
// the number of sides), and records each round's time per item (`perRound` items a round).
void RunInTurns(std::vector<Side>& sides, long rounds, long perRound);

// A side whose round is `perRound` GETs through `get`, each of which must return a body of
// `bodySize` bytes.
Side GetSide(std::string name, std::function<std::size_t()> get, long perRound,
             std::size_t bodySize);

}  // namespace bench
