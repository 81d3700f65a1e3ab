// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "app/switches.h"

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

}  // namespace
