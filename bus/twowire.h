// SPDX-License-Identifier: MIT
// The bus master of a two-wire (I2C-style) bus built on the line primitives.
// It sends bytes to the chip and receives bytes from it; the chip never
// drives the clock.
// Results: true means success, or acknowledged.
#pragma once

#include <cstdint>

// Transaction bookkeeping. OpenBus zeroes all three; the EEPROM transactions
// record the first two bytes they send, and the writers count with position.
extern std::uint8_t last_control_byte;
extern std::uint8_t last_word_address;
extern std::uint16_t position;

// True once the first circuit check since OpenBus has timed the port's line
// changes and, on a slow port, its CTS lag: later checks read with what was
// measured then.
extern bool port_timed;

void SendStart();
void SendStop();

// After a transaction's STOP: false when a port whose CTS lags shows that the
// lag has grown past the read settle time, so that what the transaction read
// cannot be trusted. Always true where no settle time is in force.
bool StopSeen();
bool SendByte(std::uint8_t value);
bool ReadAck();

// Receives one byte from the chip, most significant bit first, then
// acknowledges it to ask for the next one, or leaves the acknowledge out
// after the last byte of a read. 28 line operations.
std::uint8_t ReceiveByte(bool acknowledge);

// The chip's first data block, addressed for writing: it must answer the probe.
inline constexpr std::uint8_t kProbeControlByte = 0xA8;

bool CheckCircuit();

// The bus opening's probe: a STOP, then clock pulses that free a slave
// holding SDA low, then AddressChip. True when control was acknowledged.
bool ProbeDevice(std::uint8_t control);

// START, control, and only when it was acknowledged the word address 0, then
// STOP: true when control was acknowledged. With the write bit in control it
// is a dummy write that stores nothing: the word address only sets the
// chip's address counter. The word address is never left out: the 24RF08
// takes an acknowledged write address followed at once by a STOP (what
// SMBus calls a quick write) for the start of something else, and a
// following access can then change what it holds, its access protection
// included.
bool AddressChip(std::uint8_t control);

// Samples SDA while the bus should be idle (after a STOP, or once OpenBus
// is done): true when it reads high, so that a START can be made.
bool BusFree();

// Opens the port and checks the interface circuit and the chip; ends the run
// with error 4 or 5 when either is missing, after trying the other inversion
// switches and saying on standard error which ones would work.
void OpenBus();

// Leaves both lines high and releases the port.
void CloseBus();
