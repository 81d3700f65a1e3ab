// SPDX-License-Identifier: MIT
// The program's clock in ebrilo-sim: the tick counter runs on the simulated
// clock, so that a faster simulation speeds up the whole program unchanged.
// The first reading sets the speed from EBRILO_SIM. On a serial port that is
// the calibration of the bit delay, before the port opens; at speed N it
// finds a busy loop N times shorter in real time, which is still 40 µs of
// simulated time, and every wait passes N times sooner. An adapter's or the
// programmer's run calibrates nothing, and its opening sets the same speed.
#include <cstdint>

#include "platform/platform.h"
#include "sim/sim_parts.h"

namespace {

std::int64_t ProgramNanoseconds() {
  static const bool started = [] {
    SimTimeStartFromEnvironment();
    return true;
  }();
  static_cast<void>(started);
  return SimNanoseconds();
}

}  // namespace

std::uint32_t TickCount() {
  // Milliseconds, keeping the low 32 bits: a counter that wraps as the
  // system's does.
  return static_cast<std::uint32_t>(ProgramNanoseconds() / 1'000'000);
}

// The simulated adapter's round trips and its late CTS show on this clock
// just as a real adapter's show on the system's, at any speed.
std::uint64_t MicrosecondCount() {
  return static_cast<std::uint64_t>(ProgramNanoseconds() / 1'000);
}
