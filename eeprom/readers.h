// SPDX-License-Identifier: MIT
// Reading the chip back: the whole data memory into an image, with ">"
// marks and an "error at" line like the writers print, and the checks that
// compare what the chip holds with what it should hold, listing each
// differing page (or APP register) on a "mismatch at" line.
#pragma once

#include <cstddef>
#include <cstdint>

#include "eeprom/image_file.h"

// Reads the whole chip into image (sized to the chip), one 128-byte block
// per transaction (the 24RF08's sequential read wraps inside its block), a
// mark for each block read, or for each 1/64 of a chip of more than 64
// blocks. Stops at the first failed transaction with its error line and
// returns false. Ends with a line end.
bool ReadImage(EepromImage& image);

// Reads the whole chip again and compares it with image: true only when the
// read succeeded and the chip holds image exactly.
bool VerifyImage(const EepromImage& image);

// Reads APP registers 0 to 9 back, one register per transaction: true only
// when each read succeeded and each register holds what the APP reset writes
// in the bits the datasheets define (kAppVerifyMask).
bool VerifyApp();

// The bits of APP registers 0 to 9 that read back as written: in registers 0
// to 7 the sticky bit, the RFID field and the protection field (0xB3), in
// register 8 the sticky bit and the APP page's protection (0x83), register 9
// whole. The other bits are undefined and read back as anything.
std::uint8_t AppVerifyMask(std::size_t index);

// Set by the latest VerifyImage or VerifyApp that found differences: they
// look like a chip that kept its old contents rather than like a weak cell
// (the rule is in readers.cpp). After a write whose every byte was
// acknowledged, that means nothing was stored.
extern bool verify_saw_old_contents;
