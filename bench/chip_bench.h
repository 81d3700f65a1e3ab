// SPDX-License-Identifier: MIT
// The 24Cxx family: a verified page-mode write with /F of a 24C64 beside the
// 24RF08's on the serial port, in the same run (the cost must grow with the
// chip's size, not faster), and of a 24C512 through an I2C adapter and the
// CH341A, with their time on the bus.
#pragma once

#include <cstddef>
#include <string>

// A dump of size random bytes for the chip, in the runs' folder: its path.
std::string MakeDump(const std::string& work_dir, const std::string& chip, std::size_t size);

void BenchChipFamily(const std::string& work_dir);
