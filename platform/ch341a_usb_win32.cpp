// SPDX-License-Identifier: MIT
#include "platform/platform.h"

bool Ch341aOpen(std::string_view /*selector*/) {
  return false;
}
std::string Ch341aName() {
  return "CH341A";
}
bool Ch341aExchange(std::span<const std::uint8_t> /*packet*/, std::span<std::uint8_t> /*reply*/,
                    std::string& reason) {
  reason = "not built yet";
  return false;
}
void Ch341aClose() {}
std::vector<SerialPortInfo> ListCh341aProgrammers() {
  return {};
}
