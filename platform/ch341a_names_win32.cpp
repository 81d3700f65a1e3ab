// SPDX-License-Identifier: MIT
#include "platform/ch341a_names_win32.h"

#include <algorithm>
#include <cctype>
#include <charconv>

#include "platform/ch341a_names.h"

namespace {

std::string Upper(std::string_view text) {
  std::string upper(text);
  std::transform(upper.begin(), upper.end(), upper.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return upper;
}

// The number after a prefix such as "Hub_#" at the start of text, or none.
std::optional<int> NumberAfter(std::string_view text, std::string_view prefix) {
  if (!text.starts_with(prefix)) {
    return std::nullopt;
  }
  text.remove_prefix(prefix.size());
  int number = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (error != std::errc{} || end != text.data() + text.size()) {
    return std::nullopt;
  }
  return number;
}

constexpr std::string_view kZadig =
    "install WinUSB for it with Zadig (Options > List All Devices, choose USB ID 1A86 5512, "
    "WinUSB, ";

}  // namespace

std::optional<std::uint16_t> Ch341ProductOf(const std::vector<std::string>& hardware_ids) {
  constexpr std::string_view kVendor = "USB\\VID_1A86&PID_";
  for (const std::string& id : hardware_ids) {
    const std::string upper = Upper(id);
    if (!upper.starts_with(kVendor) || upper.size() < kVendor.size() + 4 ||
        (upper.size() > kVendor.size() + 4 && upper[kVendor.size() + 4] != '&')) {
      continue;
    }
    unsigned product = 0;
    const char* digits = upper.data() + kVendor.size();
    const auto [end, error] = std::from_chars(digits, digits + 4, product, 16);
    if (error != std::errc{} || end != digits + 4) {
      continue;
    }
    if (product == kCh341aProduct ||
        std::find(std::begin(kCh341SerialProducts), std::end(kCh341SerialProducts), product) !=
            std::end(kCh341SerialProducts)) {
      return static_cast<std::uint16_t>(product);
    }
  }
  return std::nullopt;
}

std::string Ch341aPlaceOf(std::string_view location, std::string_view instance_id) {
  const auto dot = location.find('.');
  if (dot != std::string_view::npos) {
    const auto port = NumberAfter(location.substr(0, dot), "Port_#");
    const auto hub = NumberAfter(location.substr(dot + 1), "Hub_#");
    if (port && hub) {
      return std::to_string(*hub) + "-" + std::to_string(*port);
    }
  }
  return std::string(instance_id);
}

bool IsWinUsbService(std::string_view service) {
  return Upper(service) == "WINUSB";
}

std::string Ch341aDriverText(std::string_view name, std::string_view service) {
  std::string text(name);
  if (service.empty()) {
    return text + ": it has no driver: " + std::string(kZadig) + "Install Driver)";
  }
  return text + ": its driver is " + std::string(service) + ", not WinUSB: " + std::string(kZadig) +
         "Replace Driver)";
}

std::string Ch341aListingText(std::string_view service) {
  std::string text = "CH341A programmer, USB 1a86:5512";
  if (service.empty()) {
    text += ", no driver (WinUSB needed)";
  } else if (!IsWinUsbService(service)) {
    text += ", driver " + std::string(service) + " (WinUSB needed)";
  }
  return text;
}

std::string Ch341aOpenFailureText(std::string_view name, std::string_view path, bool held,
                                  std::string_view reason) {
  std::string text(name);
  if (held) {
    return text + ": it is held by another program, or this user may not open it (" +
           std::string(reason) + ")";
  }
  return text + ": cannot open " + std::string(path) + ": " + std::string(reason);
}
