// SPDX-License-Identifier: MIT
#include "eeprom/transactions.h"

#include "bus/serial_lines.h"
#include "bus/twowire.h"

namespace {

constexpr std::uint8_t kDeviceAddress = 0x54;
constexpr std::uint8_t kAppControlByte = 0xB8;
constexpr std::uint8_t kReadBit = 0x01;

// Every transaction opens alike: its first two bytes are recorded, SDA is
// sampled once (bus_free) to see that no slave holds the bus, then come the
// START, the control byte and, if that was acknowledged, the word address.
// True when both were acknowledged.
bool SendAddress(std::uint8_t control, std::uint8_t word_address, bool& bus_free) {
  last_control_byte = control;
  last_word_address = word_address;
  bus_free = BusFree();
  SendStart();
  return SendByte(last_control_byte) && SendByte(last_word_address);
}

// Start, control byte, word address, then the data bytes while each is
// acknowledged; the stop is sent whatever happened, so the bus is idle again.
// A transaction that found SDA held low before its start has written
// nothing, however many acknowledges that low line gave: it fails. Its bytes
// are still clocked out, which can free a slave that was stuck in a byte.
// So does one whose port failed by the end of its stop: the chip stores a
// write only on the stop, which then may never have reached it; and one
// after which CTS turned out to lag more than measured, whose acknowledges
// may have been older levels of the line.
bool WriteBytes(std::uint8_t control, std::uint8_t word_address,
                std::span<const std::uint8_t> data) {
  bool bus_free = false;
  bool ack = SendAddress(control, word_address, bus_free);
  for (auto next = data.begin(); ack && next != data.end(); ++next) {
    ack = SendByte(*next);
  }
  SendStop();
  const bool stop_seen = StopSeen();
  return bus_free && ack && stop_seen && !LinesFailed();
}

// A random read: the word address goes to the chip as for a write, then a
// repeated START and the same control byte with the read bit set turn the
// bus round, and the chip sends from that address on. Every byte but the
// last is acknowledged; the missing acknowledge after the last one lets the
// chip release SDA for the STOP. The master's acknowledges prove nothing
// about the data, so a read fails on a busy bus, on any byte the chip did not
// acknowledge, and on a port that failed at any point of it: a dead CTS reads
// as zeros; and after a STOP that showed CTS lagging more than measured,
// which has shifted the data bits.
bool ReadBytes(std::uint8_t control, std::uint8_t word_address, std::span<std::uint8_t> bytes) {
  bool bus_free = false;
  bool ack = SendAddress(control, word_address, bus_free);
  if (ack) {
    SendStart();
    ack = SendByte(static_cast<std::uint8_t>(last_control_byte | kReadBit));
  }
  for (std::size_t index = 0; ack && index < bytes.size(); ++index) {
    bytes[index] = ReceiveByte(index + 1 < bytes.size());
  }
  SendStop();
  const bool stop_seen = StopSeen();
  return bus_free && ack && stop_seen && !LinesFailed();
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
// never the APP block, the chip's access protection. It stores nothing. The
// bus-free sample is left out: a line held low would only read as an
// acknowledge here, and the next write finds it.
bool PollChip() {
  return AddressChip(kProbeControlByte);
}

bool ReadEepromBytes(std::uint16_t start, std::span<std::uint8_t> bytes) {
  return ReadBytes(ControlByteFor(start), static_cast<std::uint8_t>(start & 0xFF), bytes);
}

bool ReadAppRegisters(std::span<std::uint8_t> registers) {
  return ReadBytes(kAppControlByte, 0, registers);
}
