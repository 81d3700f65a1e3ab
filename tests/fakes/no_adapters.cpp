// SPDX-License-Identifier: MIT
// The unit tests' machine has serial ports only: no device is an I2C
// adapter, and no programmer opens.
#include "platform/platform.h"

bool IsI2cAdapter(const std::string& /*device*/) {
  return false;
}

bool I2cAdapterOpen(const std::string& /*device*/) {
  return false;
}

I2cResult I2cAdapterTransfer(std::span<const I2cMessage> /*messages*/, std::string& reason) {
  reason = "no adapter";
  return I2cResult::kFailed;
}

void I2cAdapterClose() {}

bool Ch341aOpen(std::string_view /*selector*/) {
  return false;
}

std::string Ch341aName() {
  return "CH341A";
}

bool Ch341aExchange(std::span<const std::uint8_t> /*packet*/, std::span<std::uint8_t> /*reply*/,
                    std::string& reason) {
  reason = "no programmer";
  return false;
}

void Ch341aClose() {}

std::vector<SerialPortInfo> ListCh341aProgrammers() {
  return {};
}
