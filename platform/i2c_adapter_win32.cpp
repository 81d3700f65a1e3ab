// SPDX-License-Identifier: MIT
#include "platform/platform.h"

bool IsI2cAdapter(const std::string& /*device*/) {
  return false;
}
bool I2cAdapterOpen(const std::string& /*device*/) {
  return false;
}
I2cResult I2cAdapterTransfer(std::span<const I2cMessage> /*messages*/, std::string& reason) {
  reason = "not built yet";
  return I2cResult::kFailed;
}
void I2cAdapterClose() {}
