// SPDX-License-Identifier: MIT
#include "eeprom/transactions.h"

#include "bus/transfer.h"
#include "eeprom/chips.h"

ChipRefusals chip_refusals;

namespace {

constexpr auto kAppControlByte = static_cast<std::uint8_t>(kAppAddress << 1);
constexpr std::uint16_t kPageSize = 16;

// The bits of a word address.
int WordAddressBits() {
  return 8 * current_chip->address_bytes;
}

// The address a data control byte and word address name: the block bits
// the control byte carries above the word address.
std::uint32_t AddressOf(std::uint8_t control, std::uint16_t word_address) {
  const auto blocks = static_cast<std::uint32_t>((1 << current_chip->block_bits) - 1);
  return ((control >> 1) & blocks) << WordAddressBits() | word_address;
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

// The block bits lie where the pins they replace would be, and the chip
// leaves those pins unconnected, so they never meet a pin /ADDR: sets.
std::uint8_t ControlByteFor(std::uint32_t address) {
  return static_cast<std::uint8_t>(
      (current_chip->device_address | chip_pins | address >> WordAddressBits()) << 1);
}

std::uint16_t WordAddressFor(std::uint32_t address) {
  return static_cast<std::uint16_t>(address & ((1u << WordAddressBits()) - 1));
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

// The chip is busy as a whole during its write cycle, whichever block or
// register the write went to, so the poll always addresses its first data
// block and never the APP block, the 24RF08's access protection. It stores nothing. It
// leaves the bookkeeping alone: the error lines name the write.
bool PollChip() {
  return PollTransaction();
}

bool ReadEepromBytes(std::uint32_t start, std::span<std::uint8_t> bytes) {
  return ReadBytes(ControlByteFor(start), WordAddressFor(start), bytes);
}

bool ReadAppRegister(std::uint8_t index, std::uint8_t& value) {
  return ReadBytes(kAppControlByte, index, std::span(&value, 1));
}
