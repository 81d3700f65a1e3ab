// SPDX-License-Identifier: MIT
#include "eeprom/chip_search.h"

#include <cstdint>
#include <string>
#include <vector>

#include "bus/transfer.h"
#include "eeprom/chips.h"

namespace {

// The family's addresses: 1010 and then three bits, 0x50 to 0x57. Bit n of
// a mask of answers stands for 0x50 + n, whose low three bits are the levels
// /ADDR: gives the pins.
constexpr std::uint8_t kFamilyAddress = 0x50;
constexpr int kFamilyAddresses = 8;

// The addresses chip answers at with its pins at pins, as such a mask.
unsigned Footprint(const Chip& chip, int pins) {
  const unsigned blocks = (1u << (1 << chip.block_bits)) - 1;
  return blocks << ((chip.device_address | pins) - kFamilyAddress);
}

// A chip's pins may take pins when it compares them all and no block bit
// stands in the place of one.
bool PinsFit(const Chip& chip, int pins) {
  return chip.address_pins && (pins & ~chip.pins) == 0;
}

// "5", "4 and 5", "4 to 7": the pins of a footprint of count addresses.
std::string PinsText(int pins, int count) {
  return std::to_string(pins) + (count == 1   ? ""
                                 : count == 2 ? " and " + std::to_string(pins + 1)
                                              : " to " + std::to_string(pins + count - 1));
}

// "/ADDR:2", "/ADDR:2 or /ADDR:5", "/ADDR:0, /ADDR:1 or /ADDR:3".
std::string Choices(const std::vector<int>& pins, const std::string& stem, const char* last) {
  std::string text;
  for (std::size_t i = 0; i < pins.size(); ++i) {
    text += (i == 0 ? "" : i + 1 == pins.size() ? last : ", ") + stem + std::to_string(pins[i]);
  }
  return text;
}

// A chip with block bits answers at several addresses, which the table gives.
std::string SeveralAddresses() {
  std::string text;
  for (const Chip& chip : Chips()) {
    if (chip.block_bits > 0 && chip.address_pins) {
      text += (text.empty() ? "" : ", ") + std::string("a ") + std::string(chip.name) + " at " +
              std::to_string(1 << chip.block_bits) + (text.empty() ? " addresses" : "");
    }
  }
  return " (one chip with block bits answers at several: " + text + ")";
}

// What is left once the chips with the APP page and the current chip at
// other pins are told: each run of answers a chip of the table with block
// bits would give (the largest first), or a single address.
void TellOthers(unsigned answers, std::vector<std::string>& lines) {
  for (int pins = 0; pins < kFamilyAddresses; ++pins) {
    if ((answers >> pins & 1) == 0) {
      continue;
    }
    const Chip* fitting = nullptr;
    for (const Chip& chip : Chips()) {
      const unsigned footprint = Footprint(chip, pins);
      if (!chip.app_page && chip.block_bits > 0 && PinsFit(chip, pins) &&
          (answers & footprint) == footprint &&
          (fitting == nullptr || chip.block_bits > fitting->block_bits)) {
        fitting = &chip;
      }
    }
    const std::string addr = pins == 0 ? "" : " /ADDR:" + std::to_string(pins);
    if (fitting == nullptr) {
      lines.push_back("a chip answers at address pins " + std::to_string(pins) +
                      ": give /CHIP: the name printed on it" +
                      (pins == 0 ? "" : ", and /ADDR:" + std::to_string(pins)));
      answers &= ~(1u << pins);
      continue;
    }
    const int count = 1 << fitting->block_bits;
    lines.push_back("chips answer at address pins " + PinsText(pins, count) + ", as one " +
                    std::string(fitting->name) +
                    (pins == 0 ? "" : " at /ADDR:" + std::to_string(pins)) +
                    " would: try /CHIP:" + std::string(fitting->name) + addr);
    answers &= ~Footprint(*fitting, pins);
  }
}

// Looks at the family's addresses but the one probed: one line for each
// chip that answers, with what to type. When a chip answered the probe but
// is not the current chip (answered), the one probed counts among the
// answers, the current chip at other pins is no choice, and there is
// nothing to add unless another address answers too.
std::vector<std::string> WhatAnswers(bool answered) {
  std::vector<std::string> lines;
  // A bus that acknowledges everything tells nothing.
  if (ProbeTransaction(kNobodyControlByte)) {
    return lines;
  }
  const unsigned probed = 1u << (chip_addresses.front() - kFamilyAddress);
  unsigned answers = answered ? probed : 0;
  for (int pins = 0; pins < kFamilyAddresses; ++pins) {
    const auto address = static_cast<std::uint8_t>(kFamilyAddress + pins);
    if (address != chip_addresses.front() &&
        ProbeTransaction(static_cast<std::uint8_t>(address << 1))) {
      answers |= 1u << pins;
    }
  }
  if (answered && answers == probed) {
    return lines;
  }
  const Chip& chip = *current_chip;
  // A 24RF08 answers where a 24C08 with A2 high does, and also at its APP
  // page.
  for (const Chip& other : Chips()) {
    const unsigned footprint = Footprint(other, 0);
    if (other.app_page && (answers & footprint) == footprint &&
        ProbeTransaction(static_cast<std::uint8_t>(kAppAddress << 1))) {
      lines.push_back("a " + std::string(other.name) +
                      " answers: leave /CHIP:" + (chip_pins != 0 ? " and /ADDR: out" : " out"));
      answers &= ~footprint;
    }
  }
  // Two neighbours that only a block bit tells apart may be one chip.
  std::vector<int> fits;
  const unsigned found = answers;
  bool pairs = false;
  for (int pins = 0; pins < kFamilyAddresses && !answered; ++pins) {
    const unsigned footprint = Footprint(chip, pins);
    if (PinsFit(chip, pins) && (answers & footprint) == footprint) {
      pairs = pairs || (chip.block_bits == 0 && pins % 2 == 1 && (found >> (pins - 1) & 1) != 0);
      fits.push_back(pins);
      answers &= ~footprint;
    }
  }
  if (!fits.empty()) {
    lines.push_back((fits.size() == 1 ? "a chip answers" : "chips answer") +
                    std::string(" at address pins ") + Choices(fits, "", " and ") + ": try " +
                    Choices(fits, "/ADDR:", " or ") + (pairs ? SeveralAddresses() : ""));
  }
  TellOthers(answers, lines);
  return lines;
}

}  // namespace

void OpenChip() {
  chip_addresses = ChipAddresses();
  if (OpenBus()) {
    return;
  }
  ReportChipMissing(WhatAnswers(false));
}

std::vector<std::string> WhatElseAnswers() {
  return WhatAnswers(true);
}
