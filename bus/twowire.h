// SPDX-License-Identifier: MIT
// The bus master of a two-wire (I2C-style) bus built on the line primitives:
// the way the serial port carries whole transactions. It sends bytes to the
// chip and receives bytes from it; the chip never drives the clock.
// Results: true means success, or acknowledged.
#pragma once

#include <cstdint>
#include <span>

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
void OpenLinesBus();

// Leaves both lines high and releases the port.
void CloseLinesBus();

// The bus's whole transactions on the lines. Each first samples SDA to see
// that no slave holds the bus, and fails when one did, when the port failed
// by the end of its STOP, or when CTS turned out to lag more than measured.
// WriteOnLines sends control, word_address and then data while each is
// acknowledged; ReadOnLines is a random read from word_address.
bool WriteOnLines(std::uint8_t control, std::uint8_t word_address,
                  std::span<const std::uint8_t> data);
bool ReadOnLines(std::uint8_t control, std::uint8_t word_address, std::span<std::uint8_t> bytes);
