// SPDX-License-Identifier: MIT
// Whole transactions on the chip's bus, however the bus is reached: driven
// bit by bit on the modem lines of a serial port (bus/twowire), or handed as
// messages to an I2C adapter that runs the bus itself (bus/adapter_bus: a
// Linux i2c-dev bus, a CH341A USB programmer). The EEPROM code above speaks
// only in these transactions, and learns nothing of which way they travel.
// Results: true means every byte sent was acknowledged.
#pragma once

#include <cstdint>
#include <span>

// Transaction bookkeeping. OpenBus zeroes all three; the EEPROM transactions
// record the first two bytes they send, and the writers count with position.
extern std::uint8_t last_control_byte;
extern std::uint8_t last_word_address;
extern std::uint16_t position;

// Whether the latest WriteTransaction or ReadTransaction failed at a byte the
// chip refused after it had acknowledged its control byte: the word address
// or a data byte, never an address (a read's after the repeated START
// included). The chip was there and said no (its access protection, a
// second byte for an APP register), as against a chip that did not answer at
// all, a bus held by another or a port that failed. An I2C adapter that
// reports a refused address as a refused byte (as some controllers do) makes
// the one look like the other.
extern bool refused_after_address;

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

// Opens the port or adapter and finds the chip on it; ends the run with
// error 4 when the circuit or adapter cannot be used and 5 when the chip does
// not acknowledge its address, saying why on standard error.
void OpenBus();

// Leaves the bus idle and releases the port or adapter.
void CloseBus();

// START, control, the word address and then the data, for as long as each
// byte is acknowledged, and STOP. Both set refused_after_address.
bool WriteTransaction(std::uint8_t control, std::uint8_t word_address,
                      std::span<const std::uint8_t> data);

// A random read: the word address written as for a write, then the bus
// turned round after a repeated START, and bytes.size() bytes from the chip.
bool ReadTransaction(std::uint8_t control, std::uint8_t word_address,
                     std::span<std::uint8_t> bytes);

// The chip's first data block, addressed for writing: it answers the probe
// that opens the bus, and the polls.
inline constexpr std::uint8_t kProbeControlByte = 0xA8;

// The chip's probe without the bus opening's clearing pulses: a dummy write
// of the word address 0 to data block 0. True when the chip acknowledged
// its address, which it does not during its internal write cycle.
bool PollTransaction();
