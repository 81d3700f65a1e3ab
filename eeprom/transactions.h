// SPDX-License-Identifier: MIT
// Write and read transactions of the 24RF08. Each is one complete exchange
// from start to stop, records its first two bytes in last_control_byte and
// last_word_address before it touches the bus, and returns true only when
// every byte it sent was acknowledged. None waits for the chip's write cycle:
// the callers of the writes wait after every transaction.
#pragma once

#include <cstdint>
#include <span>

// The chip answers at 7-bit address 0x54 plus address bits 9 and 8, followed
// by the write bit (0): 0xA8, 0xAA, 0xAC, 0xAE, each for 256 bytes. Inside
// them the chip is eight blocks of 128 bytes (address bits 9 to 7), the unit
// of its access protection and of its sequential reads.
std::uint8_t ControlByteFor(std::uint16_t address);
inline constexpr std::uint16_t kBlockSize = 128;
inline constexpr int kBlocks = 8;

// What the chip refused during the job, each after it had acknowledged its
// control byte: bit n stands for block n, for page n of block 0 (16 bytes)
// or for APP register n. Kept for the explanation at the job's end.
struct ChipRefusals {
  std::uint8_t read_blocks = 0;
  std::uint8_t written_blocks = 0;
  std::uint8_t written_pages_of_block0 = 0;
  std::uint16_t written_registers = 0;
};
extern ChipRefusals chip_refusals;

bool WriteEepromByte(std::uint16_t address, std::uint8_t value);

// Writes the first count bytes at start. Callers keep a page inside one
// 16-byte page of the chip, which would otherwise wrap around inside it.
bool WritePage(std::uint16_t start, int count, std::span<const std::uint8_t> bytes);

// Writes one register of the APP block (control byte 0xB8).
bool WriteAppRegister(std::uint8_t index, std::uint8_t value);

// Acknowledge polling: the bus opening's probe without its clearing pulses,
// a dummy write to data block 0 (START, 0xA8, the word address 0 once 0xA8
// is acknowledged, STOP). True when the chip acknowledged, which it does not
// while in its internal write cycle. Unlike the others, it leaves
// last_control_byte and last_word_address as the write before it set them.
bool PollChip();

// Reads bytes.size() bytes from start on, in one random read. The chip's
// sequential read wraps at the end of the 128-byte block of start, so
// callers keep a read inside that block.
bool ReadEepromBytes(std::uint16_t start, std::span<std::uint8_t> bytes);

// Reads one APP register, in a random read of one byte: the APP page takes
// one byte per transaction, and answers a longer read with bytes that are
// not its registers.
bool ReadAppRegister(std::uint8_t index, std::uint8_t& value);
