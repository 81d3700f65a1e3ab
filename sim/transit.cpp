// SPDX-License-Identifier: MIT
// A connection that now and then brings a byte to the master wrong: a SOIC
// clip with one pin badly seated, long wires, a USB adapter that samples CTS
// late. The chip holds the right value and sends it; one bit (bit 4, or the
// one flip_bit names) turns over on the way. Applied where the chip puts
// each byte it sends on SDA, so that the serial port and both adapters see
// the same fault, and the bus monitor logs the byte as it travelled.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "sim/sim.h"
#include "sim/sim_parts.h"

namespace {

std::vector<std::uint32_t> flip_at;
std::uint32_t flip_every = 0;
std::uint8_t flipped_bit = 0x10;
std::uint64_t bytes_sent = 0;  // by the chip since the session began

}  // namespace

void TransitAttach(const SimConfig& config) {
  flip_at = config.flip_at;
  flip_every = config.flip_every;
  flipped_bit = static_cast<std::uint8_t>(1u << config.flip_bit);
  bytes_sent = 0;
}

std::uint8_t InTransit(std::uint8_t value) {
  ++bytes_sent;
  const bool flipped = std::find(flip_at.begin(), flip_at.end(), bytes_sent) != flip_at.end() ||
                       (flip_every != 0 && bytes_sent % flip_every == 0);
  return flipped ? static_cast<std::uint8_t>(value ^ flipped_bit) : value;
}
