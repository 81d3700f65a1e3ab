// SPDX-License-Identifier: MIT
// The mode text that names and sets up the serial port, such as
// "COM1: baud=9600 parity=N data=8 stop=0". Both port implementations read it
// the same way: the port name, then "key=value" settings. A setting that does
// not parse (such as "stop=0", which names no stop bit count) is left out, and
// the port keeps what it had; the bus needs none of them, since it uses only
// the modem lines.
#pragma once

#include <string_view>

struct PortMode {
  int port_number = 0;  // n of "COMn"; 0 when the text names no such port
  int baud = 0;         // a standard rate, or 0
  char parity = 0;      // 'N', 'E' or 'O', or 0
  int data_bits = 0;    // 5 to 8, or 0
  int stop_bits = 0;    // 1 or 2, or 0
};

PortMode ParsePortMode(std::string_view mode);
