// SPDX-License-Identifier: MIT
#include <cstdint>

#include "platform/platform.h"
#include "timing/delay.h"

namespace {

// A stretch of bit delays of about this length is timed after calibration.
constexpr std::uint32_t kCheckMs = 100;

// ... in windows from one tick edge to the first edge at least this far on:
// a window that nothing interrupted shows what the delays really take.
constexpr std::uint32_t kWindowMs = 2;

// Delays found more than 10 % short of 40 µs send calibration round again.
constexpr double kShortestBitDelayMicroseconds = 36.0;

// ... and so do delays more than twice as long. The process held up while
// calibration timed its short loop makes the difference between the loops
// look small and the count huge: a delay of milliseconds, which the bus
// takes, but which makes a run last hours instead of seconds, and makes a
// USB adapter's CTS seem to follow at once (every read comes a whole bit
// delay after the line changed).
constexpr double kLongestBitDelayMicroseconds = 80.0;

// Calibration is repeated at most this many times.
constexpr int kRecalibrations = 3;

// No real machine makes this many busy passes in the check; it keeps a tick
// counter that never advances from stalling start-up.
constexpr std::int64_t kMaximumCheckPasses = std::int64_t{1} << 30;

}  // namespace

double MeasureBitDelay() {
  std::int64_t passes = 0;
  // Windows run from edge to edge of the tick counter, each end read within
  // one bit delay of its edge.
  const std::uint32_t first = TickCount();
  std::uint32_t now = first;
  while (now == first && passes < kMaximumCheckPasses) {
    BitDelay();
    passes += delay_count;
    now = TickCount();
  }
  const std::uint32_t check_start = now;
  std::uint32_t window_start = now;
  std::int64_t delays = 0;
  double fastest = 0;
  while (now - check_start < kCheckMs && passes < kMaximumCheckPasses) {
    BitDelay();
    passes += delay_count;
    ++delays;
    now = TickCount();
    const std::uint32_t elapsed = now - window_start;
    if (elapsed >= kWindowMs) {
      const double microseconds = elapsed * 1000.0 / static_cast<double>(delays);
      if (fastest == 0 || microseconds < fastest) {
        fastest = microseconds;
      }
      window_start = now;
      delays = 0;
    }
  }
  return fastest;
}

void CalibrateDelayChecked() {
  std::int32_t best_count = 0;
  double best_ratio = 0;
  for (int attempt = 0; attempt <= kRecalibrations; ++attempt) {
    CalibrateDelay();
    const double measured = MeasureBitDelay();
    // A tick counter that did not move tells nothing: the count stands.
    if (measured == 0 ||
        (measured >= kShortestBitDelayMicroseconds && measured <= kLongestBitDelayMicroseconds)) {
      return;
    }
    // How many times too short or too long the delays are.
    const double ratio = measured < kCalibratedBitDelayMicroseconds
                             ? kCalibratedBitDelayMicroseconds / measured
                             : measured / kCalibratedBitDelayMicroseconds;
    if (best_ratio == 0 || ratio < best_ratio) {
      best_ratio = ratio;
      best_count = delay_count;
    }
  }
  delay_count = best_count;
}
