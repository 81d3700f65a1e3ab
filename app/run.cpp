// SPDX-License-Identifier: MIT
#include "app/run.h"

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/errors.h"
#include "app/switches.h"
#include "bus/serial_lines.h"
#include "bus/transfer.h"
#include "eeprom/image_file.h"
#include "eeprom/protection.h"
#include "eeprom/readers.h"
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

// A switch in the place of the dump file's name (ebrilo /V dump.bin) means
// the name came later or not at all: it is turned away as a name, whatever
// file of that name there may be.
void WriteImage(const RunOptions& options, const char* file_name) {
  if (IsSwitch(file_name)) {
    Diagnostic(std::string("'") + file_name +
               "' is a switch: the dump file's name must come first (ebrilo filename "
               "[switches])");
    ReportError(ErrorCode::BadFileName, true);
  }
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
    ExplainRefusals(true);
    CloseBus();
    ReportError(ErrorCode::WriteFailed, true);
  }
  // A chip that acknowledges everything and stores nothing (its write
  // protection on) or a cell that keeps a bit wrong shows only here, and
  // makes the write count as failed whatever /E says.
  if (options.verify) {
    ConsoleLine("Verifying eeprom...");
    if (!VerifyImage(eeprom_image)) {
      ExplainRefusals(true);
      CloseBus();
      ReportError(ErrorCode::WriteFailed, true);
    }
  }
  ExplainRefusals(true);
}

// The file is taken (as a temporary beside it) before the port is opened,
// so that a name in use or a folder that cannot take it is refused without
// touching the chip, and it appears under its name only once the whole chip
// was read; a failed or interrupted read leaves nothing behind. Every block
// goes into the file only as two reads agree on it; with /V the whole chip
// is read once more and must still agree.
// A switch in the place of the file name means that the name was left out:
// it would otherwise make a file such as /R at the root of the file system.
void ReadIntoFile(const RunOptions& options, const char* file_name) {
  if (IsSwitch(file_name)) {
    Diagnostic(std::string("no file name to read into: '") + file_name + "' is a switch");
    ReportError(ErrorCode::OutputFailed, true);
  }
  if (!CreateOutputFile(file_name)) {
    ReportError(ErrorCode::OutputFailed, true);
  }
  OpenBus();
  ConsoleLine("");
  ConsoleLine("Reading eeprom...");
  bool read = ReadImage(eeprom_image);
  if (read && options.verify) {
    ConsoleLine("Verifying eeprom...");
    read = VerifyImage(eeprom_image);
  }
  if (!read) {
    ExplainRefusals(false);
    CloseBus();
    DiscardOutputFile();
    ReportError(ErrorCode::ReadFailed, true);
  }
  if (!PublishOutputFile(eeprom_image)) {
    CloseBus();
    DiscardOutputFile();
    ReportError(ErrorCode::OutputFailed, true);
  }
}

void ResetAppRegisters(const RunOptions& options) {
  OpenBus();
  ConsoleLine("");
  ConsoleLine("Resetting APP...");
  ResetApp();
  if (options.verify) {
    ConsoleLine("Verifying APP...");
    if (!VerifyApp()) {
      ExplainRefusals(true);
      CloseBus();
      ReportError(ErrorCode::WriteFailed, true);
    }
  }
  ExplainRefusals(true);
}

// As /R reads the chip instead of writing it, /P /R shows the APP page
// instead of resetting it, and writes nothing; /V has nothing to check.
void ShowAppRegisters() {
  OpenBus();
  ConsoleLine("");
  ConsoleLine("Reading APP...");
  if (!ListAppPage()) {
    CloseBus();
    ReportError(ErrorCode::ReadFailed, true);
  }
}

// One line a port, the serial ports first, then the I2C adapters and the
// programmers: the name to give /PORT:, the device and what it is, in
// columns. Nothing is opened: opening a port moves its modem lines.
void PrintSerialPorts() {
  std::vector<SerialPortInfo> ports = ListSerialPorts();
  for (const auto& more : {ListI2cAdapters(), ListCh341aProgrammers()}) {
    ports.insert(ports.end(), more.begin(), more.end());
  }
  std::size_t name_width = 0;
  std::size_t device_width = 0;
  for (const SerialPortInfo& port : ports) {
    name_width = std::max(name_width, port.name.size());
    device_width = std::max(device_width, port.device.size());
  }
  for (const SerialPortInfo& port : ports) {
    std::string line = port.name;
    line.resize(name_width + 2, ' ');
    line += port.device;
    line.resize(name_width + 2 + device_width + 2, ' ');
    ConsoleLine(line + port.description);
  }
  if (ports.empty()) {
    ConsoleLine("No serial ports found.");
  }
}

}  // namespace

void RunSequence(std::span<const std::string_view> arguments) {
  PrintBanner();
  if (arguments.empty() || AsksForUsage(arguments)) {
    PrintUsage();
    ConsoleLine("Hit <Enter> to exit...");
    ConsoleReadLine();
    std::exit(0);
  }
  const RunOptions options = ParseSwitches(arguments);
  ReportIgnoredSwitches(arguments);
  ConsoleLine("");
  PrintSeparator();
  if (options.list_ports) {
    PrintSerialPorts();
    PauseAndExit(0);
  }
  bus_options = options.bus;
  port_name = options.port;
  ignore_errors = options.ignore_errors;
  ack_polling = options.fast_writes;
  // The bit delay times only the serial port's bus; an I2C adapter or the
  // programmer clocks the bus itself, and its runs go to work at once. Their
  // waits (the write cycle, the polls) are timed by the tick counter.
  if (CarrierOfPort() == BusCarrier::kSerialLines) {
    InitializeTimer();
  }

  // The file name is argument 1 exactly as the platform delivered it.
  const std::string file_name(arguments[0]);
  if (options.app_reset && options.read_chip) {
    ShowAppRegisters();
  } else if (options.app_reset) {
    ResetAppRegisters(options);
  } else if (options.read_chip) {
    ReadIntoFile(options, file_name.c_str());
  } else {
    WriteImage(options, file_name.c_str());
  }
  ConsoleLine("Done.");
  CloseBus();
  PauseAndExit(0);
}
