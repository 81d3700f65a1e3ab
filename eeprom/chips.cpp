// SPDX-License-Identifier: MIT
#include "eeprom/chips.h"

#include <array>
#include <cctype>
#include <string>

namespace {

// The pages are the smallest in use for each size (ST's M24C02 has 16-byte
// pages, other makers' 24C02 8-byte ones). The 24RF08 answers at 0x54 to
// 0x57: the bit a plain 24C08 compares with A2 is tied high inside it, and
// its pins 1 to 3 are the RFID coil's and the protection input.
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
// the plain chips (C, LC, AA, FC, G, T, or none), and name the 1 Mbit parts
// with an M (M24M01, 24CM01), whose protocol differs. The X24C01, the oldest
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
  if (family.find('M') != std::string::npos || (prefix == "X" && digits == "01")) {
    return nullptr;
  }
  const std::string row_name = (family == "RF" ? "24RF" : "24C") + digits;
  for (const Chip& chip : kChips) {
    if (chip.name == row_name) {
      return &chip;
    }
  }
  return nullptr;
}

std::vector<std::uint8_t> ChipAddresses() {
  std::vector<std::uint8_t> addresses;
  for (int block = 0; block < 1 << current_chip->block_bits; ++block) {
    addresses.push_back(
        static_cast<std::uint8_t>(current_chip->device_address | chip_pins | block));
  }
  if (current_chip->app_page) {
    addresses.push_back(kAppAddress);
  }
  return addresses;
}
