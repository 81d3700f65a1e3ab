// SPDX-License-Identifier: MIT
#include "eeprom/transactions.h"

#include "bus/transfer.h"
#include "eeprom/chips.h"

ChipRefusals chip_refusals;

namespace {

constexpr auto kAppControlByte = static_cast<std::uint8_t>(kAppAddress << 1);
constexpr std::uint16_t kPageSize = 16;

// The address a data control byte and word address name: the block its
// block bits name, wherever in the control byte the chip has them.
std::uint32_t AddressOf(std::uint8_t control, std::uint16_t word_address) {
  const auto blocks = static_cast<std::uint32_t>((1 << current_chip->block_bits) - 1);
  const std::uint32_t block = (control >> 1 >> current_chip->block_place) & blocks;
  return block * BlockBytes() + word_address;
}

void NoteRefusal(std::uint8_t control, std::uint16_t word_address, bool write) {
  if (!current_chip->app_page) {
    return;
  }
  if (control == kAppControlByte) {
    if (write) {
      chip_refusals.written_registers |= static_cast<std::uint16_t>(1u << (word_address & 0x0F));
    }
    return;
  }
  const std::uint32_t address = AddressOf(control, word_address);
  const auto block = static_cast<std::uint8_t>(1u << (address / kBlockSize));
  if (!write) {
    chip_refusals.read_blocks |= block;
    return;
  }
  chip_refusals.written_blocks |= block;
  if (address < kBlockSize) {
    chip_refusals.written_pages_of_block0 |= static_cast<std::uint8_t>(1u << (address / kPageSize));
  }
}

// Every transaction records its control byte and word address before it
// touches the bus.
bool WriteBytes(std::uint8_t control, std::uint16_t word_address,
                std::span<const std::uint8_t> data) {
  last_control_byte = control;
  last_word_address = word_address;
  const bool ok = WriteTransaction(control, word_address, current_chip->address_bytes, data);
  if (!ok && refused_after_address) {
    NoteRefusal(control, word_address, true);
  }
  return ok;
}

bool ReadBytes(std::uint8_t control, std::uint16_t word_address, std::span<std::uint8_t> bytes) {
  last_control_byte = control;
  last_word_address = word_address;
  const bool ok = ReadTransaction(control, word_address, current_chip->address_bytes, bytes);
  if (!ok && refused_after_address) {
    NoteRefusal(control, word_address, false);
  }
  return ok;
}

}  // namespace

std::uint8_t ControlByteFor(std::uint32_t address) {
  return static_cast<std::uint8_t>(BlockAddress(address / BlockBytes()) << 1);
}

std::uint16_t WordAddressFor(std::uint32_t address) {
  return static_cast<std::uint16_t>(address % BlockBytes());
}

bool WriteEepromByte(std::uint32_t address, std::uint8_t value) {
  return WriteBytes(ControlByteFor(address), WordAddressFor(address), std::span(&value, 1));
}

bool WritePage(std::uint32_t start, int count, std::span<const std::uint8_t> bytes) {
  return WriteBytes(ControlByteFor(start), WordAddressFor(start),
                    bytes.first(static_cast<std::size_t>(count)));
}

bool WriteAppRegister(std::uint8_t index, std::uint8_t value) {
  return WriteBytes(kAppControlByte, index, std::span(&value, 1));
}

// The poll goes to the control byte of the write it waits for: a chip that
// answers at several addresses is busy at the one written (the 24xx515's
// datasheet requires it; a poll at its other half says nothing of the
// write). The chip with the APP page is polled at its first data block
// whatever was written: its APP page guards its access protection, and a
// poll stores nothing but touches it all the same. It leaves the
// bookkeeping alone: the error lines name the write.
bool PollChip() {
  return PollTransaction(current_chip->app_page ? ProbeControlByte() : last_control_byte);
}

bool ReadEepromBytes(std::uint32_t start, std::span<std::uint8_t> bytes) {
  return ReadBytes(ControlByteFor(start), WordAddressFor(start), bytes);
}

bool ReadAppRegister(std::uint8_t index, std::uint8_t& value) {
  return ReadBytes(kAppControlByte, index, std::span(&value, 1));
}
