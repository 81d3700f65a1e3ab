// SPDX-License-Identifier: MIT
// Windows has no I2C adapters a program can reach as Linux's i2c-dev gives
// them: every port name is a serial port's.
#include "platform/platform.h"

bool IsI2cAdapter(const std::string& /*device*/) {
  return false;
}

bool I2cAdapterOpen(const std::string& device) {
  Diagnostic("cannot open " + device + ": no I2C adapters on Windows");
  return false;
}

I2cResult I2cAdapterTransfer(std::span<const I2cMessage> /*messages*/, std::string& reason) {
  reason = "no I2C adapters on Windows";
  return I2cResult::kFailed;
}

void I2cAdapterClose() {}
