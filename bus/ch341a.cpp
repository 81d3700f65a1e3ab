// SPDX-License-Identifier: MIT
#include "bus/ch341a.h"

#include <algorithm>
#include <cctype>

bool IsProgrammerName(std::string_view name) {
  constexpr std::string_view kKeyword = "ch341a";
  return name.size() >= kKeyword.size() &&
         std::equal(
             kKeyword.begin(), kKeyword.end(), name.begin(),
             [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); }) &&
         (name.size() == kKeyword.size() || name[kKeyword.size()] == ':');
}

I2cResult Ch341aTransfer(std::span<const I2cMessage> /*messages*/, std::string& reason) {
  reason = "not built yet";
  return I2cResult::kFailed;
}
