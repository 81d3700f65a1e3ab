// SPDX-License-Identifier: MIT
#include "bus/bus_speed.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "bus/serial_lines.h"
#include "timing/delay.h"

double bus_clock_khz = 0;

namespace {

// Whether the chip of the run keeps its own bit delay (the 24RF08).
bool own_speed = false;

// A bit delay of half the clock's period, in µs: 40 µs is 12.5 kHz.
constexpr double kHalfPeriodsPerMs = 500.0;
constexpr double kOwnSerialKhz = kHalfPeriodsPerMs / kCalibratedBitDelayMicroseconds;

// The serial port's plain chips: the 100 kHz of the bus's standard mode,
// which every one of them takes at every supply voltage. /KHZ: only slows
// it, for a home-made circuit or a long cable.
constexpr int kSerialKhz = 100;

// The CH341A's four clocks (its speed field 0 to 3). The plain chips run at
// 400 kHz, which most take; 750 kHz is for chips rated for 1 MHz, which
// only the user can tell from the marking. A chip that keeps its own bit
// delay on the serial port runs at 100 kHz, and only slower.
constexpr std::array kProgrammerKhz = {20, 100, 400, 750};
constexpr int kProgrammerKhzDefault = 400;
constexpr int kProgrammerOwnKhz = 100;

// The longest value read: more digits than this are refused as too fast
// before they could overflow.
constexpr std::size_t kLongestValue = 6;

std::optional<int> WholeNumber(std::string_view text) {
  if (text.empty() || text.size() > kLongestValue ||
      !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return std::nullopt;
  }
  int value = 0;
  for (const char c : text) {
    value = value * 10 + (c - '0');
  }
  return value;
}

int SerialLimit(bool own_bit_delay) {
  return own_bit_delay ? static_cast<int>(std::floor(kOwnSerialKhz)) : kSerialKhz;
}

}  // namespace

bool ChooseBusClock(BusCarrier carrier, bool own_bit_delay,
                    std::optional<std::string_view> requested) {
  const std::optional<int> khz = requested ? WholeNumber(*requested) : std::nullopt;
  own_speed = own_bit_delay;
  switch (carrier) {
    case BusCarrier::kI2cAdapter:
      bus_clock_khz = 0;
      return true;
    case BusCarrier::kSerialLines:
      bus_clock_khz = own_bit_delay ? kOwnSerialKhz : kSerialKhz;
      if (requested && (!khz || *khz < 1 || *khz > SerialLimit(own_bit_delay))) {
        return false;
      }
      break;
    case BusCarrier::kUsbProgrammer:
      bus_clock_khz = own_bit_delay ? kProgrammerOwnKhz : kProgrammerKhzDefault;
      if (requested &&
          (!khz ||
           std::find(kProgrammerKhz.begin(), kProgrammerKhz.end(), *khz) == kProgrammerKhz.end() ||
           (own_bit_delay && *khz > kProgrammerOwnKhz))) {
        return false;
      }
      break;
  }
  if (khz) {
    bus_clock_khz = *khz;
  }
  return true;
}

std::string AllowedClocks(BusCarrier carrier, bool own_bit_delay) {
  if (carrier == BusCarrier::kSerialLines) {
    return "a whole number from 1 to " + std::to_string(SerialLimit(own_bit_delay));
  }
  return own_bit_delay ? "20 or 100" : "20, 100, 400 or 750 (750 only for chips rated for 1 MHz)";
}

// Called for the serial port only; 40 µs stays the count calibration found.
void ApplyBusClock() {
  const double microseconds = kHalfPeriodsPerMs / bus_clock_khz;
  sda_set_only_on_change = !own_speed;
  if (microseconds != kCalibratedBitDelayMicroseconds) {
    SetBitDelay(microseconds, kSclWaitMicroseconds);
  }
}

// A slower clock gives a slow circuit, a long cable or a clip that sits
// badly more time to settle: half the clock on the serial port, down to the
// 24RF08's speed, which its circuits carry with margins to spare; the next
// slower of the programmer's clocks.
std::string SlowerClockAdvice() {
  int slower = 0;
  if (bus_carrier == BusCarrier::kSerialLines && bus_clock_khz > kOwnSerialKhz) {
    slower = std::max(static_cast<int>(bus_clock_khz) / 2, SerialLimit(true));
  } else if (bus_carrier == BusCarrier::kUsbProgrammer && bus_clock_khz > kProgrammerOwnKhz) {
    slower =
        *(std::find(kProgrammerKhz.begin(), kProgrammerKhz.end(), static_cast<int>(bus_clock_khz)) -
          1);
  }
  if (slower == 0) {
    return "";
  }
  return "the bus ran at " + std::to_string(static_cast<int>(bus_clock_khz)) +
         " kHz: /KHZ:" + std::to_string(slower) +
         " runs it slower, which a long or poor "
         "connection may need";
}
