// SPDX-License-Identifier: MIT
// The bus lines on the serial port's modem lines: RTS drives SCL, DTR drives
// SDA-Out, CTS senses SDA-In. Each drive primitive makes exactly one port call
// and then one bit delay; at a fast clock an SCL phase of one bit delay is
// lengthened before SCL changes again (see kSclWaitMicroseconds). A line set
// to the level it already has is still set again and still waited on, but
// for SDA on a plain chip's bus (sda_set_only_on_change).
#pragma once

#include <cstdint>
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

// Set for a plain chip's faster bus: SDA is driven only where its level
// changes. A data bit equal to the one before it then costs no line change
// and no bit delay; SCL's low phase still lasts the least wait for SCL, as
// after any phase of one bit delay. The 24RF08's bus keeps every change.
extern bool sda_set_only_on_change;

// The port the bus is on: COM1 unless the command line named another. Set
// once by the run sequence before the port is opened.
extern std::string port_name;

// The mode text the port is opened with: the port name and its settings.
// PortDevicePath tells the device it stands for.
std::string SerialPortMode();

void OpenSerialPort();
void CloseSerialPort();

// The device of the port, as the messages about it name it.
std::string PortName();

void SdaHigh();
void SdaLow();
void SclHigh();
void SclLow();

// One bit delay, then a sample of SDA-In: true when the bus line is high.
// With a read settle time in force, the sample also waits until that long
// after the end of the last DTR or RTS call.
bool ReadSda();

// Timing the port. Through a USB serial adapter every port call is a round
// trip of 0.1 ms or more, and some adapters report CTS only milliseconds
// after the line changed. StartLineTiming (unless it is already on) starts
// keeping the durations of the DTR and RTS calls that follow, drops any read
// settle time, and notes the end of every line change from then on.
// StopLineTiming ends the keeping and gives the shortest duration kept, in
// microseconds (0 when none was). SetReadSettle sets the read settle time;
// with 0, the clock is no longer read at all, as before timing began.
void StartLineTiming();
std::uint64_t StopLineTiming();
void SetReadSettle(std::uint64_t microseconds);
std::uint64_t ReadSettle();

// The microsecond clock's reading at the end of the last DTR or RTS call,
// while line changes are noted.
std::uint64_t LastLineChange();

// True once the port failed to open or a line change or sample on it failed.
// A dead CTS reads as low with direct polarity, which would look like an
// acknowledge; the protocol asks this before it believes one.
bool LinesFailed();
