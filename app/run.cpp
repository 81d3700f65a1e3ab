// SPDX-License-Identifier: MIT
#include "app/run.h"

#include <cstdlib>
#include <string>

#include "app/errors.h"
#include "app/switches.h"
#include "bus/serial_lines.h"
#include "bus/twowire.h"
#include "eeprom/image_file.h"
#include "eeprom/writers.h"
#include "platform/platform.h"
#include "timing/delay.h"

namespace {

// The highest EEPROM address: the writers cover 0 to this.
constexpr int kLastAddress = 1023;

void PrintBanner() {
  ConsoleLine("Ebrilo v2.0b - Win32 Console Version");
  ConsoleLine("Programs 24RF08 serial EEPROMs through the modem lines of a serial port.");
}

void InitializeTimer() {
  ConsoleWrite("Initializing timer...");
  CalibrateDelayChecked();
  ConsoleLine(std::to_string(delay_count) + " OK!");
}

void WriteImage(const RunOptions& options, const char* file_name) {
  LoadImage(file_name);
  OpenBus();
  ConsoleLine("");
  bool written = false;
  if (options.byte_mode) {
    ConsoleLine("Byte mode. Writing eeprom...");
    written = WriteImageBytewise(eeprom_image, kLastAddress);
  } else {
    ConsoleLine("Page mode. Writing eeprom...");
    written = WriteImagePaged(eeprom_image, kLastAddress);
  }
  if (!written) {
    CloseBus();
    ReportError(ErrorCode::WriteFailed, true);
  }
}

}  // namespace

void RunSequence(std::span<const std::string_view> arguments) {
  PrintBanner();
  if (arguments.empty()) {
    PrintUsage();
    ConsoleLine("Hit <Enter> to exit...");
    ConsoleReadLine();
    std::exit(0);
  }
  ConsoleLine("");
  PrintSeparator();
  InitializeTimer();

  const RunOptions options = ParseSwitches(arguments);
  bus_options = options.bus;
  ignore_errors = options.ignore_errors;

  if (options.app_reset) {
    OpenBus();
    ConsoleLine("");
    ConsoleLine("Resetting APP...");
    ResetApp();
  } else {
    // The file name is argument 1 exactly as the platform delivered it.
    const std::string file_name(arguments[0]);
    WriteImage(options, file_name.c_str());
  }
  ConsoleLine("Done.");
  CloseBus();
  PauseAndExit(0);
}
