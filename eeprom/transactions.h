// SPDX-License-Identifier: MIT
// Write and read transactions of the current chip (eeprom/chips.h). Each is
// one complete exchange from start to stop, records its control byte and
// word address in last_control_byte and last_word_address before it touches
// the bus, and returns true only when every byte it sent was acknowledged.
// None waits for the chip's write cycle: the callers of the writes wait
// after every transaction.
#pragma once

#include <cstdint>
#include <span>

// An address's control byte (with the write bit, 0) and word address. The
// control byte is 1010, then the chip's address pins where /ADDR: sets them
// and the address's top bits where the chip has block bits instead: the
// 24RF08 answers at 0xA8, 0xAA, 0xAC and 0xAE, each for 256 bytes; a 24C64
// at /ADDR:5 at 0xAA for all of its memory; a 24LC1025 at /ADDR:1 at 0xA2
// for its first half and 0xAA for its second. The word address is the whole
// address within what the control byte selects (BlockBytes).
std::uint8_t ControlByteFor(std::uint32_t address);
std::uint16_t WordAddressFor(std::uint32_t address);

// Inside its four control bytes the 24RF08 is eight blocks of 128 bytes
// (address bits 9 to 7), the unit of its access protection and of its
// sequential reads.
inline constexpr std::uint16_t kBlockSize = 128;
inline constexpr int kBlocks = 8;

// What a chip with the APP page refused during the job, each after it had
// acknowledged its control byte: bit n stands for block n, for page n of
// block 0 (16 bytes) or for APP register n. Kept for the explanation at the
// job's end. A plain chip has no access protection to explain.
struct ChipRefusals {
  std::uint8_t read_blocks = 0;
  std::uint8_t written_blocks = 0;
  std::uint8_t written_pages_of_block0 = 0;
  std::uint16_t written_registers = 0;
};
extern ChipRefusals chip_refusals;

bool WriteEepromByte(std::uint32_t address, std::uint8_t value);

// Writes the first count bytes at start. Callers keep a page inside one page
// of the chip (the table's page), which would otherwise wrap around inside it.
bool WritePage(std::uint32_t start, int count, std::span<const std::uint8_t> bytes);

// Writes one register of the APP block (control byte 0xB8).
bool WriteAppRegister(std::uint8_t index, std::uint8_t value);

// Acknowledge polling: the bus opening's probe without its clearing pulses,
// a dummy write of the word address 0 (one byte, or two on a chip of two
// word-address bytes) at the control byte of the write before it, or on a
// chip with the APP page at its first data block (0xA8 on the 24RF08),
// then STOP. True when the chip acknowledged, which it does not while in
// its internal write cycle. Unlike the others, it leaves last_control_byte
// and last_word_address as the write before it set them.
bool PollChip();

// Reads bytes.size() bytes from start on, in one random read. The 24RF08's
// sequential read wraps at the end of the 128-byte block of start, so
// callers keep a read inside the chip's read unit (eeprom/chips.h).
bool ReadEepromBytes(std::uint32_t start, std::span<std::uint8_t> bytes);

// Reads one APP register, in a random read of one byte: the APP page takes
// one byte per transaction, and answers a longer read with bytes that are
// not its registers.
bool ReadAppRegister(std::uint8_t index, std::uint8_t& value);
