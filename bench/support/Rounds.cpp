#include "bench/support/Rounds.h"

#include <algorithm>
#include <stdexcept>

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

}  // namespace bench
