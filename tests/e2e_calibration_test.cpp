// SPDX-License-Identifier: MIT
// The bit delay the bus gets, measured from the simulator's trace, when the
// program was stopped in the middle of its calibration: the calibration that
// the stop disturbed must not be the one the bus runs on.
#include <signal.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "tests/e2e/e2e_support.h"

namespace {

using Calibration = ScratchDirectory;

// How long SCL stays high each time, in microseconds, from a trace whose
// first variable ('!') is SCL.
std::vector<double> SclHighTimes(const std::string& path) {
  std::ifstream trace(path);
  std::vector<double> times;
  long long now = 0;
  long long rise = -1;
  for (std::string line; std::getline(trace, line);) {
    if (line.starts_with('#')) {
      now = std::stoll(line.substr(1));
    } else if (line == "1!") {
      rise = now;
    } else if (line == "0!" && rise >= 0) {
      times.push_back(static_cast<double>(now - rise) / 1000);
    }
  }
  return times;
}

// Stopped for 1.5 s as soon as "Initializing timer..." shows: the trial then
// running measures the stop, which alone would leave the delays far too short
// (a delay_count of 1). Most SCL high phases are data bits: one bit delay.
TEST_F(Calibration, AStopDuringCalibrationLeavesTheBitDelayAtFortyMicroseconds) {
  if (WindowsTarget()) {
    GTEST_SKIP() << "stops the process with a POSIX signal";
  }
  const ProgramRun run = Run({.arguments = {"/P"},
                              .sim = "trace=run.vcd",
                              .signal_to_send = SIGSTOP,
                              .signal_after = "Initializing timer...",
                              .stopped_ms = 1500});
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  std::vector<double> highs = SclHighTimes(Path("run.vcd"));
  ASSERT_GT(highs.size(), 100U);
  std::sort(highs.begin(), highs.end());
  EXPECT_GE(highs[highs.size() / 2], 36.0) << MaskDelayCount(run.out);
}

}  // namespace
