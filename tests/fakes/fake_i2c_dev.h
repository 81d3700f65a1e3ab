// SPDX-License-Identifier: MIT
// A fake kernel behind platform/i2c_dev_posix.h: any open file stands in for
// /dev/i2c-N, each I2C_RDWR call is recorded, and the answers are scripted.
#pragma once

#include <deque>
#include <string>

extern int fake_i2c_adapter_number;  // -1: the open file is no i2c-dev device
extern unsigned long fake_i2c_functions;
extern int fake_i2c_functions_error;  // I2C_FUNCS fails with it (0: answers)
// Each transfer fails with the next error number (0: succeeds, reads give
// 0x40, 0x41, ...); a successful one reports fake_i2c_carried messages
// carried (-1: all).
extern std::deque<int> fake_i2c_errors;
extern int fake_i2c_carried;
// The transfers as sent: "W54 00 41" for a message written, "R54 #2" for
// two bytes read, messages joined by ", ", transfers by " | ".
extern std::string fake_i2c_trace;

void FakeI2cReset();
