// SPDX-License-Identifier: MIT
// A page-mode write with /F /V through the simulated I2C adapter (the
// kernel's bus master at 100 kHz, /PORT:i2c-1) at speed 1, beside the same
// job through the serial port: the bus's own time and the whole run from
// start to prompt.
#pragma once

#include <string>

void BenchI2cAdapterRuns(const std::string& work_dir);
