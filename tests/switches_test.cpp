// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "app/switches.h"
#include "eeprom/chips.h"

namespace {

// The flags set, as their switch letters in a fixed order: "P B E F X D I".
std::string SetFlags(const RunOptions& options) {
  std::string flags;
  const auto add = [&flags](bool set, const char* letter) {
    if (set) {
      flags += flags.empty() ? letter : std::string(" ") + letter;
    }
  };
  add(options.app_reset, "P");
  add(options.byte_mode, "B");
  add(options.ignore_errors, "E");
  add(options.fast_writes, "F");
  add(options.bus.invert_scl, "X");
  add(options.bus.invert_sda_out, "D");
  add(options.bus.invert_sda_in, "I");
  return flags;
}

TEST(SwitchesTest, ParseSwitchesMatchesWholeArgumentsOnly) {
  const struct {
    const char* scenario;
    std::vector<std::string_view> arguments;
    const char* flags;
  } cases[] = {
      {"file, byte mode and inverted clock", {"dump.bin", "/b", "/X"}, "B X"},
      {"/p alone is APP mode", {"/p"}, "P"},
      {"/P alone is APP mode", {"/P"}, "P"},
      {"/P after a file name is ignored", {"dump.bin", "/P"}, ""},
      {"/p after a file name is ignored", {"dump.bin", "/p"}, ""},
      // Argument 1 is the file name and takes part in the switch scan too.
      {"/E alone is a file name and sets ignore errors", {"/E"}, "E"},
      {"unknown switch is ignored", {"dump.bin", "/Z"}, ""},
      {"near misses match nothing", {"dump.bin", "-B", "/B:", "/BX", "/bx", "/b ", "B", "/"}, ""},
      {"switches cannot be combined", {"dump.bin", "/BE", "/XDI"}, ""},
      {"repeated switches count once", {"dump.bin", "/x", "/X", "/x", "/e", "/E"}, "E X"},
      {"every switch upper case", {"dump.bin", "/B", "/E", "/F", "/X", "/D", "/I"}, "B E F X D I"},
      {"every switch lower case", {"dump.bin", "/b", "/e", "/f", "/x", "/d", "/i"}, "B E F X D I"},
      {"APP mode with switches", {"/P", "/i", "/D", "/x", "/b", "/e", "/f"}, "P B E F X D I"},
      {"near misses of /F match nothing", {"dump.bin", "-F", "/F:", "/FE", "F"}, ""},
      {"a switch as argument 1 still counts", {"/I", "dump.bin", "/b"}, "B I"},
      {"no arguments", {}, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SetFlags(ParseSwitches(c.arguments)), c.flags) << c.scenario;
  }
}

// /PORT: carries the port name as given, after its keyword in any case; the
// last one wins, argument 1 included, and "?" asks for the port listing.
TEST(SwitchesTest, PortSwitchNamesThePort) {
  const struct {
    const char* scenario;
    std::vector<std::string_view> arguments;
    std::string_view port;
    bool list_ports;
    const char* flags;
  } cases[] = {
      {"no /PORT: is COM1", {"dump.bin", "/b"}, "COM1", false, "B"},
      {"a path as given",
       {"dump.bin", "/PORT:/dev/serial/by-id/usb-X if00"},
       "/dev/serial/by-id/usb-X if00",
       false,
       ""},
      {"keyword in any case", {"dump.bin", "/port:ttyUSB0", "/x"}, "ttyUSB0", false, "X"},
      {"mixed case keyword, name case kept", {"/P", "/Port:Com5"}, "Com5", false, "P"},
      {"the last one wins", {"dump.bin", "/PORT:COM3", "/PORT:ttyACM0"}, "ttyACM0", false, ""},
      {"an empty name", {"dump.bin", "/PORT:"}, "", false, ""},
      {"the listing", {"/PORT:?"}, "?", true, ""},
      {"a later name overrides the listing", {"/PORT:?", "/PORT:COM2"}, "COM2", false, ""},
      {"near misses",
       {"dump.bin", "/PORT", "-PORT:COM2", "/PORTS:COM2", "PORT:COM2"},
       "COM1",
       false,
       ""},
  };
  for (const auto& c : cases) {
    const RunOptions options = ParseSwitches(c.arguments);
    EXPECT_EQ(options.port, c.port) << c.scenario;
    EXPECT_EQ(options.list_ports, c.list_ports) << c.scenario;
    EXPECT_EQ(SetFlags(options), c.flags) << c.scenario;
  }
  // A /PORT: in the place of the file name is a switch, so /R refuses it.
  EXPECT_TRUE(IsSwitch("/PORT:COM2"));
  EXPECT_TRUE(IsSwitch("/port:"));
  EXPECT_FALSE(IsSwitch("/PORT"));
}

// Names as printed on chips ("marking row") find their row, in any case:
// the family letters, not the size alone, place the large parts. What no
// row fits, parts of another protocol among them, finds none.
TEST(SwitchesTest, ChipNamesAsPrintedOnChips) {
  for (const std::string c : {"at24rf08c 24RF08", "AT24C02 24C02",
                              "24LC16B 24C16",    "M24256 24C256",
                              "CAT24C32 24C32",   "BR24T02FVM-W 24C02",
                              "AT24C256C 24C256", "24FC512 24C512",
                              "24c01 24C01",      "24C00 ",
                              "X24C01 ",          "24RF16 ",
                              "1-24C02 ",         " ",
                              "AT24CM01 24M01",   "AT24C1024 24M01",
                              "M24M01-R 24M01",   "CAT24M01 24M01",
                              "24CM01 24M01",     "24C1024 24M01",
                              "24M01 24M01",      "AT24CM02 24M02",
                              "M24M02 24M02",     "24cm02 24M02",
                              "24AA1025 24C1025", "24LC1025-I/P 24C1025",
                              "24FC1025 24C1025", "24C1025 24C1025",
                              "24AA515 24C515",   "24LC515 24C515",
                              "24FC515 24C515",   "24C515 24C515",
                              "24LC512 24C512",   "24CM512 ",
                              "24C2048 "}) {
    const Chip* chip = FindChip(c.substr(0, c.find(' ')));
    EXPECT_EQ(chip == nullptr ? "" : chip->name, c.substr(c.find(' ') + 1)) << c;
  }
}

}  // namespace
