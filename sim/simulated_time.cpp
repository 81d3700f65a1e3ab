// SPDX-License-Identifier: MIT
// The simulator's clock. Everything the simulation times reads it: the chip's
// write cycle, the trace's time stamps, the adapter's delays and, in
// ebrilo-sim, the program's own tick counter. It runs speed times faster than
// the steady clock, and line operations of a simulated USB adapter move it on
// by their cost without taking any real time.
//
// Until the speed changes, simulated time is the system's monotonic clock:
// at speed 1 a trace and the tick counter can be laid beside the steady clock
// and the run's wall time. A change of speed, or a cost spent, only moves the
// point the faster clock counts from, so the clock never runs backwards.
#include <cstdint>

#include "sim/sim_parts.h"

namespace {

std::int64_t RealNanoseconds() {
  return HostNanoseconds();
}

// Simulated time is base_simulated + speed * (real time - base_real).
const std::int64_t start = RealNanoseconds();
std::int64_t base_real = start;
std::int64_t base_simulated = start;
std::int64_t speed = 1;

std::int64_t SimulatedAt(std::int64_t real) {
  return base_simulated + speed * (real - base_real);
}

}  // namespace

std::int64_t SimNanoseconds() {
  return SimulatedAt(RealNanoseconds());
}

void SimTimeSetSpeed(std::uint32_t new_speed) {
  const std::int64_t real = RealNanoseconds();
  base_simulated = SimulatedAt(real);
  base_real = real;
  speed = new_speed;
}

void SimTimeSpend(std::int64_t nanoseconds) {
  base_simulated += nanoseconds;
}
