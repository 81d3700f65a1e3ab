// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <cstdint>

#include "tests/fakes/fake_clock.h"
#include "tests/unit_support.h"
#include "timing/delay.h"

namespace {

class CalibrationCheckTest : public testing::Test {
 protected:
  void SetUp() override {
    ResetState();
  }
};

// The tick readings of one calibration: eight trials too short, then a ninth
// (x = 512) whose long loop measures `difference` ms more than its short one.
// A difference of 1, 2, 3 or 4 ms gives a delay_count of 21, 11, 8 or 6.
void QueueCalibration(std::uint32_t difference) {
  for (std::uint32_t trial = 0; trial < 8; ++trial) {
    fake_tick_queue.insert(fake_tick_queue.end(), {100, 100, 1000, 1300});
  }
  fake_tick_queue.insert(fake_tick_queue.end(), {100, 400, 1000, 1300 + difference});
}

// The tick readings of the check when bit delays take 1000 / per_ms µs: the
// counter ticks after the first delay (the first edge), then once every
// per_ms delays; at `jump_at` ms past that edge it leaps by `jump` ms, as
// when the process was stopped. Ends with the reading 100 ms past the edge.
void QueueCheck(std::uint32_t per_ms, std::uint32_t jump_at = 0, std::uint32_t jump = 0) {
  constexpr std::uint32_t kStart = 50000;
  fake_tick_queue.push_back(kStart);
  for (std::uint32_t ms = 0;; ++ms) {
    const std::uint32_t reading = kStart + 1 + ms + (jump_at != 0 && ms >= jump_at ? jump : 0);
    if (reading - (kStart + 1) >= 100) {
      fake_tick_queue.push_back(reading);
      return;
    }
    fake_tick_queue.insert(fake_tick_queue.end(), per_ms, reading);
  }
}

// Once the script is used up, every read jumps a second: an unplanned
// calibration or check then ends at once, and the count shows it.
void AfterScript() {
  fake_tick_next = 0x00800000;
  fake_tick_step = 1000;
}

TEST_F(CalibrationCheckTest, MeasuresTheFastestWindowBetweenTickEdges) {
  delay_count = 3;
  QueueCheck(25);
  AfterScript();
  EXPECT_NEAR(MeasureBitDelay(), 40.0, 0.5);
  EXPECT_TRUE(fake_tick_queue.empty());

  // A stop in the middle of the check slows one window only.
  ResetState();
  delay_count = 3;
  QueueCheck(25, 40, 1500);
  AfterScript();
  EXPECT_NEAR(MeasureBitDelay(), 40.0, 0.5);
}

// A calibration disturbed into a count too small is caught by its delays and
// done again; an undisturbed one is kept at once.
TEST_F(CalibrationCheckTest, RepeatsCalibrationWhileTheDelaysComeOutShort) {
  const struct {
    const char* scenario;
    std::uint32_t first_per_ms;  // delays per ms in the first check
    std::int32_t delay_count;
    std::size_t calibrations;
  } cases[] = {
      {"40 µs delays are kept", 25, 21, 1},
      {"38.5 µs is within 10 %", 26, 21, 1},
      {"35.7 µs is more than 10 % short", 28, 11, 2},
      {"4 µs after a stopped calibration", 250, 11, 2},
      {"1 ms, over twice 40 µs, after a calibration held up in its short loop", 1, 11, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.scenario);
    ResetState();
    QueueCalibration(1);
    QueueCheck(c.first_per_ms);
    QueueCalibration(2);
    QueueCheck(25);
    AfterScript();
    CalibrateDelayChecked();
    EXPECT_EQ(delay_count, c.delay_count);
    // Whatever was not needed is still queued.
    EXPECT_EQ(fake_tick_queue.empty(), c.calibrations == 2);
  }
}

// Short every time: after the fourth calibration the count whose delays came
// out longest is kept.
TEST_F(CalibrationCheckTest, KeepsTheBestOfFourShortCalibrations) {
  QueueCalibration(1);
  QueueCheck(100);
  QueueCalibration(2);
  QueueCheck(30);
  QueueCalibration(3);
  QueueCheck(50);
  QueueCalibration(4);
  QueueCheck(40);
  AfterScript();
  CalibrateDelayChecked();
  EXPECT_EQ(delay_count, 11);
  EXPECT_TRUE(fake_tick_queue.empty());
  EXPECT_EQ(fake_tick_readings.size(), 4 * (4 * 9 + 2) + (100 + 30 + 50 + 40) * 100U);
}

// A tick counter that never moves cannot judge the count: the check ends
// after its cap of busy passes (a few seconds here) and the count stands.
TEST_F(CalibrationCheckTest, AStalledTickCounterEndsTheCheck) {
  delay_count = 1 << 20;
  fake_tick_next = 777;
  fake_tick_step = 0;
  EXPECT_EQ(MeasureBitDelay(), 0.0);
  EXPECT_EQ(fake_tick_readings.size(), 1 + 1024U);
}

}  // namespace
