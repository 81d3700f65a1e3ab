// SPDX-License-Identifier: MIT
// The bit delay the bus gets, measured from the simulator's trace: when the
// program was stopped in the middle of its calibration (the calibration that
// the stop disturbed must not be the one the bus runs on), and when the
// simulated clock runs 20 times faster than real time.
#include <signal.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "tests/e2e/e2e_support.h"

namespace {

using Calibration = ScratchDirectory;

// On some processors a busy loop that counts a variable in memory runs at
// two speeds, about 1.7 times apart, and switches between them while a run
// goes on (the processor forwards the counter from its store to its load in
// a register at times, and through the store queue at others). A bit delay
// calibrated at one speed then lasts from about 24 to about 64 µs, through no
// fault of the calibration. A disturbed calibration whose delays were kept
// gives 1 to 10 µs, and a clock that ran at the wrong speed a multiple of 40.
constexpr double kShortestBitDelayUs = 16.0;
constexpr double kLongestBitDelayUs = 80.0;

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
                              .stopped_ms = 1500,
                              .speed = 1});
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  std::vector<double> highs = SclHighTimes(Path("run.vcd"));
  ASSERT_GT(highs.size(), 100U);
  std::sort(highs.begin(), highs.end());
  EXPECT_GE(highs[highs.size() / 2], kShortestBitDelayUs) << MaskDelayCount(run.out);
}

// The line changes of a trace in order, without their times: "!1" for SCL
// rising, and so on for each variable.
std::string LineChanges(const std::string& path) {
  std::ifstream trace(path);
  std::string changes;
  bool definitions_done = false;
  for (std::string line; std::getline(trace, line);) {
    if (line == "$enddefinitions $end") {
      definitions_done = true;
    } else if (definitions_done && line.size() == 2 && (line[0] == '0' || line[0] == '1')) {
      changes += line + ' ';
    }
  }
  return changes;
}

// The same write at speed 1 and at speed 20: the same output, chip and bus,
// and the trace of the faster run still shows bit delays of about 40 µs of
// simulated time, give or take the simulator's own cost per line operation.
// With /F and a chip that stores at once, the first poll after each page is
// acknowledged at either speed, and the run takes half the time.
TEST_F(Calibration, SpeedTwentyRunsTheSameBusOnTheSimulatedClock) {
  const Bytes image = PatternImage(21);
  WriteFile("dump.bin", image);
  std::string outputs[2];
  std::string changes[2];
  const std::uint32_t speeds[2] = {1, 20};
  for (int run_index = 0; run_index < 2; ++run_index) {
    const std::string name = "speed" + std::to_string(speeds[run_index]);
    const ProgramRun run = Run({.arguments = {"dump.bin", "/F"},
                                .sim = "write_ms=0;save=" + name + ".bin;trace=" + name + ".vcd",
                                .speed = speeds[run_index]});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(ReadFile(name + ".bin"), image);
    outputs[run_index] = MaskDelayCount(run.out);
    changes[run_index] = LineChanges(Path(name + ".vcd"));
  }
  EXPECT_EQ(outputs[0], outputs[1]);
  EXPECT_FALSE(changes[0].empty());
  EXPECT_EQ(changes[0], changes[1]);
  std::vector<double> highs = SclHighTimes(Path("speed20.vcd"));
  ASSERT_GT(highs.size(), 100U);
  std::sort(highs.begin(), highs.end());
  EXPECT_GE(highs[highs.size() / 2], kShortestBitDelayUs);
  EXPECT_LE(highs[highs.size() / 2], kLongestBitDelayUs);
}

}  // namespace
