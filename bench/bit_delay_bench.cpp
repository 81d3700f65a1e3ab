// SPDX-License-Identifier: MIT
#include "bench/bit_delay_bench.h"

#include <chrono>
#include <cmath>
#include <string>
#include <vector>

#include "bench/report_table.h"
#include "bench/spread.h"
#include "timing/delay.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kCalibrations = 5;
constexpr int kDelaysPerCalibration = 5000;

// The bit delay is meant to last 40 µs; the median may be 5% off, the 95th
// percentile 25% over.
constexpr double kBitDelayNs = 40'000;
constexpr double kMedianTolerance = 0.05;
constexpr double kP95Tolerance = 0.25;

double NanosecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::nano>(Clock::now() - start).count();
}

std::string Microseconds(double ns) {
  return Fixed(ns / 1000, 2) + " µs";
}

}  // namespace

void BenchBitDelay() {
  AddSection("Calibration and bit delay");
  std::vector<double> all_delays;
  std::vector<double> pass_ns;
  for (int calibration = 1; calibration <= kCalibrations; ++calibration) {
    const Clock::time_point start = Clock::now();
    CalibrateDelayChecked();
    const double calibration_ns = NanosecondsSince(start);
    std::vector<double> delays;
    for (int call = 0; call < kDelaysPerCalibration; ++call) {
      const Clock::time_point before = Clock::now();
      BitDelay();
      delays.push_back(NanosecondsSince(before));
    }
    const Spread spread = SpreadOf(delays);
    pass_ns.push_back(spread.median / delay_count);
    all_delays.insert(all_delays.end(), delays.begin(), delays.end());
    AddRow("Calibration " + std::to_string(calibration) + ": delay_count, duration, bit delay",
           std::to_string(delay_count) + ", " + Fixed(calibration_ns / 1e6, 0) + " ms, " +
               Microseconds(spread.median));
  }
  const Spread spread = SpreadOf(all_delays);
  AddRow("Bit delay, median of " + std::to_string(all_delays.size()) + " calls",
         Microseconds(spread.median),
         "40 µs ± 5% (" + Microseconds(kBitDelayNs * (1 - kMedianTolerance)) + " to " +
             Microseconds(kBitDelayNs * (1 + kMedianTolerance)) + ")",
         MetText(std::abs(spread.median - kBitDelayNs) <= kBitDelayNs * kMedianTolerance));
  double total = 0;
  for (const double delay : all_delays) {
    total += delay;
  }
  AddRow("Bit delay, mean", Microseconds(total / static_cast<double>(all_delays.size())));
  AddRow("Bit delay, p5", Microseconds(spread.p5));
  AddRow("Bit delay, p95", Microseconds(spread.p95),
         "≤ " + Microseconds(kBitDelayNs * (1 + kP95Tolerance)) + " (+25%)",
         MetText(spread.p95 <= kBitDelayNs * (1 + kP95Tolerance)));
  AddRow("One pass of the busy loop", Fixed(SpreadOf(pass_ns).median, 3) + " ns");
}
