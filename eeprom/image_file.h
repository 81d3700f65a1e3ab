// SPDX-License-Identifier: MIT
// The dump file: raw bytes, exactly 1024 of them, byte i for EEPROM address i.
#pragma once

#include <array>
#include <cstdint>

using EepromImage = std::array<std::uint8_t, 1024>;

// Filled once, by LoadImage for the writers or from the chip by a read into
// a file.
extern EepromImage eeprom_image;

// Checks and loads the named dump file into eeprom_image, or ends the run
// with error 1, 2 or 3 (or an input/output failure report, status 1).
void LoadImage(const char* file_name);
