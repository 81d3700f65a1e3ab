// SPDX-License-Identifier: MIT
#include "platform/ch341a_names.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

namespace {

// The numbers of a place in order, bus first; text that is not a number
// sorts as 0, after which the plain text decides.
std::vector<int> PlaceNumbers(std::string_view place) {
  std::vector<int> numbers;
  while (!place.empty()) {
    int number = 0;
    const auto [end, error] = std::from_chars(place.data(), place.data() + place.size(), number);
    numbers.push_back(error == std::errc{} ? number : 0);
    const auto separator = place.find_first_of("-.", static_cast<std::size_t>(end - place.data()));
    place.remove_prefix(separator == std::string_view::npos ? place.size() : separator + 1);
  }
  return numbers;
}

}  // namespace

std::optional<std::string_view> Ch341aChosenPlace(std::string_view selector) {
  const auto colon = selector.find(':');
  if (colon == std::string_view::npos) {
    return std::nullopt;
  }
  return selector.substr(colon + 1);
}

std::string Ch341aPortName(std::string_view place) {
  return "ch341a:" + std::string(place);
}

std::string Ch341aPlace(int bus, std::span<const std::uint8_t> ports) {
  std::string place = std::to_string(bus);
  char separator = '-';
  for (const std::uint8_t port : ports) {
    place += separator + std::to_string(port);
    separator = '.';
  }
  return place;
}

bool Ch341aPlaceBefore(std::string_view a, std::string_view b) {
  const std::vector<int> first = PlaceNumbers(a);
  const std::vector<int> second = PlaceNumbers(b);
  return first != second ? first < second : a < b;
}

std::string Ch341SerialModeText(std::uint16_t product, std::string_view place) {
  char ids[16];
  std::snprintf(ids, sizeof ids, "1a86:%04x", product);
  return std::string(ids) + " at USB " + std::string(place);
}

std::string Ch341aNotFoundText(std::optional<std::string_view> place,
                               const std::vector<std::string>& serial_mode) {
  std::string text = "no CH341A programmer found ";
  text += place ? "at USB " + std::string(*place) : std::string("on USB");
  text += " (1a86:5512, the chip in its I2C mode)";
  for (const std::string& chip : serial_mode) {
    text += "; " + chip + " is the same chip in its serial mode, which this program does not use";
  }
  return text;
}

bool Ch341aReadAnswer(std::span<std::uint8_t> reply, Ch341aReadFunction read, std::string& reason) {
  constexpr std::size_t kEndpointSize = 32;
  for (std::size_t got = 0; got < reply.size();) {
    const std::size_t missing = reply.size() - got;
    std::vector<std::uint8_t> in((missing + kEndpointSize - 1) / kEndpointSize * kEndpointSize);
    std::size_t size = 0;
    if (!read(in, size, reason)) {
      reason = "reading its answer failed: " + reason;
      return false;
    }
    if (size == 0 || size > missing) {
      reason = "it answered " + std::to_string(got + size) + " bytes where " +
               std::to_string(reply.size()) + " were due";
      return false;
    }
    std::copy_n(in.begin(), size, reply.begin() + static_cast<std::ptrdiff_t>(got));
    got += size;
  }
  return true;
}
