// SPDX-License-Identifier: MIT
#include "timing/delay.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "platform/platform.h"

std::int32_t delay_count = 0;
std::int32_t scl_hold_count = 0;

namespace {

// The busy counter and calibration's outer counter live in memory (volatile):
// every pass of a delay loop is a decrement in memory and a test, in
// calibration and in use alike. A loop the optimiser shortened, removed or
// kept in a register would no longer match the count measured at start-up.
volatile std::int32_t busy_counter = 0;
volatile std::int32_t outer_counter = 0;

// ... or once a trial reaches this many passes, which no real machine makes in
// 300 ms: it keeps a tick counter that never advances from stalling start-up.
constexpr std::int64_t kMaximumTrialPasses = std::int64_t{1} << 31;

// A scaled bit delay is timed in stretches of delays about this long, long
// against the microsecond clock's step and short enough that most pass
// undisturbed, this many stretches a round, in at most this many rounds.
constexpr double kStretchMicroseconds = 500.0;
constexpr int kTimedStretches = 50;
constexpr int kTimingRounds = 5;

// A stretch that took more than twice as long as asked, at its shortest,
// shortens the delay to this much over what was asked.
constexpr double kLongestRatio = 0.5;
constexpr double kShortenedTo = 1.1;

// The post-write wait ends once more than this many milliseconds have passed.
constexpr std::uint32_t kSettleMs = 50;

// One bit delay is meant to last this long.
constexpr double kBitDelayMicroseconds = kCalibratedBitDelayMicroseconds;

// The one busy loop of the program: calibration times it and every bit delay
// runs it, so the count measured at start-up holds for the bus. It is kept
// out of line and never copied (noipa: no inlining, cloning or merging), and
// it starts a 64-byte line and is short enough to stay inside it: on some
// processors a copy of the same loop that straddled a line boundary ran up to
// about twice as slow per pass as the copy that was timed.
[[gnu::noipa, gnu::aligned(64)]] void SpinBusyCounter(std::int32_t passes) {
  busy_counter = passes;
  while (busy_counter > 0) {
    busy_counter = busy_counter - 1;
  }
}

struct LoopTimes {
  std::uint32_t t_overhead;
  std::uint32_t t_loop;
};

// Times a outer passes with a single busy pass each, then a outer passes with
// delay_count busy passes each. Tick differences are unsigned, so a wrap of
// the counter in between does not matter.
LoopTimes MeasureLoops(std::int32_t a) {
  LoopTimes times{};
  outer_counter = a;
  std::uint32_t noted = TickCount();
  while (outer_counter > 0) {
    outer_counter = outer_counter - 1;
    SpinBusyCounter(1);
  }
  times.t_overhead = TickCount() - noted;

  outer_counter = a;
  noted = TickCount();
  while (outer_counter > 0) {
    outer_counter = outer_counter - 1;
    SpinBusyCounter(delay_count);
  }
  times.t_loop = TickCount() - noted;
  return times;
}

}  // namespace

std::int64_t RoundHalfEven(double value) {
  // nearbyint rounds in the current rounding mode, which is to nearest with
  // ties to even unless someone changed it; nothing in this program does.
  return static_cast<std::int64_t>(std::nearbyint(value));
}

void CalibrateDelay(std::uint32_t minimum_trial_ms) {
  delay_count = 1;
  // x doubles every trial; 64 bits keep the last doubling from overflowing.
  std::int64_t x = 1;
  LoopTimes times{};
  do {
    x = 2 * x;
    delay_count = static_cast<std::int32_t>(RoundHalfEven(std::sqrt(static_cast<double>(x))));
    times = MeasureLoops(delay_count);
  } while (times.t_loop <= minimum_trial_ms && x < kMaximumTrialPasses);

  // The long loop made about x more busy passes than the short one. A long
  // loop that did not measure longer than the short one (a tick counter that
  // stalled or jumped) is taken as one tick, so the count stays finite.
  const std::int64_t difference_ms =
      std::max<std::int64_t>(static_cast<std::int64_t>(times.t_loop) - times.t_overhead, 1);
  const float per40 =
      static_cast<float>(static_cast<double>(difference_ms * 1000) / kBitDelayMicroseconds);
  const std::int64_t count = RoundHalfEven(static_cast<double>(x) / per40) + 1;
  delay_count = static_cast<std::int32_t>(
      std::min<std::int64_t>(count, std::numeric_limits<std::int32_t>::max()));
}

// Calibration's count is one more than the busy passes it measured in 40 µs
// (the single pass of its overhead loop); only the passes scale, rounded up.
std::int32_t ScaledCount(std::int32_t count, double factor) {
  return static_cast<std::int32_t>(
      std::clamp<double>(std::ceil(static_cast<double>(count - 1) * factor) + 1, 1,
                         std::numeric_limits<std::int32_t>::max()));
}

void SetBitDelay(double microseconds, double scl_microseconds) {
  delay_count = ScaledCount(delay_count, microseconds / kBitDelayMicroseconds);
  const int delays = static_cast<int>(std::ceil(kStretchMicroseconds / microseconds));
  const double stretch = delays * microseconds;
  for (int round = 0; round < kTimingRounds; ++round) {
    std::uint64_t shortest = std::numeric_limits<std::uint64_t>::max();
    for (int sample = 0; sample < kTimedStretches; ++sample) {
      const std::uint64_t started = MicrosecondCount();
      for (int delay = 0; delay < delays; ++delay) {
        BitDelay();
      }
      shortest = std::min(shortest, MicrosecondCount() - started);
    }
    // A clock that did not move tells nothing; one that jumped is not
    // believed beyond doubling or halving the delay a round. A delay more
    // than twice too long (a calibration held up while it timed its short
    // loop) is brought down to 10 % over, which stays long enough should no
    // round follow to time it.
    if (shortest == 0) {
      break;
    }
    const double ratio = stretch / static_cast<double>(shortest);
    if (ratio <= 1 && ratio >= kLongestRatio) {
      break;
    }
    delay_count = ScaledCount(
        delay_count, ratio > 1 ? std::min(ratio, 2.0) : std::max(ratio * kShortenedTo, 0.5));
  }
  scl_hold_count = scl_microseconds > microseconds
                       ? ScaledCount(delay_count, (scl_microseconds - microseconds) / microseconds)
                       : 0;
}

void BitDelay() {
  SpinBusyCounter(delay_count);
}

void SclHold() {
  if (scl_hold_count > 0) {
    SpinBusyCounter(scl_hold_count);
  }
}

// Both waits poll: no sleep, so they end as soon as the tick counter allows.
// Elapsed time is the unsigned difference of two readings, right across the
// counter's wrap.
void WaitTicks(std::uint32_t ms) {
  const std::uint32_t noted = TickCount();
  do {
    PumpMessages();
  } while (TickCount() - noted < ms);
}

std::uint32_t SettleStart() {
  return TickCount();
}

bool SettleOver(std::uint32_t noted) {
  return TickCount() - noted > kSettleMs;
}

// Also a polling loop, fine enough for the read settle time of a port whose
// CTS reports late; it gives the message queue its turn as the others do.
void WaitUntilMicrosecond(std::uint64_t deadline) {
  while (MicrosecondCount() < deadline) {
    PumpMessages();
  }
}

void SettleWait() {
  const std::uint32_t noted = SettleStart();
  do {
    PumpMessages();
  } while (!SettleOver(noted));
}
