// SPDX-License-Identifier: MIT
// The command line: a dump file name or /P as argument 1, then switches; or
// a request for the usage text.
#pragma once

#include <optional>
#include <span>
#include <string_view>

#include "bus/serial_lines.h"

struct RunOptions {
  bool app_reset = false;          // /P, as argument 1 only
  bool byte_mode = false;          // /B
  bool ignore_errors = false;      // /E
  bool fast_writes = false;        // /F: acknowledge polling after each write
  bool read_chip = false;          // /R: read the chip into the file; with /P, show APP
  bool verify = false;             // /V
  bool compare = false;            // /C: compare the chip with the file; with /P, APP with 0xFF
  bool update = false;             // /U: write only what differs from the file
  BusOptions bus;                  // /X, /D, /I
  std::string_view port = "COM1";  // /PORT:name, the last one given
  bool list_ports = false;         // /PORT:?
  // /CHIP:name and /ADDR:n as given, the last of each; /CHIP:? lists the
  // chips.
  std::optional<std::string_view> chip;
  std::optional<std::string_view> address;
  bool list_chips = false;
  std::optional<std::string_view> khz;  // /KHZ:n as given, the last one
};

// arguments are argument 1 to the last. Each switch matches only as a whole
// argument, in its upper- or lower-case form; anything else is ignored.
// /PORT:, /CHIP:, /ADDR: and /KHZ: are the switches with a value: the keyword in
// any case, then the value as given; the last of each wins. The views point
// into arguments.
RunOptions ParseSwitches(std::span<const std::string_view> arguments);

// True when argument is one of the switches, /P, /PORT:, /CHIP:, /ADDR: and
// /KHZ: included.
bool IsSwitch(std::string_view argument);

// One line on standard error for each argument after the first that looks
// like a switch (it begins with / or -) and is none the program knows, and
// for a /P that is not argument 1: each is ignored, and a typo must not go
// unnoticed.
void ReportIgnoredSwitches(std::span<const std::string_view> arguments);

// True when argument 1 asks for the usage text: /?, -h or --help. A file of
// such a name is still reachable through a path, such as ./-h.
bool AsksForUsage(std::span<const std::string_view> arguments);

void PrintUsage();
