// SPDX-License-Identifier: MIT
// The EBRILO_SIM syntax: "key=value" items and bare keys separated by ';'.
// A test harness writes these, so anything not understood is refused rather
// than guessed at.
#include <algorithm>
#include <charconv>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/sim.h"
#include "sim/sim_parts.h"

namespace {

// Large enough for any transaction number, edge count or write cycle a run
// can reach, small enough that no arithmetic on it overflows.
constexpr std::uint32_t kLargestNumber = 100'000'000;

// The simulated clock runs at most this many times faster than real time:
// beyond it the bit delay left in real time is too short to calibrate.
constexpr std::uint32_t kFastestSpeed = 100;

// i2c-dev carries no longer message.
constexpr std::uint32_t kLongestI2cMessage = 8192;

// The simulated USB has places for this many programmers.
constexpr std::uint32_t kMostProgrammers = 2;

std::string_view Trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) {
    return {};
  }
  const auto last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

bool ParseNumber(std::string_view text, std::uint32_t& number) {
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, number);
  return !text.empty() && error == std::errc{} && stop == end && number <= kLargestNumber;
}

bool ParseOptionalNumber(std::string_view value, std::optional<std::uint32_t>& number) {
  std::uint32_t parsed = 0;
  if (!ParseNumber(value, parsed)) {
    return false;
  }
  number = parsed;
  return true;
}

bool ParseNack(std::string_view text, SimConfig& config) {
  SimNack nack;
  const auto colon = text.find(':');
  if (!ParseNumber(text.substr(0, colon), nack.transaction)) {
    return false;
  }
  if (colon != std::string_view::npos &&
      (!ParseNumber(text.substr(colon + 1), nack.byte) || nack.byte == 0)) {
    return false;
  }
  config.nacks.push_back(nack);
  return true;
}

// "K:N": from transaction K on, CTS lags N µs.
bool ParseLagChange(std::string_view text, SimConfig& config) {
  const auto colon = text.find(':');
  return colon != std::string_view::npos &&
         ParseOptionalNumber(text.substr(0, colon), config.lag_change_at) &&
         ParseNumber(text.substr(colon + 1), config.changed_lag_us);
}

bool ParseInvert(std::string_view list, SimConfig& config) {
  for (;;) {
    const auto comma = list.find(',');
    const std::string_view line = Trimmed(list.substr(0, comma));
    if (line == "rts") {
      config.invert_rts = true;
    } else if (line == "dtr") {
      config.invert_dtr = true;
    } else if (line == "cts") {
      config.invert_cts = true;
    } else {
      return false;
    }
    if (comma == std::string_view::npos) {
      return true;
    }
    list.remove_prefix(comma + 1);
  }
}

// "K,L,...": APP registers with a sticky bit, 0 to 8.
bool ParseLocked(std::string_view list, SimConfig& config) {
  constexpr std::uint32_t kLastSticky = 8;
  for (;;) {
    const auto comma = list.find(',');
    std::uint32_t index = 0;
    if (!ParseNumber(Trimmed(list.substr(0, comma)), index) || index > kLastSticky) {
      return false;
    }
    config.locked = static_cast<std::uint16_t>(config.locked | 1u << index);
    if (comma == std::string_view::npos) {
      return true;
    }
    list.remove_prefix(comma + 1);
  }
}

bool ParsePath(std::string_view value, std::string& path) {
  path = value;
  return !value.empty();
}

bool ParsePortFail(std::string_view value, SimConfig& config) {
  if (value == "open") {
    config.port_fail_at_open = true;
    return true;
  }
  return ParseOptionalNumber(value, config.port_fail_at);
}

bool ParseI2cFail(std::string_view value, SimConfig& config) {
  if (value == "open") {
    config.i2c_fail_at_open = true;
    return true;
  }
  return ParseOptionalNumber(value, config.i2c_fail_at);
}

// "absent", or a chip as the table names it.
bool ParseChip(std::string_view value, SimConfig& config) {
  if (value == "absent") {
    config.chip_absent = true;
    return true;
  }
  if (SimFindChip(value) == nullptr) {
    return false;
  }
  config.chip = value;
  return true;
}

// The levels of A2 A1 A0, bit 2 being A2.
bool ParsePins(std::string_view value, SimConfig& config) {
  constexpr std::uint32_t kAllPinsHigh = 7;
  std::uint32_t pins = 0;
  if (!ParseNumber(value, pins) || pins > kAllPinsHigh) {
    return false;
  }
  config.pins = static_cast<std::uint8_t>(pins);
  return true;
}

