// SPDX-License-Identifier: MIT
// Reads back what an image write run claims, from its progress marks and
// error lines, and holds the claims against what the simulated chip holds
// afterwards: every page or byte reported written must be in the chip, every
// failure must be listed once in address order, nothing may change where
// the writer never went, and a failed page may hold only old or new bytes.
#pragma once

#include <string>
#include <vector>

#include "tests/e2e/e2e_support.h"

struct ImageWrite {
  bool byte_mode = false;
  bool ignore_errors = false;  // /E
  Bytes image;                 // the dump file
  Bytes before;                // the chip's data before the run
  Bytes after;                 // ... and after it
  ProgramRun run;
};

struct WriteReport {
  // Pages (0 to 63, page mode) or addresses (byte mode) listed as failed.
  std::vector<int> failed;
  // Pages or bytes the writer went through: all of them with /E, else up to
  // and including the first failure. 0 when the bus did not open.
  int attempted = 0;
};

// The number of pages or bytes in the image.
int WriteUnits(bool byte_mode);

// "error at " and what follows it for page or address unit.
std::string ErrorLineFor(bool byte_mode, int unit);

// Checks output, exit status and chip of a write run against each other.
// Returns every inconsistency found, one per line (empty: none), and fills
// report with what the output claims.
std::string CheckImageWrite(const ImageWrite& write, WriteReport& report);
