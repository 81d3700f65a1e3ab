// SPDX-License-Identifier: MIT
#include "eeprom/transactions.h"

#include "bus/transfer.h"

ChipRefusals chip_refusals;

namespace {

constexpr std::uint8_t kDeviceAddress = 0x54;
constexpr std::uint8_t kAppControlByte = 0xB8;
constexpr std::uint16_t kPageSize = 16;

// The address a data control byte and word address name.
std::uint16_t AddressOf(std::uint8_t control, std::uint8_t word_address) {
  return static_cast<std::uint16_t>(((control >> 1) - kDeviceAddress) << 8 | word_address);
}

void NoteRefusal(std::uint8_t control, std::uint8_t word_address, bool write) {
  if (control == kAppControlByte) {
    if (write) {
      chip_refusals.written_registers |= static_cast<std::uint16_t>(1u << (word_address & 0x0F));
    }
    return;
  }
  const std::uint16_t address = AddressOf(control, word_address);
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

// Every transaction records its first two bytes before it touches the bus.
bool WriteBytes(std::uint8_t control, std::uint8_t word_address,
                std::span<const std::uint8_t> data) {
  last_control_byte = control;
  last_word_address = word_address;
  const bool ok = WriteTransaction(control, word_address, data);
  if (!ok && refused_after_address) {
    NoteRefusal(control, word_address, true);
  }
  return ok;
}

bool ReadBytes(std::uint8_t control, std::uint8_t word_address, std::span<std::uint8_t> bytes) {
  last_control_byte = control;
  last_word_address = word_address;
  const bool ok = ReadTransaction(control, word_address, bytes);
  if (!ok && refused_after_address) {
    NoteRefusal(control, word_address, false);
  }
  return ok;
}

}  // namespace

std::uint8_t ControlByteFor(std::uint16_t address) {
  return static_cast<std::uint8_t>(((address >> 8) + kDeviceAddress) * 2);
}

bool WriteEepromByte(std::uint16_t address, std::uint8_t value) {
  return WriteBytes(ControlByteFor(address), static_cast<std::uint8_t>(address & 0xFF),
                    std::span(&value, 1));
}

bool WritePage(std::uint16_t start, int count, std::span<const std::uint8_t> bytes) {
  return WriteBytes(ControlByteFor(start), static_cast<std::uint8_t>(start & 0xFF),
                    bytes.first(static_cast<std::size_t>(count)));
}

bool WriteAppRegister(std::uint8_t index, std::uint8_t value) {
  return WriteBytes(kAppControlByte, index, std::span(&value, 1));
}

// The chip is busy as a whole during its write cycle, whichever block or
// register the write went to, so the poll always addresses data block 0 and
// never the APP block, the chip's access protection. It stores nothing. It
// leaves the bookkeeping alone: the error lines name the write.
bool PollChip() {
  return PollTransaction();
}

bool ReadEepromBytes(std::uint16_t start, std::span<std::uint8_t> bytes) {
  return ReadBytes(ControlByteFor(start), static_cast<std::uint8_t>(start & 0xFF), bytes);
}

bool ReadAppRegister(std::uint8_t index, std::uint8_t& value) {
  return ReadBytes(kAppControlByte, index, std::span(&value, 1));
}
