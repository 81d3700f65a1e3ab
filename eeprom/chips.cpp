// SPDX-License-Identifier: MIT
#include "eeprom/chips.h"

#include <array>
#include <cctype>
#include <string>

namespace {

// The pages are the smallest in use for each size (ST's M24C02 has 16-byte
// pages, other makers' 24C02 8-byte ones). The 24RF08 answers at 0x54 to
// 0x57: the bit a plain 24C08 compares with A2 is tied high inside it, and
// its pins 1 to 3 are the RFID coil's and the protection input. The large
// parts put their address bits above the two word-address bytes in the
// control byte: the 1 and 2 Mbit parts from A0's place up, Microchip's
// 24xx1025 and 24xx515 in A2's place, and those two read on only inside
// each half of the chip.
constexpr std::array kChips = {
    Chip{"24RF08", 1024, 16, 1, 0x54, 0b000, 2, false, true, 128, true},
    Chip{"24C01", 128, 8, 1, 0x50, 0b111, 0, true, false, 0},
    Chip{"24C02", 256, 8, 1, 0x50, 0b111, 0, true, false, 0},
    Chip{"24C04", 512, 16, 1, 0x50, 0b110, 1, true, false, 0},
    Chip{"24C08", 1024, 16, 1, 0x50, 0b100, 2, true, false, 0},
    Chip{"24C16", 2048, 16, 1, 0x50, 0b000, 3, true, false, 0},
    Chip{"24C32", 4096, 32, 2, 0x50, 0b111, 0, true, false, 0},
    Chip{"24C64", 8192, 32, 2, 0x50, 0b111, 0, true, false, 0},
    Chip{"24C128", 16384, 64, 2, 0x50, 0b111, 0, true, false, 0},
    Chip{"24C256", 32768, 64, 2, 0x50, 0b111, 0, true, false, 0},
    Chip{"24C512", 65536, 128, 2, 0x50, 0b111, 0, true, false, 0},
    Chip{"24M01", 131072, 256, 2, 0x50, 0b110, 1, true, false, 0},
    Chip{"24M02", 262144, 256, 2, 0x50, 0b100, 2, true, false, 0},
    // Pin 3 tied high, the block bit in its place (block place 2).
    Chip{"24C1025", 131072, 128, 2, 0x50, 0b011, 1, true, false, 65536, false, 2},
    Chip{"24C515", 65536, 64, 2, 0x50, 0b011, 1, true, false, 32768, false, 2},
};

// The run of letters (or digits) in text from at (at most its size) on.
std::string RunOf(const std::string& text, std::size_t at, bool digits) {
  std::size_t end = at;
  while (end < text.size() && (digits ? std::isdigit(static_cast<unsigned char>(text[end]))
                                      : std::isalpha(static_cast<unsigned char>(text[end]))) != 0) {
    ++end;
  }
  return text.substr(at, end - at);
}

}  // namespace

const Chip* current_chip = kChips.data();
std::uint8_t chip_pins = 0;

std::span<const Chip> Chips() {
  return kChips;
}

// The size digits are the one sure part of a marking: whatever the maker
// puts around them, they follow "24" and the family letters, and end where
// a letter or the end comes. The family letters tell the 24RF08 (RF) from
// the plain chips (C, LC, AA, FC, G, T, or none), and name the 1 and 2 Mbit
// parts with an M (AT24CM01, M24M02), as the digits 1024 do on Atmel's
// older AT24C1024; Microchip's parts of 1025 and 515 Kbit digits put their
// block bit elsewhere, and are rows of their own. The X24C01, the oldest
// 24C01, has no control byte at all.
const Chip* FindChip(std::string_view marking) {
  std::string name(marking);
  for (char& c : name) {
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  const std::string prefix = RunOf(name, 0, false);
  if (name.compare(prefix.size(), 2, "24") != 0) {
    return nullptr;
  }
  const std::string family = RunOf(name, prefix.size() + 2, false);
  const std::string digits = RunOf(name, prefix.size() + 2 + family.size(), true);
  if (prefix == "X" && digits == "01") {
    return nullptr;
  }
  std::string row_name = (family == "RF" ? "24RF" : "24C") + digits;
  if (family.find('M') != std::string::npos) {
    row_name = "24M" + digits;
  } else if (digits == "1024") {
    row_name = "24M01";
  }
  for (const Chip& chip : kChips) {
    if (chip.name == row_name) {
      return &chip;
    }
  }
  return nullptr;
}

// A chip without block bits is one block, as far as its word address
// reaches: past its size only where it has address bits it ignores (a
// 24C64's 13 of 16).
std::uint32_t BlockBytes() {
  const Chip& chip = *current_chip;
  return chip.block_bits == 0 ? 1u << (8 * chip.address_bytes) : chip.size >> chip.block_bits;
}

// The block bits lie where the pins they replace would be, and the chip
// leaves those pins unconnected, so they never meet a pin /ADDR: sets.
std::uint8_t BlockAddress(std::uint32_t block) {
  return static_cast<std::uint8_t>(current_chip->device_address | chip_pins |
                                   block << current_chip->block_place);
}

std::vector<std::uint8_t> ChipAddresses() {
  std::vector<std::uint8_t> addresses;
  for (std::uint32_t block = 0; block < 1u << current_chip->block_bits; ++block) {
    addresses.push_back(BlockAddress(block));
  }
  if (current_chip->app_page) {
    addresses.push_back(kAppAddress);
  }
  return addresses;
}
