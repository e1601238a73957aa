// Times of a comparison taken in rounds, the sides taking turns. A stall of the machine hits
// one round of one side; the median of the per-round ratios is the figure such a stall cannot
// move, where the ratio of the totals can.
#pragma once

#include <vector>

namespace bench {

double Median(std::vector<double> values);
// The median over the rounds of a[i] / b[i]; both hold one time per round.
double MedianRatio(const std::vector<double>& a, const std::vector<double>& b);

}  // namespace bench
