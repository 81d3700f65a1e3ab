// SPDX-License-Identifier: MIT
// The bus carried by an I2C adapter that runs it itself: a bus of the
// system's own (Linux i2c-dev) or a CH341A USB programmer. Each transaction
// goes out as one transfer of whole messages, so that nothing else on the
// bus can come between its parts and the adapter's own master times it. The
// line primitives, the circuit check, the bit delay and the inversion
// switches play no part here.
#pragma once

#include <cstdint>
#include <span>
#include <string>

// Opens the CH341A (programmer) or the I2C adapter the port name names, and
// probes the chip as the serial path does (a dummy write of the word
// address 0 to its first data block): true when it answered. Ends the run
// with error 4 when the adapter cannot be used or the probe fails on the
// adapter's side, with a line on standard error naming the adapter.
bool OpenAdapterBus(bool programmer);

// The line naming the adapter and the address that went unanswered, then
// the lines of elsewhere (see ReportChipMissing), and error 5.
void ReportAdapterChipMissing(std::span<const std::string> elsewhere);
void CloseAdapterBus();

bool WriteThroughAdapter(std::uint8_t control, std::uint16_t word_address, int address_bytes,
                         std::span<const std::uint8_t> data);
bool ReadThroughAdapter(std::uint8_t control, std::uint16_t word_address, int address_bytes,
                        std::span<std::uint8_t> bytes);
bool PollThroughAdapter(std::uint8_t control);
bool ProbeThroughAdapter(std::uint8_t control);
