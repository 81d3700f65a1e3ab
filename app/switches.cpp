// SPDX-License-Identifier: MIT
#include "app/switches.h"

#include <algorithm>
#include <cctype>
#include <string>

#include "platform/platform.h"

namespace {

bool HasSwitch(std::span<const std::string_view> arguments, std::string_view upper,
               std::string_view lower) {
  return std::any_of(arguments.begin(), arguments.end(), [&](std::string_view argument) {
    return argument == upper || argument == lower;
  });
}

constexpr std::string_view kPortKeyword = "/PORT:";
constexpr std::string_view kChipKeyword = "/CHIP:";
constexpr std::string_view kAddressKeyword = "/ADDR:";
constexpr std::string_view kClockKeyword = "/KHZ:";

// A switch with a value: keyword (upper case) in any case, then the value.
bool HasKeyword(std::string_view argument, std::string_view keyword) {
  return argument.size() >= keyword.size() &&
         std::equal(keyword.begin(), keyword.end(), argument.begin(), [](char a, char b) {
           return a == std::toupper(static_cast<unsigned char>(b));
         });
}

}  // namespace

RunOptions ParseSwitches(std::span<const std::string_view> arguments) {
  RunOptions options;
  // Argument 1 is the file name, or /P; it also takes part in the scan for
  // the other switches like every other argument.
  options.app_reset = !arguments.empty() && (arguments[0] == "/P" || arguments[0] == "/p");
  options.byte_mode = HasSwitch(arguments, "/B", "/b");
  options.ignore_errors = HasSwitch(arguments, "/E", "/e");
  options.fast_writes = HasSwitch(arguments, "/F", "/f");
  options.read_chip = HasSwitch(arguments, "/R", "/r");
  options.verify = HasSwitch(arguments, "/V", "/v");
  options.compare = HasSwitch(arguments, "/C", "/c");
  options.update = HasSwitch(arguments, "/U", "/u");
  options.bus.invert_scl = HasSwitch(arguments, "/X", "/x");
  options.bus.invert_sda_out = HasSwitch(arguments, "/D", "/d");
  options.bus.invert_sda_in = HasSwitch(arguments, "/I", "/i");
  // The last of each wins.
  for (const std::string_view argument : arguments) {
    if (HasKeyword(argument, kPortKeyword)) {
      options.port = argument.substr(kPortKeyword.size());
    } else if (HasKeyword(argument, kChipKeyword)) {
      options.chip = argument.substr(kChipKeyword.size());
    } else if (HasKeyword(argument, kAddressKeyword)) {
      options.address = argument.substr(kAddressKeyword.size());
    } else if (HasKeyword(argument, kClockKeyword)) {
      options.khz = argument.substr(kClockKeyword.size());
    }
  }
  options.list_ports = options.port == "?";
  options.list_chips = options.chip == "?";
  return options;
}

bool IsSwitch(std::string_view argument) {
  constexpr std::string_view kLetters = "PpBbEeFfRrVvCcUuXxDdIi";
  return (argument.size() == 2 && argument[0] == '/' &&
          kLetters.find(argument[1]) != std::string_view::npos) ||
         HasKeyword(argument, kPortKeyword) || HasKeyword(argument, kChipKeyword) ||
         HasKeyword(argument, kAddressKeyword) || HasKeyword(argument, kClockKeyword);
}

void ReportIgnoredSwitches(std::span<const std::string_view> arguments) {
  for (const std::string_view argument : arguments.subspan(arguments.empty() ? 0 : 1)) {
    std::string line = "'";
    line += argument;
    line += "' ";
    if (argument == "/P" || argument == "/p") {
      Diagnostic(line + "is ignored: /P resets APP only as the first argument");
    } else if (!argument.empty() && (argument[0] == '/' || argument[0] == '-') &&
               !IsSwitch(argument)) {
      line += "is no switch of this program and is ignored";
      // A Unix habit: -v for /V.
      std::string slashed = "/";
      slashed += argument.substr(1);
      if (argument[0] == '-' && IsSwitch(slashed)) {
        line += " (switches begin with /: " + slashed + ")";
      }
      Diagnostic(line);
    }
  }
}

bool AsksForUsage(std::span<const std::string_view> arguments) {
  return !arguments.empty() &&
         (arguments[0] == "/?" || arguments[0] == "-h" || arguments[0] == "--help");
}

void PrintUsage() {
  ConsoleLine("");
  ConsoleLine("Usage: ebrilo filename [switches]");
  ConsoleLine("       ebrilo /P [switches]");
  ConsoleLine("");
  ConsoleLine("  filename      Specifies the source binary file.");
  ConsoleLine("  /P            Reset APP.");
  ConsoleLine("");
  ConsoleLine("  switches:");
  ConsoleLine("  /B            Byte mode. Byte writing is performed instead of page writing.");
  ConsoleLine("                Has no effect with /P.");
  ConsoleLine("  /E            Ignore errors and keep writing (not recommended).");
  ConsoleLine("                Has no effect with /P.");
  ConsoleLine("  /F            Fast writes: poll the eeprom for the end of each write cycle.");
  ConsoleLine("  /R            Read the eeprom into the file instead of writing it.");
  ConsoleLine("  /V            Verify: read the eeprom back and compare (with /R: read again).");
  ConsoleLine("  /C            Compare the eeprom with the file, writing nothing (/P /C: APP).");
  ConsoleLine("  /U            Update: read first, write only what differs from the file.");
  ConsoleLine("  /X            Invert SCL. Default is direct.");
  ConsoleLine("  /D            Invert SDA-Out. Default is direct.");
  ConsoleLine("  /I            Invert SDA-In. Default is direct.");
  ConsoleLine("  /PORT:name    Serial port, COM1 by default: COMn, or on Linux a device");
  ConsoleLine("                such as ttyUSB0 or a path such as /dev/serial/by-id/...");
  ConsoleLine("                Also an I2C adapter (on Linux i2c-N) or a CH341A programmer");
  ConsoleLine("                (ch341a, or ch341a:BUS-PORTS as /PORT:? lists it).");
  ConsoleLine("  /PORT:?       List the serial ports, I2C adapters and programmers.");
  ConsoleLine("  /CHIP:name    The chip, 24RF08 by default: 24C01, 24C02, 24C04, 24C08,");
  ConsoleLine("                24C16, 24C32, 24C64, 24C128, 24C256 or 24C512, also as");
  ConsoleLine("                printed on it (AT24C02, 24LC256, M24C64...).");
  ConsoleLine("  /CHIP:?       List the chips: size, page, address bytes and pins.");
  ConsoleLine("  /ADDR:n       Levels of the chip's address pins A2 A1 A0, 0 to 7 (0).");
  ConsoleLine("  /KHZ:n        Bus clock in kHz: serial port 1 to 100 (100; 24RF08 1 to 12),");
  ConsoleLine("                CH341A 20, 100, 400 or 750 (400; 24RF08 20 or 100, 100).");
  ConsoleLine("  /P /R         Show the APP registers and the access protection they set.");
  ConsoleLine("");
  ConsoleLine("Please report any bug to: ebrilo-bugs@example.org");
  ConsoleLine("");
}
