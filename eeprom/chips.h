// SPDX-License-Identifier: MIT
// The chips the program knows, one row of data each: the 24RF08 and the plain
// 24Cxx EEPROMs from the 24C01 to the 24C512. They all speak the same
// protocol and differ in their size, their page, one or two word-address
// bytes, and how the control byte is made: 1010, then three bits that are
// either the levels of the address pins A2 A1 A0 strapped on the board or,
// where the chip has more memory than one word-address byte reaches, the top
// bits of the address (block bits). Everything that depends on the chip asks
// the current row; nothing else tells the chips apart.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

struct Chip {
  std::string_view name;  // as the listing and the messages name it
  std::uint32_t size;     // bytes of data memory: the dump file's size
  // The page writes' size: the smallest page any maker gives a chip of this
  // size. A write wraps inside the chip's own page, so a smaller page than
  // the chip's is always safe and a larger one corrupts.
  std::uint16_t page;
  int address_bytes;            // word-address bytes: 1, or 2 (high first)
  std::uint8_t device_address;  // the 7-bit address with every pin and block bit 0
  std::uint8_t pins;            // the address pins the chip compares: A2 A1 A0 as bits 2 to 0
  int block_bits;               // top bits of the address sent in the control byte, from A0 up
  bool address_pins;            // pins 1 to 3 are A0 to A2 (the 24RF08's are L1, L2, PROT)
  bool app_page;                // the 24RF08's APP registers, at control byte 0xB8
  // The longest read that brings back what it should: the 24RF08's
  // sequential read wraps inside its 128-byte block. 0 where it runs on
  // through the whole array, as on the plain chips.
  std::uint16_t read_unit;
  // The serial port's bit delay: 40 µs, the 24RF08's own, where the chip's
  // datasheets give no clock for it; the plain chips all take the 100 kHz
  // of the bus's standard mode, and on the CH341A most take 400 kHz. A
  // chip held to its own bit delay is clocked at 100 kHz through the
  // programmer, and /KHZ: may only slow it.
  bool own_bit_delay = false;
};

// The APP page's 7-bit address, on a chip that has one.
inline constexpr std::uint8_t kAppAddress = 0x5C;

// The table, in the order the listing shows it: the 24RF08 first.
std::span<const Chip> Chips();

// The chip of this run: the 24RF08 until /CHIP: chooses another.
extern const Chip* current_chip;

// The levels of the chip's address pins A2 A1 A0 as bits 2 to 0 (/ADDR:).
extern std::uint8_t chip_pins;

// The row for a chip's name as a user reads it off the chip, in any case:
// the maker's prefix (AT, M, CAT, BR, FM...), 24, the family letters (C,
// LC, AA, FC, G, T...), the size digits, then any suffix that does not
// begin with a digit (24LC16B, AT24C256C-SSHL). ST's names without the C
// (M24256) are found too. Null for a name that places no chip of the table,
// among them the parts whose protocol differs: the 24C00, the X24C01 and
// the 1 Mbit parts (24C1024, 24M01, 24CM01).
const Chip* FindChip(std::string_view marking);

// The current chip's 7-bit addresses, where /ADDR: puts it: its first data
// block first, then its other blocks, then its APP page.
std::vector<std::uint8_t> ChipAddresses();
