// SPDX-License-Identifier: MIT
#include "platform/port_mode.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <iterator>

namespace {

constexpr int kStandardBauds[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};

std::string_view NextWord(std::string_view& text) {
  const auto start = text.find_first_not_of(' ');
  if (start == std::string_view::npos) {
    text = {};
    return {};
  }
  text.remove_prefix(start);
  const auto end = std::min(text.find(' '), text.size());
  const std::string_view word = text.substr(0, end);
  text.remove_prefix(end);
  return word;
}

int NumberIn(std::string_view text, int lowest, int highest) {
  int number = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  const bool whole = error == std::errc{} && end == text.data() + text.size();
  return whole && number >= lowest && number <= highest ? number : 0;
}

void ApplySetting(PortMode& mode, std::string_view key, std::string_view value) {
  if (key == "baud") {
    const int baud = NumberIn(value, 1, 1000000);
    mode.baud = std::ranges::find(kStandardBauds, baud) != std::end(kStandardBauds) ? baud : 0;
  } else if (key == "parity" && value.size() == 1) {
    const auto parity = static_cast<char>(std::toupper(static_cast<unsigned char>(value[0])));
    mode.parity = parity == 'N' || parity == 'E' || parity == 'O' ? parity : 0;
  } else if (key == "data") {
    mode.data_bits = NumberIn(value, 5, 8);
  } else if (key == "stop") {
    mode.stop_bits = NumberIn(value, 1, 2);
  }
}

// "COM" in any case, as Windows takes its device names.
bool IsComPrefix(std::string_view prefix) {
  return std::ranges::equal(prefix, std::string_view("COM"), [](char a, char b) {
    return std::toupper(static_cast<unsigned char>(a)) == b;
  });
}

}  // namespace

PortMode ParsePortMode(std::string_view text) {
  PortMode mode;
  auto end = text.rfind(": ");
  if (end == std::string_view::npos) {
    end = text.ends_with(':') ? text.size() - 1 : std::min(text.find(' '), text.size());
  }
  mode.name = text.substr(0, end);
  if (mode.name.size() > 3 && IsComPrefix(mode.name.substr(0, 3))) {
    mode.port_number = NumberIn(mode.name.substr(3), 1, 255);
  }
  text.remove_prefix(std::min(end + 1, text.size()));
  for (std::string_view word = NextWord(text); !word.empty(); word = NextWord(text)) {
    const auto equals = word.find('=');
    if (equals != std::string_view::npos) {
      ApplySetting(mode, word.substr(0, equals), word.substr(equals + 1));
    }
  }
  return mode;
}
