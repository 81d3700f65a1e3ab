// SPDX-License-Identifier: MIT
// Reading the chip back: the whole data memory into an image, with ">"
// marks and an "error at" line like the writers print, and the checks that
// compare what the chip holds with what it should hold, listing each
// differing 16-byte page (or APP register) on a "mismatch at" line.
#pragma once

#include "eeprom/image_file.h"

// Reads the whole chip into image, one 256-byte block per transaction, two
// marks (one per 128 bytes) for each block read. Stops at the first failed
// transaction with its error line and returns false. Ends with a line end.
bool ReadImage(EepromImage& image);

// Reads the whole chip again and compares it with image: true only when the
// read succeeded and the chip holds image exactly.
bool VerifyImage(const EepromImage& image);

// Reads APP registers 0 to 9 back: true only when the read succeeded and
// each holds what the APP reset writes.
bool VerifyApp();
