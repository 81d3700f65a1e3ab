// SPDX-License-Identifier: MIT
#include "bench/spread.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace {

double Percentile(const std::vector<double>& sorted, double fraction) {
  const auto rank =
      static_cast<std::size_t>(std::ceil(fraction * static_cast<double>(sorted.size())));
  return sorted[std::clamp<std::size_t>(rank, 1, sorted.size()) - 1];
}

}  // namespace

Spread SpreadOf(std::vector<double> samples) {
  if (samples.empty()) {
    return {};
  }
  std::sort(samples.begin(), samples.end());
  return {Percentile(samples, 0.5), Percentile(samples, 0.05), Percentile(samples, 0.95)};
}
