// SPDX-License-Identifier: MIT
#include "app/errors.h"

#include <cstdlib>

#include "platform/platform.h"

namespace {

const char* MessageFor(ErrorCode code) {
  switch (code) {
    case ErrorCode::BadFileName:
      return "ERROR: Invalid filename or file not found!";
    case ErrorCode::OpenFailed:
      return "ERROR: Unable to open source file!";
    case ErrorCode::WrongSize:
      return "ERROR: Unknown eeprom dump. Wrong file size!";
    case ErrorCode::NoCircuit:
      return "ERROR: Circuit not found or bus error!";
    case ErrorCode::NoEeprom:
      return "ERROR: Eeprom not available!";
    case ErrorCode::WriteFailed:
      return "ERROR: Write eeprom failed!";
    case ErrorCode::ReadFailed:
      return "ERROR: Read eeprom failed!";
    case ErrorCode::OutputFailed:
      return "ERROR: Unable to create output file!";
    case ErrorCode::DiffersFromDump:
      return "ERROR: The eeprom differs from the dump!";
  }
  return nullptr;
}

}  // namespace

void PrintSeparator() {
  ConsoleLine("----------------------------------------------------------------");
}

void ReportError(ErrorCode code, bool then_exit) {
  const char* message = MessageFor(code);
  if (message != nullptr) {
    ConsoleLine(message);
  }
  if (then_exit) {
    PauseAndExit(static_cast<int>(code));
  }
}

void PauseAndExit(int status) {
  ConsoleLine("");
  PrintSeparator();
  ConsoleLine("Hit <Enter> to exit...");
  ConsoleReadLine();
  std::exit(status);
}
