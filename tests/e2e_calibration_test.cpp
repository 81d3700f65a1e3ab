// SPDX-License-Identifier: MIT
// The bit delay the bus gets: when the program was stopped in the middle of
// its calibration (the calibration that the stop disturbed must not be the
// one the bus runs on), and when the simulated clock runs 20 times faster
// than real time, measured from the simulator's trace.
#include <signal.h>

#include <regex>
#include <string>

#include "tests/e2e/bus_trace.h"
#include "tests/e2e/e2e_support.h"
#include "tests/first_difference.h"

namespace {

using Calibration = ScratchDirectory;

// A calibration that a stop disturbed leaves a delay count of a few, or of a
// few hundred or thousand, where an undisturbed one counts some 40,000 to
// 100,000 here: the busy loop's two speeds (below) make the count of two
// runs left alone differ up to about 2.5 times, and a machine busy with other
// work lowers it a few times more.
constexpr long kCountsApartAtMost = 12;

// On some processors a busy loop that counts a variable in memory runs at
// two speeds, about 1.7 times apart, and switches between them while a run
// goes on, and a calibration that shares the processor with other work
// counts fewer passes into its 40 µs: a bit delay lasts from a few to about
// 64 µs, through no fault of the calibration. A clock that ran at the wrong
// speed gives a multiple of 40 µs.
constexpr double kLongestBitDelayUs = 80.0;

// The delay count on the run's timer line, or 0 when there is none.
long DelayCount(const std::string& out) {
  static const std::regex timer_line("Initializing timer\\.\\.\\.([0-9]+) OK!\r\n");
  std::smatch match;
  return std::regex_search(out, match, timer_line) ? std::stol(match[1]) : 0;
}

// Stopped for 1.5 s as soon as "Initializing timer..." shows: the trial then
// running measures the stop, which alone would leave the delays far too short
// (a delay count of a few). The check of the delays must find that out, and
// the bus run on a count calibrated again, like that of a run left alone.
TEST_F(Calibration, AStopDuringCalibrationLeavesTheBitDelayAtFortyMicroseconds) {
  if (WindowsTarget()) {
    GTEST_SKIP() << "stops the process with a POSIX signal";
  }
  const ProgramRun undisturbed = Run({.arguments = {"/P"}, .speed = 1});
  const ProgramRun stopped = Run({.arguments = {"/P"},
                                  .signal_to_send = SIGSTOP,
                                  .signal_after = "Initializing timer...",
                                  .stopped_ms = 1500,
                                  .speed = 1});
  ASSERT_EQ(undisturbed.status, 0) << undisturbed.err;
  ASSERT_EQ(stopped.status, 0) << stopped.err;
  EXPECT_GE(DelayCount(stopped.out) * kCountsApartAtMost, DelayCount(undisturbed.out))
      << "delay counts of the stopped run and of the one left alone";
}

// The same write at speed 1 and at speed 20: the same output, chip and
// transactions on the bus, and the trace of the faster run still shows bit
// delays of about 40 µs of simulated time, like the run at speed 1 and far
// from the 800 µs of a delay calibrated on the real clock. A pause of the
// machine at speed 20 is twenty times as long on the simulated clock: the
// check of the port may take it for a slow one and add line changes of its
// own outside any transaction, and with /F the writer may find its wait over
// before it polls the chip, which stores each page at once here. So the
// transactions are compared without the polls, which are the probe's.
TEST_F(Calibration, SpeedTwentyRunsTheSameBusOnTheSimulatedClock) {
  const Bytes image = PatternImage(21);
  WriteFile("dump.bin", image);
  std::string outputs[2];
  std::string transactions[2];
  double bit_delays[2] = {};
  const std::uint32_t speeds[2] = {1, 20};
  for (int run_index = 0; run_index < 2; ++run_index) {
    const std::string name = "speed" + std::to_string(speeds[run_index]);
    const ProgramRun run = Run({.arguments = {"dump.bin", "/F"},
                                .sim = "write_ms=0;save=" + name + ".bin;trace=" + name + ".vcd",
                                .speed = speeds[run_index]});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_PRED_FORMAT2(BytesMatch, ReadFile(name + ".bin"), image);
    outputs[run_index] = MaskDelayCount(run.out);
    transactions[run_index] = std::regex_replace(TraceTransactions(Path(name + ".vcd")),
                                                 std::regex("(^| )S A8\\+ 00\\+ P"), "");
    bit_delays[run_index] = MedianSclHigh(Path(name + ".vcd"));
  }
  EXPECT_PRED_FORMAT2(TextsMatch, outputs[1], outputs[0]);
  EXPECT_FALSE(transactions[0].empty());
  EXPECT_PRED_FORMAT2(TextsMatch, transactions[1], transactions[0]);
  EXPECT_GE(bit_delays[1], bit_delays[0] / 4) << "µs at speed 20 and at speed 1";
  EXPECT_LE(bit_delays[1], kLongestBitDelayUs);
}

}  // namespace
