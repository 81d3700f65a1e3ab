// SPDX-License-Identifier: MIT
// A fake of the kernel's i2c-dev interface (platform/i2c_dev_posix.h): any
// open file stands in for the device, each I2C_RDWR call is recorded as
// sent, and the answers are scripted.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

struct FakeI2cMessage {
  std::uint16_t address = 0;
  bool read = false;
  std::vector<std::uint8_t> bytes;  // as written, or the length read as zeros
};

// Every transfer, in order.
extern std::vector<std::vector<FakeI2cMessage>> fake_i2c_transfers;
// The open file is /dev/i2c-N for this N; -1: it is no i2c-dev device.
extern int fake_i2c_adapter_number;
// What I2C_FUNCS gives, or the error it fails with (0: none).
extern unsigned long fake_i2c_functions;
extern int fake_i2c_functions_error;
// The error number of each transfer in turn, 0 for success; once it is
// empty every transfer succeeds. A read fills its bytes with 0x40, 0x41, ...
extern std::deque<int> fake_i2c_errors;
// A successful transfer reports this many messages carried (-1: all).
extern int fake_i2c_carried;

void FakeI2cReset();

// The transfers as text: each message "W54 00 41" (written) or "R54 #2"
// (two bytes read), messages of a transfer joined by ", ", transfers by " | ".
std::string FakeI2cTrace();
