// SPDX-License-Identifier: MIT
// The bus master inside an I2C adapter or USB programmer: it drives SCL and
// SDA itself, at the clock it is set to (an I2C adapter's kernel driver at
// the 100 kHz of standard mode, the CH341A at what its packets ask). Each
// bit is four steps of a quarter period of simulated time (2.5 µs at
// 100 kHz): data set up while SCL is low, SCL high for two steps, sampled in
// the middle.
#include <cstdint>

#include "sim/sim_parts.h"

namespace {

constexpr std::int64_t kQuartersNsPerKhz = 250'000;

std::int64_t step_ns = kQuartersNsPerKhz / 100;
bool scl_out = true;

void Lines(bool scl, bool sda) {
  scl_out = scl;
  SimAdapterLines(scl, sda, step_ns);
}

// SCL is low on entry and on return. SDA is set while SCL is low, and
// sampled in the middle of SCL's high time, as a receiver does: the level
// read is the bit's when the master released SDA for the chip.
bool ClockBit(bool bit) {
  Lines(false, bit);
  Lines(true, bit);
  SimTimeSpend(step_ns);
  const bool level = SimAdapterSda();
  Lines(false, bit);
  return level;
}

}  // namespace

void MasterClock(int khz) {
  step_ns = kQuartersNsPerKhz / khz;
}

// Either line may be in any state on entry: SDA is released before SCL
// rises, so that SDA falling is a START and not a STOP.
void MasterStart() {
  Lines(scl_out, true);
  Lines(true, true);
  Lines(true, false);
  Lines(false, false);
}

// SCL is low on entry, after a byte.
void MasterStop() {
  Lines(false, false);
  Lines(true, false);
  Lines(true, true);
}

bool MasterWrite(std::uint8_t byte) {
  for (int bit = 7; bit >= 0; --bit) {
    ClockBit(((byte >> bit) & 1) != 0);
  }
  return !ClockBit(true);
}

std::uint8_t MasterRead(bool acknowledge) {
  std::uint8_t value = 0;
  for (int bit = 0; bit < 8; ++bit) {
    value = static_cast<std::uint8_t>(value << 1 | (ClockBit(true) ? 1 : 0));
  }
  ClockBit(!acknowledge);
  return value;
}
