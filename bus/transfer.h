// SPDX-License-Identifier: MIT
// Whole transactions on the chip's bus, however the bus is reached: driven
// bit by bit on the modem lines of a serial port (bus/twowire), or handed as
// messages to an I2C adapter that runs the bus itself (bus/adapter_bus: a
// Linux i2c-dev bus, a CH341A USB programmer). The EEPROM code above speaks
// only in these transactions, and learns nothing of which way they travel.
// Results: true means every byte sent was acknowledged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "bus/chip_addressing.h"

// Transaction bookkeeping. OpenBus zeroes all three; the EEPROM transactions
// record the control byte and the word address they send, and the writers
// count with position.
extern std::uint8_t last_control_byte;
extern std::uint16_t last_word_address;
extern std::uint32_t position;

// What carries the bus, chosen by OpenBus from the port name.
enum class BusCarrier {
  kSerialLines,    // the modem lines of a serial port, through the interface circuit
  kI2cAdapter,     // a bus of the system's own I2C adapters (Linux i2c-dev)
  kUsbProgrammer,  // a CH341A programmer on USB
};
extern BusCarrier bus_carrier;

// What carries the bus on the port port_name names: a programmer is named by
// its keyword, an I2C adapter by a device that is one, whatever it is
// called; everything else is a serial port. Opens nothing. OpenBus chooses
// by it, and the run sequence asks it before start-up: only the serial
// port's bus is clocked by the calibrated bit delay, as an adapter and the
// programmer time the bus themselves.
BusCarrier CarrierOfPort();

// Opens the port or adapter and probes the chip: true when it answered.
// Ends the run with error 4 when the circuit or adapter cannot be used,
// saying why on standard error. When the chip did not answer, the bus stays
// open for ProbeTransaction, and ReportChipMissing ends the run.
bool OpenBus();

// After OpenBus found no chip: the carrier's own finding on standard error
// (on an adapter, the address that went unanswered; on the serial port, the
// switches that would work), then the lines of elsewhere, then error 5.
// elsewhere says where chips answered at other addresses: the bus carried
// their probes, so the serial port's search for other switches is left out,
// and so is the adapter's advice to check the chip's wiring.
void ReportChipMissing(std::span<const std::string> elsewhere);

// Leaves the bus idle and releases the port or adapter.
void CloseBus();

// START, control, the word address in address_bytes bytes (1, or 2 high
// byte first) and then the data, for as long as each byte is acknowledged,
// and STOP. Both set refused_after_address (bus/chip_addressing.h).
bool WriteTransaction(std::uint8_t control, std::uint16_t word_address, int address_bytes,
                      std::span<const std::uint8_t> data);

// The length of the reads this carrier carries best, for a chip whose
// sequential read runs on through its whole memory. Each read costs its
// addressing (about five bytes' time on the serial port, on the CH341A a USB
// round trip of its own), and a read that a bit turned on the way spoils is
// read again whole: the bit-banged serial port, where that happens most and
// a byte takes over a millisecond, reads 256 bytes at a time; the adapters,
// which clock a byte in 90 µs, 1024 (on a 24C512 within 1 % of the fastest
// read, where 128-byte reads took 3 % longer on an I2C adapter and 9 % on the
// CH341A).
std::size_t BestReadLength();

// A random read: the word address written as for a write, then the bus
// turned round after a repeated START, and bytes.size() bytes from the chip.
bool ReadTransaction(std::uint8_t control, std::uint16_t word_address, int address_bytes,
                     std::span<std::uint8_t> bytes);

// Acknowledge polling: the chip's probe without the bus opening's clearing
// pulses, a dummy write of the whole word address 0 (DummyWordAddress, in
// chip_probe_address_bytes bytes, read back where ProbeReadsBack says) at
// control, the control byte of the write waited for. True when the chip
// acknowledged its address, which it does not during its internal write
// cycle.
bool PollTransaction(std::uint8_t control);

// A probe at another control byte, reporting nothing: true when something
// acknowledged it. It sends one word-address byte 0 whatever the chip: what
// answers there may be any chip of the family, and a chip of one
// word-address byte would store a second byte.
bool ProbeTransaction(std::uint8_t control);
