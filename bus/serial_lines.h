// SPDX-License-Identifier: MIT
// The bus lines on the serial port's modem lines: RTS drives SCL, DTR drives
// SDA-Out, CTS senses SDA-In. Each drive primitive makes exactly one port call
// and then one bit delay; there is no shadow copy of the line states, so a
// line set to the level it already has is still set again and still waited on.
#pragma once

#include <string>

// Direct polarity: an asserted modem line is a high (released) bus line.
// Each flag swaps that for its own line.
struct BusOptions {
  bool invert_scl = false;
  bool invert_sda_out = false;
  bool invert_sda_in = false;
};

// Read on every line change; set once by the run sequence before the port
// is opened.
extern BusOptions bus_options;

// The port the bus is on: COM1 unless the command line named another. Set
// once by the run sequence before the port is opened.
extern std::string port_name;

// The mode text the port is opened with: the port name and its settings.
// PortDevicePath tells the device it stands for.
std::string SerialPortMode();

void OpenSerialPort();
void CloseSerialPort();

void SdaHigh();
void SdaLow();
void SclHigh();
void SclLow();

// One bit delay, then a sample of SDA-In: true when the bus line is high.
bool ReadSda();

// True once the port failed to open or a line change or sample on it failed.
// A dead CTS reads as low with direct polarity, which would look like an
// acknowledge; the protocol asks this before it believes one.
bool LinesFailed();
