// SPDX-License-Identifier: MIT
// The dump file: raw bytes, exactly as many as the chip holds (1024 for the
// 24RF08, up to 65536), byte i for EEPROM address i.
#pragma once

#include <cstdint>
#include <vector>

// The chip's whole memory, byte i for address i: its size is the chip's.
using EepromImage = std::vector<std::uint8_t>;

// Filled once, by LoadImage for the writers or from the chip by a read into
// a file.
extern EepromImage eeprom_image;

// Checks and loads the named dump file into eeprom_image, sized to the
// current chip, or ends the run with error 1, 2 or 3 (or an input/output
// failure report, status 1).
void LoadImage(const char* file_name);
