// SPDX-License-Identifier: MIT
// The CH341A programmer is reached through libusb, which the Windows build
// does not have yet: naming it ends the run as a port that will not open.
#include "platform/ch341a_names.h"
#include "platform/platform.h"

bool Ch341aOpen(std::string_view /*selector*/) {
  Diagnostic("the CH341A programmer is supported on Linux for now");
  return false;
}

std::string Ch341aName() {
  return Ch341aPortName("");
}

bool Ch341aExchange(std::span<const std::uint8_t> /*packet*/, std::span<std::uint8_t> /*reply*/,
                    std::string& reason) {
  reason = "the CH341A programmer is supported on Linux for now";
  return false;
}

void Ch341aClose() {}

std::vector<SerialPortInfo> ListCh341aProgrammers() {
  return {};
}
