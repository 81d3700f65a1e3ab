// SPDX-License-Identifier: MIT
// The program's clock in ebrilo-sim: the tick counter runs on the simulated
// clock, so that a faster simulation speeds up the whole program unchanged.
// The program calibrates its bit delay against this counter before it opens
// the port, so the first reading sets the speed from EBRILO_SIM already; at
// speed N the calibration finds a busy loop N times shorter in real time,
// which is still 40 µs of simulated time, and every wait passes N times sooner.
#include <cstdint>

#include "platform/platform.h"
#include "sim/sim_parts.h"

std::uint32_t TickCount() {
  static const bool started = [] {
    SimTimeStartFromEnvironment();
    return true;
  }();
  static_cast<void>(started);
  // Milliseconds, keeping the low 32 bits: a counter that wraps as the
  // system's does.
  return static_cast<std::uint32_t>(SimNanoseconds() / 1'000'000);
}
