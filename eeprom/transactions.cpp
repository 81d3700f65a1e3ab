// SPDX-License-Identifier: MIT
#include "eeprom/transactions.h"

#include "bus/transfer.h"

namespace {

constexpr std::uint8_t kDeviceAddress = 0x54;
constexpr std::uint8_t kAppControlByte = 0xB8;

// Every transaction records its first two bytes before it touches the bus.
bool WriteBytes(std::uint8_t control, std::uint8_t word_address,
                std::span<const std::uint8_t> data) {
  last_control_byte = control;
  last_word_address = word_address;
  return WriteTransaction(control, word_address, data);
}

bool ReadBytes(std::uint8_t control, std::uint8_t word_address, std::span<std::uint8_t> bytes) {
  last_control_byte = control;
  last_word_address = word_address;
  return ReadTransaction(control, word_address, bytes);
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

bool ReadAppRegisters(std::span<std::uint8_t> registers) {
  return ReadBytes(kAppControlByte, 0, registers);
}
