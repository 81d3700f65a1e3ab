// SPDX-License-Identifier: MIT
// The bus master of a two-wire (I2C-style) bus built on the line primitives:
// the way the serial port carries whole transactions. It sends bytes to the
// chip and receives bytes from it; the chip never drives the clock.
// Results: true means success, or acknowledged.
#pragma once

#include <cstdint>
#include <span>
#include <string>

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
// holding SDA low, then AddressChip with the chip's probe
// (chip_probe_address_bytes, read back where that is two: see
// ProbeReadsBack). True when control was acknowledged.
bool ProbeDevice(std::uint8_t control);

// START, control, and only when it was acknowledged a dummy write's word
// address 0 in address_bytes bytes (DummyWordAddress in
// bus/chip_addressing.h), then, with read_back, a repeated START, control
// with the read bit and one byte read, and STOP: true when control was
// acknowledged. With the write bit in control it stores nothing.
bool AddressChip(std::uint8_t control, int address_bytes, bool read_back);

// Samples SDA while the bus should be idle (after a STOP, or once OpenBus
// is done): true when it reads high, so that a START can be made.
bool BusFree();

// Opens the port and checks the interface circuit, then probes the chip:
// true when it answered. Ends the run with error 4 when the circuit is
// missing, after trying the other inversion switches and saying on standard
// error which ones would work.
bool OpenLinesBus();

// Once the chip did not answer: the same search for switches that work, or
// where chips answered at other addresses (elsewhere: one line each, see
// ReportChipMissing) those lines instead; then error 5.
void ReportLinesChipMissing(std::span<const std::string> elsewhere);

// Leaves both lines high and releases the port.
void CloseLinesBus();

// The bus's whole transactions on the lines. Each first samples SDA to see
// that no slave holds the bus, and fails when one did, when the port failed
// by the end of its STOP, or when CTS turned out to lag more than measured.
// WriteOnLines sends control, word_address in address_bytes bytes (high
// first) and then data while each is acknowledged; ReadOnLines is a random
// read from word_address.
bool WriteOnLines(std::uint8_t control, std::uint16_t word_address, int address_bytes,
                  std::span<const std::uint8_t> data);
bool ReadOnLines(std::uint8_t control, std::uint16_t word_address, int address_bytes,
                 std::span<std::uint8_t> bytes);
