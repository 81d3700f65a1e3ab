// SPDX-License-Identifier: MIT
// The mode text that names and sets up the serial port, such as
// "COM1: baud=9600 parity=N data=8 stop=0". Both port implementations read it
// the same way: the port name, then "key=value" settings. The name ends at the
// last ": " (or a colon that ends the text), so that a path holding colons or
// spaces, such as a /dev/serial/by-path name, stays whole; a text without
// either ends the name at the first space. A setting that does not parse
// (such as "stop=0", which names no stop bit count) is left out, and the port
// keeps what it had; the bus needs none of them, since it uses only the modem
// lines.
#pragma once

#include <string_view>

struct PortMode {
  std::string_view name;  // the port name as given, a view into the text
  int port_number = 0;    // n of "COMn" (any case), 1 to 255; 0 for any other name
  int baud = 0;           // a standard rate, or 0
  char parity = 0;        // 'N', 'E' or 'O', or 0
  int data_bits = 0;      // 5 to 8, or 0
  int stop_bits = 0;      // 1 or 2, or 0
};

PortMode ParsePortMode(std::string_view mode);
