// SPDX-License-Identifier: MIT
// Fatal errors. Each ends the run with its message, the closing prompt and
// its number as the exit status. Lower layers call ReportError when the
// hardware or the dump file leaves nothing sensible to do.
#pragma once

#include <cstdint>

enum class ErrorCode : std::uint8_t {
  BadFileName = 1,
  OpenFailed = 2,
  WrongSize = 3,
  NoCircuit = 4,
  NoEeprom = 5,
  WriteFailed = 6,
  ReadFailed = 7,
  OutputFailed = 8,
  // /C: the chip was read right and holds something else than the dump.
  DiffersFromDump = 9,
};

// Prints the message for code; with then_exit (every caller's choice) it goes
// on to the closing sequence and never returns.
void ReportError(ErrorCode code, bool then_exit);

// The closing sequence: an empty line, the separator, the prompt, one line of
// input (end of input also ends the wait), then exit with status.
[[noreturn]] void PauseAndExit(int status);

// Sets off the sections of a run.
void PrintSeparator();
