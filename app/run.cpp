// SPDX-License-Identifier: MIT
#include "app/run.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/errors.h"
#include "app/switches.h"
#include "bus/bus_speed.h"
#include "bus/serial_lines.h"
#include "bus/transfer.h"
#include "eeprom/chip_check.h"
#include "eeprom/chip_search.h"
#include "eeprom/chips.h"
#include "eeprom/image_file.h"
#include "eeprom/protection.h"
#include "eeprom/readers.h"
#include "eeprom/writers.h"
#include "platform/platform.h"
#include "timing/delay.h"

namespace {

void PrintBanner() {
  ConsoleLine("Ebrilo v2.0b - Win32 Console Version");
  ConsoleLine("Programs 24RF08 serial EEPROMs through the modem lines of a serial port.");
}

// A chip at its own bit delay runs at the count calibration found, which is
// checked against the tick counter and found again where something disturbed
// it. The plain chips' bit delay is timed and lengthened on the microsecond
// clock once scaled (ApplyBusClock), at the length the bus uses it: a check
// at 40 µs would tell nothing more, and on a busy machine its repeated
// calibrations cost a second each. For the same reason their calibration's
// trials are shorter.
void InitializeTimer() {
  ConsoleWrite("Initializing timer...");
  if (current_chip->own_bit_delay) {
    CalibrateDelayChecked();
  } else {
    CalibrateDelay(kPlainChipTrialMs);
  }
  ConsoleLine(std::to_string(delay_count) + " OK!");
}

// A switch in the place of the dump file's name (ebrilo /V dump.bin) means
// the name came later or not at all: it is turned away as a name, whatever
// file of that name there may be.
void LoadDump(const char* file_name) {
  if (IsSwitch(file_name)) {
    Diagnostic(std::string("'") + file_name +
               "' is a switch: the dump file's name must come first (ebrilo filename "
               "[switches])");
    ReportError(ErrorCode::BadFileName, true);
  }
  LoadImage(file_name);
}

// Writes the dump's pages or bytes (those only selects, or all), and with
// /V reads back the chip's pages that verify selects (or the whole chip).
void WriteAndVerify(const RunOptions& options, const UnitSelection& only,
                    const UnitSelection& verify) {
  // The writers cover the whole chip, 0 to its last address.
  const int last = static_cast<int>(eeprom_image.size()) - 1;
  bool written = false;
  if (options.byte_mode) {
    ConsoleLine("Byte mode. Writing eeprom...");
    written = WriteImageBytewise(eeprom_image, last, only);
  } else {
    ConsoleLine("Page mode. Writing eeprom...");
    written = WriteImagePaged(eeprom_image, last, only);
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
    EepromImage found;
    if (!VerifyImage(eeprom_image, &found, verify)) {
      ExplainFailedVerify(found);
      ExplainRefusals(true);
      CloseBus();
      ReportError(ErrorCode::WriteFailed, true);
    }
  }
  ExplainRefusals(true);
}

void WriteImage(const RunOptions& options, const char* file_name) {
  LoadDump(file_name);
  OpenChip();
  CheckChip(true);
  ConsoleLine("");
  WriteAndVerify(options, {}, {});
}

// The end of a comparison that found differing units (or -1: its read
// failed). A chip that was read right and holds something else is neither
// a failed read nor a failed write: it has a status of its own.
void EndComparison(int differing, const char* holds) {
  if (differing < 0) {
    ExplainRefusals(false);
    CloseBus();
    ReportError(ErrorCode::ReadFailed, true);
  }
  if (differing > 0) {
    CloseBus();
    ReportError(ErrorCode::DiffersFromDump, true);
  }
  ConsoleLine(holds);
}

// /C reads the chip as /V does and writes nothing. A chip smaller than
// named, which reads as its contents repeated, is said so where it differs.
void CompareWithImage(const char* file_name) {
  LoadDump(file_name);
  OpenChip();
  CheckChip(false);
  ConsoleLine("");
  ConsoleLine("Comparing eeprom...");
  EepromImage found;
  const int differing = CompareImage(eeprom_image, {}, &found);
  if (differing > 0) {
    TellRepeats(found);
  }
  EndComparison(differing, "The chip holds the dump.");
}

void CompareAppRegisters() {
  OpenChip();
  ConsoleLine("");
  ConsoleLine("Comparing APP...");
  EndComparison(CompareApp(), "The APP registers hold what /P writes.");
}

// /U reads the chip first, as /V reads it: a part that reads as the dump is
// read once, and only one that seems to differ costs a second read. Reading
// takes less than writing (no write cycle), so writing only the pages (in
// byte mode the bytes) that differ spares the time and the wear of the rest,
// and a write cut short and run again writes only what is still missing.
// /V then reads back only the pages written: the rest was found right a
// moment before.
void UpdateImage(const RunOptions& options, const char* file_name) {
  LoadDump(file_name);
  OpenChip();
  CheckChip(true);
  ConsoleLine("");
  ConsoleLine("Reading eeprom...");
  EepromImage found;
  if (!ReadImageExpecting(eeprom_image, found)) {
    ExplainRefusals(false);
    CloseBus();
    ReportError(ErrorCode::ReadFailed, true);
  }
  const UnitSelection differing =
      DifferingUnits(eeprom_image, found, options.byte_mode ? 1 : current_chip->page);
  const auto count = std::count(differing.begin(), differing.end(), true);
  if (count == 0) {
    ConsoleLine("The chip already holds the dump.");
    return;
  }
  Diagnostic(std::to_string(count) + " of " + std::to_string(differing.size()) +
             (options.byte_mode ? " bytes" : " pages") + (count == 1 ? " differs" : " differ"));
  WriteAndVerify(options, differing, DifferingUnits(eeprom_image, found, current_chip->page));
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
  OpenChip();
  CheckChip(false);
  ConsoleLine("");
  ConsoleLine("Reading eeprom...");
  eeprom_image.assign(current_chip->size, 0);
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
  TellRepeats(eeprom_image);
  if (!PublishOutputFile(eeprom_image)) {
    CloseBus();
    DiscardOutputFile();
    ReportError(ErrorCode::OutputFailed, true);
  }
}

void ResetAppRegisters(const RunOptions& options) {
  OpenChip();
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
  OpenChip();
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

// "A2 A1 A0": the address pins among pins (A2 A1 A0 as bits 2 to 0).
std::string PinNames(unsigned pins) {
  std::string names;
  for (int pin = 2; pin >= 0; --pin) {
    if ((pins >> pin & 1) != 0) {
      names += (names.empty() ? "A" : " A") + std::to_string(pin);
    }
  }
  return names;
}

// One line a chip of the table, under a head: its name, size and page in
// bytes, word-address bytes, the address pins it compares (those /ADDR:
// may set) and the address bits its control byte carries in the place of
// the others (block bits): from A0's place up unless the line says where.
void PrintChips() {
  ConsoleLine("Chip    Bytes  Page  Address bytes  Address pins  Block bits");
  for (const Chip& chip : Chips()) {
    const std::string pins = PinNames(chip.pins);
    std::string blocks;
    const int word_bits = std::countr_zero(chip.size >> chip.block_bits);
    for (int bit = chip.block_bits - 1; bit >= 0; --bit) {
      blocks += (blocks.empty() ? "a" : " a") + std::to_string(word_bits + bit);
    }
    if (chip.block_place != 0) {
      blocks += " at " + PinNames(1u << chip.block_place) + ", pin 3 to VCC";
    }
    if (chip.app_page) {
      blocks += "; APP page (/P)";
    }
    const auto column = [](std::string text, std::size_t width) {
      text.resize(std::max(width, text.size() + 1), ' ');
      return text;
    };
    std::string line = column(std::string(chip.name), 8) + column(std::to_string(chip.size), 7) +
                       column(std::to_string(chip.page), 6) +
                       column(std::to_string(chip.address_bytes), 15) +
                       column(pins.empty() ? "none" : pins, 14) + blocks;
    line.erase(line.find_last_not_of(' ') + 1);
    ConsoleLine(line);
  }
}

// The chip of the run, where /CHIP: and /ADDR: put it. A name that places
// no chip, pins the chip does not have and /P on a chip without the APP
// page end the run with status 1 and the reason on standard error, before
// the port is opened.
void ChooseChip(const RunOptions& options) {
  if (options.chip) {
    current_chip = FindChip(*options.chip);
    if (current_chip == nullptr) {
      std::string known;
      for (const Chip& chip : Chips()) {
        known += (known.empty()              ? ""
                  : &chip == &Chips().back() ? " or "
                                             : ", ") +
                 std::string(chip.name);
      }
      Diagnostic("/CHIP:" + std::string(*options.chip) +
                 " names no chip this program knows: it knows the " + known +
                 ", also with the maker's letters (AT24C02, 24LC256, M24C64); /CHIP:? lists them");
      PauseAndExit(1);
    }
  }
  const Chip& chip = *current_chip;
  if (options.address) {
    const std::string_view value = *options.address;
    if (value.size() != 1 || value[0] < '0' || value[0] > '7') {
      Diagnostic("/ADDR:" + std::string(value) +
                 ": /ADDR: takes the levels of the address pins A2 A1 A0 as a number from 0 to 7");
      PauseAndExit(1);
    }
    if (!chip.address_pins) {
      Diagnostic("/ADDR: has no meaning for the " + std::string(chip.name) +
                 ": its pins 1 to 3 are no address pins, and it always answers at the same "
                 "addresses; leave /ADDR: out");
      PauseAndExit(1);
    }
    chip_pins = static_cast<std::uint8_t>(value[0] - '0');
    // A pin the chip does not compare is a block bit of its control byte,
    // and the pin is not connected inside.
    const unsigned stray = chip_pins & ~chip.pins & 7u;
    if (stray != 0) {
      std::string values;
      for (unsigned pins = 0; pins <= chip.pins; ++pins) {
        if ((pins & ~chip.pins) == 0) {
          values += (values.empty()      ? ""
                     : pins == chip.pins ? " or "
                                         : ", ") +
                    std::to_string(pins);
        }
      }
      // A block bit in A2's place leaves pin 3 no choice: the chip works only
      // with it tied to VCC.
      const bool pin3 = (stray >> chip.block_place & 1) != 0 && chip.block_place == 2;
      Diagnostic("/ADDR:" + std::string(value) + " sets " + PinNames(stray) + ", which the " +
                 std::string(chip.name) + " does not have: " +
                 (pin3 ? "its pin 3 must be tied to VCC, or the chip does not work, and " : "") +
                 "it takes " +
                 (std::has_single_bit(stray) ? "that bit of its control byte as an address bit"
                                             : "those bits of its control byte as address bits") +
                 " of its memory" +
                 (chip.pins == 0 ? "; leave /ADDR: out"
                                 : "; its address pins are " + PinNames(chip.pins) +
                                       " (/ADDR:" + values + ")"));
      PauseAndExit(1);
    }
  }
  // /R, /C and /U are each a job of its own on the file; /U has no file to
  // take what differs from with /P.
  std::string jobs;
  int given = 0;
  for (const auto& [asked, name] :
       {std::pair{options.read_chip, "/R"}, std::pair{options.compare, "/C"},
        std::pair{options.update, "/U"}}) {
    if (asked) {
      jobs += (jobs.empty() ? "" : " and ") + std::string(name);
      ++given;
    }
  }
  if (given > 1) {
    Diagnostic(jobs +
               " are jobs of their own (/R reads the chip into the file, /C compares it with "
               "the file, /U writes what differs from the file): give one; nothing was sent to "
               "the chip");
    PauseAndExit(1);
  }
  if (options.app_reset && options.update) {
    Diagnostic(
        "/U writes what differs from a dump file, and /P has none (/P /C compares the APP "
        "registers with what /P writes): nothing was sent to the chip");
    PauseAndExit(1);
  }
  if (options.app_reset && !chip.app_page) {
    std::string owners;
    for (const Chip& other : Chips()) {
      if (other.app_page) {
        owners += (owners.empty() ? "the " : " and the ") + std::string(other.name);
      }
    }
    Diagnostic("/P works on the APP registers, which only " + owners + " has, not the " +
               std::string(chip.name) + ": nothing was sent to the chip");
    PauseAndExit(1);
  }
}

// The bus clock, where /KHZ: and the chip put it on the carrier port_name
// names. A clock the carrier cannot give or the chip may not take ends the
// run with status 1 and the values allowed on standard error, before the
// port is opened. An I2C adapter's clock is its kernel driver's: /KHZ: is
// noted there and the run goes on, as /X is.
void ChooseClock(const RunOptions& options) {
  const BusCarrier carrier = CarrierOfPort();
  const Chip& chip = *current_chip;
  if (carrier == BusCarrier::kI2cAdapter && options.khz) {
    Diagnostic(
        "/KHZ: has no meaning on an I2C adapter, whose kernel driver sets its clock: "
        "going on without it");
  }
  if (!ChooseBusClock(carrier, chip.own_bit_delay, options.khz)) {
    Diagnostic("/KHZ:" + std::string(*options.khz) + ": " +
               (carrier == BusCarrier::kSerialLines ? "on a serial port" : "on the CH341A") +
               " the " + std::string(chip.name) + "'s bus clock in kHz is " +
               AllowedClocks(carrier, chip.own_bit_delay) + "; nothing was sent to the chip");
    PauseAndExit(1);
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
  if (options.list_chips) {
    PrintChips();
    PauseAndExit(0);
  }
  ChooseChip(options);
  bus_options = options.bus;
  port_name = options.port;
  ChooseClock(options);
  ignore_errors = options.ignore_errors;
  ack_polling = options.fast_writes;
  // The bit delay times only the serial port's bus; an I2C adapter or the
  // programmer clocks the bus itself, and its runs go to work at once. Their
  // waits (the write cycle, the polls) are timed by the tick counter. The
  // count shown is calibration's, whatever bit delay the chip then gets.
  if (CarrierOfPort() == BusCarrier::kSerialLines) {
    InitializeTimer();
    ApplyBusClock();
  }

  // The file name is argument 1 exactly as the platform delivered it.
  const std::string file_name(arguments[0]);
  if (options.app_reset && options.read_chip) {
    ShowAppRegisters();
  } else if (options.app_reset && options.compare) {
    CompareAppRegisters();
  } else if (options.app_reset) {
    ResetAppRegisters(options);
  } else if (options.read_chip) {
    ReadIntoFile(options, file_name.c_str());
  } else if (options.compare) {
    CompareWithImage(file_name.c_str());
  } else if (options.update) {
    UpdateImage(options, file_name.c_str());
  } else {
    WriteImage(options, file_name.c_str());
  }
  ConsoleLine("Done.");
  CloseBus();
  PauseAndExit(0);
}
