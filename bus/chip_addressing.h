// SPDX-License-Identifier: MIT
// What the carriers of the bus (bus/twowire on the serial port's lines,
// bus/adapter_bus through an I2C adapter or the CH341A) take from the chip's
// addressing, in one place below them: the chip's addresses, the probe that
// finds it and the polls that wait for its write cycle, the control byte at
// which a long read goes on, and whether the chip refused a byte after its
// address. bus/transfer above them chooses the carrier; the EEPROM code sets
// the chip's addressing before the bus opens.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

// The chip's 7-bit addresses, set before OpenBus (the 24RF08's until then:
// 0x54 to 0x57 and its APP page, 0x5C): its data blocks in the order of
// their addresses in memory, then any other page. The first, its first data
// block, answers the probe that opens the bus; an I2C adapter on which a
// kernel driver holds any of them is not used.
extern std::vector<std::uint8_t> chip_addresses;

// The bytes of memory each data block's address reaches with its word
// address (the 24RF08's 256 until set): a read that runs on past them goes
// on at the next data block's address.
extern std::uint32_t chip_block_bytes;

// The word-address bytes of the chip's probe and polls: a dummy write of
// the whole address, as every datasheet describes it, on a chip of two
// word-address bytes (read back: see ProbeReadsBack); one byte on a chip of
// one (the 24RF08's until set).
extern int chip_probe_address_bytes;

// Whether the latest write or read transaction failed at a byte the chip
// refused after it had acknowledged its control byte: the word address or a
// data byte, never an address (a read's after the repeated START included).
// The chip was there and said no (its access protection, a second byte for
// an APP register), as against a chip that did not answer at all, a bus
// held by another or a port that failed. An I2C adapter that reports a
// refused address as a refused byte (as some controllers do) makes the one
// look like the other.
extern bool refused_after_address;

// The first of chip_addresses, addressed for writing.
std::uint8_t ProbeControlByte();

// The word address of a dummy write at address 0 in address_bytes bytes:
// it stores nothing, as no data byte follows it. Never none: the 24RF08
// takes an acknowledged write address followed at once by a STOP (what
// SMBus calls a quick write) for the start of something else, and a
// following access can then change what it holds, its access protection
// included. Never more bytes than the chip takes: a chip of one
// word-address byte would take a second as a data byte and write it at
// address 0.
std::span<const std::uint8_t> DummyWordAddress(int address_bytes);

// Whether the probe that opens the bus and the polls read a byte back after
// the dummy write of a word address of address_bytes bytes, before their
// STOP: where that is two. A chip of one word-address byte (a chip named
// wrong) takes the second as a data byte, which a STOP would store at its
// address 0, starting a write cycle that the next write would then find;
// a repeated START abandons the write, and the whole address still goes to
// the chip.
bool ProbeReadsBack(int address_bytes);

// The control byte and word address at which a read that began at control
// and word_address is at offset bytes on: in the data block offset takes it
// to, counted in chip_addresses from control's own.
std::uint8_t ControlByteAt(std::uint8_t control, std::uint32_t word_address, std::uint32_t offset);
std::uint32_t WordAddressAt(std::uint32_t word_address, std::uint32_t offset);

// A control byte that no device may acknowledge: two-wire address 0x03 with
// the write bit. The bus's rules reserve that address for future use, so no
// device of any kind answers there, and it is far from the EEPROMs'
// addresses (0x50 to 0x57, and 0x5C for the 24RF08's APP page). What
// acknowledges it is a data line held low (a short, a stuck slave, a CTS
// that never moves in a polarity that reads it as low), which would
// acknowledge any other probe just the same. The write bit means that
// nothing would start driving SDA even if something answered.
inline constexpr std::uint8_t kNobodyControlByte = 0x06;