bool ParseValue(std::string_view key, std::string_view value, SimConfig& config) {
  if (key == "load") {
    return ParsePath(value, config.load);
  }
  if (key == "app_load") {
    return ParsePath(value, config.app_load);
  }
  if (key == "save") {
    return ParsePath(value, config.save);
  }
  if (key == "app_save") {
    return ParsePath(value, config.app_save);
  }
  if (key == "trace") {
    return ParsePath(value, config.trace);
  }
  if (key == "invert") {
    return ParseInvert(value, config);
  }
  if (key == "circuit" && (value == "none" || value == "loopback")) {
    config.circuit = value == "none" ? SimCircuit::kNone : SimCircuit::kLoopback;
    return true;
  }
  if (key == "chip") {
    return ParseChip(value, config);
  }
  if (key == "pins") {
    return ParsePins(value, config);
  }
  if (key == "stuck") {
    return ParseNumber(value, config.stuck_falls) && config.stuck_falls > 0;
  }
  if (key == "nack") {
    return ParseNack(value, config);
  }
  if (key == "remove") {
    return ParseOptionalNumber(value, config.remove_at);
  }
  if (key == "write_ms") {
    return ParseNumber(value, config.write_ms);
  }
  if (key == "speed") {
    return ParseNumber(value, config.speed) && config.speed >= 1 && config.speed <= kFastestSpeed;
  }
  if (key == "op_us") {
    return ParseNumber(value, config.op_us);
  }
  if (key == "cts_lag_us") {
    return ParseNumber(value, config.cts_lag_us);
  }
  if (key == "cts_period_us") {
    return ParseNumber(value, config.cts_period_us);
  }
  if (key == "lag_from") {
    return ParseLagChange(value, config);
  }
  if (key == "port_fail") {
    return ParsePortFail(value, config);
  }
  if (key == "i2c_max") {
    return ParseNumber(value, config.i2c_max) && config.i2c_max >= 1 &&
           config.i2c_max <= kLongestI2cMessage;
  }
  if (key == "i2c_fail") {
    return ParseI2cFail(value, config);
  }
  if (key == "programmers") {
    return ParseNumber(value, config.programmers) && config.programmers <= kMostProgrammers;
  }
  if (key == "round_trip_us") {
    return ParseNumber(value, config.round_trip_us);
  }
  if (key == "unplug") {
    return ParseOptionalNumber(value, config.unplug_at);
  }
  if (key == "locked") {
    return ParseLocked(value, config);
  }
  if (key == "flip") {
    config.flip_at.push_back(0);
    return ParseNumber(value, config.flip_at.back()) && config.flip_at.back() > 0;
  }
  if (key == "flip_bit") {
    return ParseNumber(value, config.flip_bit) && config.flip_bit <= 7;
  }
  // Every byte flipped would be a chip that holds other bytes, not a fault
  // of the connection: at least every second byte comes through.
  if (key == "flip_every") {
    return ParseNumber(value, config.flip_every) && config.flip_every >= 2;
  }
  if (key == "weak") {
    return ParseOptionalNumber(value, config.weak_cell);
  }
  return false;
}

// Settings that can be given once only: a second value would leave it
// unclear which one the harness meant. nack, invert and flip add up instead.
bool RepeatsSetting(std::string_view key, std::vector<std::string_view>& seen) {
  if (key == "nack" || key == "invert" || key == "flip") {
    return false;
  }
  if (std::find(seen.begin(), seen.end(), key) != seen.end()) {
    return true;
  }
  seen.push_back(key);
  return false;
}

// Whether an item that parsed on its own makes sense with the chip the whole
// text chooses: the APP page's items belong to the 24RF08, which alone has
// one, address pins to the plain chips (the 24RF08's pins 1 to 3 are its
// coil and PROT), and a weak cell must be inside the chip.
bool FitsChip(std::string_view item, const SimConfig& config) {
  const SimChipModel& chip = *SimFindChip(config.chip);
  const std::string_view key = item.substr(0, item.find('='));
  if (key == "deaf_app" || key == "protect" || key == "locked" || key == "app_load" ||
      key == "app_save" || key == "address_only_fault") {
    return chip.app;
  }
  if (key == "pins") {
    return chip.address_pins;
  }
  if (key == "weak") {
    return *config.weak_cell < chip.size;
  }
  return true;
}

bool ParseItem(std::string_view item, SimConfig& config, std::vector<std::string_view>& seen) {
  const auto equals = item.find('=');
  const std::string_view key = item.substr(0, equals);
  if (RepeatsSetting(key, seen)) {
    return false;
  }
  if (equals == std::string_view::npos) {
    if (key == "deaf_app") {
      config.deaf_app = true;
      return true;
    }
    if (key == "wp") {
      config.write_protected = true;
      return true;
    }
    if (key == "protect") {
      config.protect = true;
      return true;
    }
    if (key == "address_only_fault") {
      config.address_only_fault = true;
      return true;
    }
    if (key == "i2c_remoteio") {
      config.i2c_remoteio = true;
      return true;
    }
    return false;
  }
  return ParseValue(key, item.substr(equals + 1), config);
}

}  // namespace

bool SimParseConfig(std::string_view text, SimConfig& config, std::string& bad_item) {
  config = SimConfig{};
  std::vector<std::string_view> seen;
  std::vector<std::string_view> items;
  while (!text.empty()) {
    const auto semicolon = text.find(';');
    const std::string_view item = Trimmed(text.substr(0, semicolon));
    if (!item.empty() && !ParseItem(item, config, seen)) {
      bad_item = item;
      return false;
    }
    items.push_back(item);
    text = semicolon == std::string_view::npos ? std::string_view{} : text.substr(semicolon + 1);
  }
  for (const std::string_view item : items) {
    if (!FitsChip(item, config)) {
      bad_item = item;
      return false;
    }
  }
  return true;
}
