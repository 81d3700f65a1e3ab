// SPDX-License-Identifier: MIT
// Median and spread of timing samples.
#pragma once

#include <vector>

struct Spread {
  double median = 0;
  double p5 = 0;
  double p95 = 0;
};

// Nearest-rank percentiles; all zero for no samples.
Spread SpreadOf(std::vector<double> samples);
