// SPDX-License-Identifier: MIT
#include "bus/chip_addressing.h"

#include <algorithm>
#include <array>

std::vector<std::uint8_t> chip_addresses = {0x54, 0x55, 0x56, 0x57, 0x5C};
std::uint32_t chip_block_bytes = 256;
int chip_probe_address_bytes = 1;
bool refused_after_address = false;

std::uint8_t ProbeControlByte() {
  return static_cast<std::uint8_t>(chip_addresses.front() << 1);
}

std::span<const std::uint8_t> DummyWordAddress(int address_bytes) {
  static constexpr std::array<std::uint8_t, 2> kZeros{};
  return std::span(kZeros).first(static_cast<std::size_t>(std::clamp(address_bytes, 1, 2)));
}

bool ProbeReadsBack(int address_bytes) {
  return address_bytes > 1;
}

// A read that runs on past its block is one of a plain chip whose
// sequential read runs through the whole array (a 24C16's 1024-byte read
// from 0 covers four blocks), carried in pieces: each piece after the first
// block's end is addressed at the block it lies in. The blocks' addresses
// need not be neighbours (a block bit in the place of A2 puts them four
// apart), so the next block is the next address in the list.
std::uint8_t ControlByteAt(std::uint8_t control, std::uint32_t word_address, std::uint32_t offset) {
  const std::uint32_t blocks_on = (word_address + offset) / chip_block_bytes;
  const auto own = std::find(chip_addresses.begin(), chip_addresses.end(), control >> 1);
  if (blocks_on == 0 || own == chip_addresses.end() ||
      blocks_on >= static_cast<std::uint32_t>(chip_addresses.end() - own)) {
    return control;
  }
  return static_cast<std::uint8_t>(own[blocks_on] << 1 | (control & 1));
}

std::uint32_t WordAddressAt(std::uint32_t word_address, std::uint32_t offset) {
  return (word_address + offset) % chip_block_bytes;
}
