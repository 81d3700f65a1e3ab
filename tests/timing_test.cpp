// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "tests/fakes/fake_clock.h"
#include "tests/unit_support.h"
#include "timing/delay.h"

namespace {

class TimingTest : public testing::Test {
 protected:
  void SetUp() override {
    ResetState();
  }
};

// Queues the four tick readings of one calibration trial, so that its short
// loop measures t_overhead and its long loop t_loop.
void QueueTrial(std::uint32_t start, std::uint32_t t_overhead, std::uint32_t t_loop) {
  fake_tick_queue.insert(fake_tick_queue.end(),
                         {start, start + t_overhead, start + 1000, start + 1000 + t_loop});
}

// Once the script runs out, every read jumps a second, so an extra trial
// ends at once and shows up in the read count instead of spinning on.
void AfterScriptJumpSeconds() {
  fake_tick_next = 0x00800000;
  fake_tick_step = 1000;
}

struct WaitCase {
  const char* scenario;
  bool settle;  // SettleWait, else WaitTicks(wait_ms)
  std::uint32_t wait_ms;
  std::uint32_t start;
  std::uint32_t step;
  std::uint32_t elapsed;  // at the reading that ends the wait
};

TEST_F(TimingTest, WaitsEndAtTheFirstReadingPastTheirLimit) {
  const WaitCase cases[] = {
      // 200 ms have passed at start+200: that reading ends the wait, not the next.
      {"WaitTicks(200), 1 ms ticks", false, 200, 1000, 1, 200},
      // The unsigned difference carries the wait across the counter's wrap.
      {"WaitTicks(200) across the wrap", false, 200, 0xFFFFFFF0, 1, 200},
      // Coarse ticks: 192 ms is not enough, 208 ms is the first reading past.
      {"WaitTicks(200), 16 ms ticks", false, 200, 5, 16, 208},
      // The write cycle wait needs more than 50 ms: 51.
      {"SettleWait, 1 ms ticks", true, 0, 1000, 1, 51},
      {"SettleWait started just before the wrap", true, 0, 0xFFFFFFF0, 1, 51},
      // 48 ms is not more than 50; 64 ms is the first reading that is.
      {"SettleWait, 16 ms ticks", true, 0, 7, 16, 64},
      {"SettleWait, 16 ms ticks across the wrap", true, 0, 0xFFFFFFF8, 16, 64},
  };
  for (const WaitCase& c : cases) {
    SCOPED_TRACE(c.scenario);
    ResetState();
    fake_tick_next = c.start;
    fake_tick_step = c.step;
    if (c.settle) {
      SettleWait();
    } else {
      WaitTicks(c.wait_ms);
    }
    ASSERT_FALSE(fake_tick_readings.empty());
    EXPECT_EQ(fake_tick_readings.back() - c.start, c.elapsed);
    // One noted reading, then one read per poll pass: nothing read after the end.
    EXPECT_EQ(fake_tick_readings.size(), 1 + c.elapsed / c.step);
  }
}

// Every poll pass gives the message queue one turn before it reads the tick.
TEST_F(TimingTest, EachPollPassPumpsTheMessageQueueOnce) {
  WaitTicks(3);
  EXPECT_EQ(fake_clock_events, "TPTPTPT");
  ResetState();
  SettleWait();
  EXPECT_EQ(fake_clock_events.size(), 1 + 2 * 51U);
  EXPECT_EQ(fake_clock_events.substr(0, 5), "TPTPT");
}

// The trials try x = 2, 4, 8, ... with a = sqrt(x) rounded as the busy-loop
// length, and the count comes from x of the last trial, not a * a.
TEST_F(TimingTest, CalibrationTriesTheSquareRootSequence) {
  for (int trial = 0; trial < 8; ++trial) {
    QueueTrial(100, 0, 300);
  }
  // Last trial: x = 512, a = 23. per40 = (301 - 300) * 1000 / 40 = 25, and
  // 512 / 25 = 20.48 rounds to 20; a * a = 529 would have given 21.
  QueueTrial(100, 300, 301);
  AfterScriptJumpSeconds();
  CalibrateDelay();
  ASSERT_EQ(fake_delay_count_at_read.size(), 9 * 4U);
  std::vector<std::int32_t> lengths;
  for (std::size_t read = 3; read < fake_delay_count_at_read.size(); read += 4) {
    lengths.push_back(fake_delay_count_at_read[read]);
  }
  EXPECT_EQ(lengths, (std::vector<std::int32_t>{1, 2, 3, 4, 6, 8, 11, 16, 23}));
  EXPECT_EQ(delay_count, 21);
}

struct CalibrationCase {
  const char* scenario;
  std::vector<std::uint32_t> t_loops;  // one per trial; the others' t_overhead is 0
  std::uint32_t last_overhead;
  std::size_t trials;
  std::int32_t delay_count;
};

TEST_F(TimingTest, CalibrationStopsPastThreeHundredMsAndScalesTheCount) {
  const CalibrationCase cases[] = {
      // x = 2: per40 = 301000 / 40 = 7525, 2 / 7525 rounds to 0, plus 1.
      {"first trial already long enough", {301}, 0, 1, 1},
      // Exactly 300 ms is not enough: a second trial runs.
      {"300 ms repeats, 301 stops", {300, 301}, 0, 2, 1},
      {"a slow start", {0, 0, 12, 80, 299, 350}, 0, 6, 1},
      // x = 256: per40 = 6000 / 40 = 150, 256 / 150 = 1.71 rounds to 2, plus 1.
      {"short-loop overhead is subtracted", {1, 2, 3, 5, 9, 20, 80, 301}, 295, 8, 3},
      // x = 128: per40 = 25, 128 / 25 = 5.12 rounds to 5, plus 1.
      {"one tick of difference", {1, 1, 1, 1, 1, 1, 302}, 301, 7, 6},
  };
  for (const CalibrationCase& c : cases) {
    SCOPED_TRACE(c.scenario);
    ResetState();
    for (std::size_t trial = 0; trial < c.t_loops.size(); ++trial) {
      const bool last = trial + 1 == c.t_loops.size();
      QueueTrial(static_cast<std::uint32_t>(trial) * 5000, last ? c.last_overhead : 0,
                 c.t_loops[trial]);
    }
    AfterScriptJumpSeconds();
    CalibrateDelay();
    EXPECT_EQ(fake_tick_readings.size(), 4 * c.trials);
    EXPECT_EQ(delay_count, c.delay_count);
  }
}

// The long loop's ticks straddle the wrap: 0xFFFFFF00 to 0x31 is 305 ms.
TEST_F(TimingTest, CalibrationMeasuresAcrossTheTickWrap) {
  fake_tick_queue.insert(fake_tick_queue.end(), {0xFFFFFE00, 0xFFFFFE00, 0xFFFFFF00, 0x31});
  AfterScriptJumpSeconds();
  CalibrateDelay();
  EXPECT_EQ(fake_tick_readings.size(), 4U);
  EXPECT_EQ(delay_count, 1);
}

// A long loop measured no longer than the short one must still give a
// usable count, not a division by zero or a negative count.
TEST_F(TimingTest, CalibrationGuardsALoopNoLongerThanItsOverhead) {
  for (const std::uint32_t overhead : {301U, 302U, 900U}) {
    SCOPED_TRACE(overhead);
    ResetState();
    QueueTrial(40, overhead, 301);
    AfterScriptJumpSeconds();
    CalibrateDelay();
    EXPECT_EQ(fake_tick_readings.size(), 4U);
    EXPECT_GE(delay_count, 1);
  }
}

// A tick counter that never moves must not keep start-up spinning forever.
// This runs the busy loop for its whole cap, a few seconds.
TEST_F(TimingTest, CalibrationEndsWithAStalledTickCounter) {
  fake_tick_next = 12345;
  fake_tick_step = 0;
  CalibrateDelay();
  EXPECT_GE(delay_count, 1);
  EXPECT_EQ(fake_tick_readings.size() % 4, 0U);
}

TEST(RoundHalfEvenTest, HalvesGoToTheEvenNeighbour) {
  const struct {
    double value;
    std::int64_t rounded;
  } cases[] = {{2.5, 2}, {3.5, 4}, {-0.5, 0}, {-1.5, -2}, {0.5, 0}, {1.41, 1}, {22.63, 23}};
  for (const auto& c : cases) {
    EXPECT_EQ(RoundHalfEven(c.value), c.rounded) << c.value;
  }
}

}  // namespace
