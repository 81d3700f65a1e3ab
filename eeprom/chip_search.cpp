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

// The addresses chip answers at with its pins at pins, as such a mask: one
// for each block, its block bits in their place.
unsigned Footprint(const Chip& chip, int pins) {
  unsigned footprint = 0;
  for (int block = 0; block < 1 << chip.block_bits; ++block) {
    footprint |= 1u << ((chip.device_address | pins | block << chip.block_place) - kFamilyAddress);
  }
  return footprint;
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

// "a 24C04 or 24M01": the names of chips, each once.
std::string Names(const std::vector<const Chip*>& chips, const std::string& stem,
                  const std::string& addr) {
  std::string text;
  for (std::size_t i = 0; i < chips.size(); ++i) {
    text += (i == 0 ? "" : " or ") + stem + std::string(chips[i]->name) + addr;
  }
  return text;
}

// A chip with block bits answers at several addresses, which the table
// gives: neighbours where its block bits lie from A0's place up, addresses
// four apart where its block bit lies in A2's place.
std::string SeveralAddresses(bool four_apart) {
  std::string text;
  for (int count = 2; count <= kFamilyAddresses; count *= 2) {
    std::vector<const Chip*> chips;
    for (const Chip& chip : Chips()) {
      if (chip.address_pins && 1 << chip.block_bits == count &&
          (chip.block_place == 2) == four_apart) {
        chips.push_back(&chip);
      }
    }
    if (!chips.empty()) {
      text += (text.empty() ? "" : ", ") + Names(chips, "a ", "") + " at " + std::to_string(count) +
              (text.empty() ? " addresses" : "");
    }
  }
  return " (one chip with block bits answers at several: " + text +
         (four_apart ? " four apart)" : ")");
}

// What is left once the chips with the APP page and the current chip at
// other pins are told: each set of answers the chips of the table with
// block bits would give (the most blocks first, every chip that gives the
// same set named), or a single address.
void TellOthers(unsigned answers, std::vector<std::string>& lines) {
  for (int pins = 0; pins < kFamilyAddresses; ++pins) {
    if ((answers >> pins & 1) == 0) {
      continue;
    }
    std::vector<const Chip*> fitting;
    for (const Chip& chip : Chips()) {
      const unsigned footprint = Footprint(chip, pins);
      if (chip.app_page || chip.block_bits == 0 || !PinsFit(chip, pins) ||
          (answers & footprint) != footprint) {
        continue;
      }
      if (fitting.empty() || chip.block_bits > fitting.front()->block_bits) {
        fitting.assign(1, &chip);
      } else if (footprint == Footprint(*fitting.front(), pins)) {
        fitting.push_back(&chip);
      }
    }
    const std::string addr = pins == 0 ? "" : " /ADDR:" + std::to_string(pins);
    if (fitting.empty()) {
      lines.push_back("a chip answers at address pins " + std::to_string(pins) +
                      ": give /CHIP: the name printed on it" +
                      (pins == 0 ? "" : ", and /ADDR:" + std::to_string(pins)));
      answers &= ~(1u << pins);
      continue;
    }
    const unsigned footprint = Footprint(*fitting.front(), pins);
    std::string at;
    for (int other = pins; other < kFamilyAddresses; ++other) {
      if ((footprint >> other & 1) != 0) {
        at += (at.empty() ? "" : " and ") + std::to_string(other);
      }
    }
    const int count = 1 << fitting.front()->block_bits;
    lines.push_back("chips answer at address pins " +
                    (fitting.front()->block_place == 0 ? PinsText(pins, count) : at) + ", as one " +
                    Names(fitting, "", "") +
                    (pins == 0 ? "" : " at /ADDR:" + std::to_string(pins)) + " would: try " +
                    Names(fitting, "/CHIP:", addr));
    answers &= ~footprint;
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
  // Two neighbours that only a block bit tells apart may be one chip, and
  // so may two addresses four apart, where the block bit lies in A2's
  // place.
  std::vector<int> fits;
  const unsigned found = answers;
  bool pairs = false;
  bool four_apart = false;
  for (int pins = 0; pins < kFamilyAddresses && !answered; ++pins) {
    const unsigned footprint = Footprint(chip, pins);
    if (PinsFit(chip, pins) && (answers & footprint) == footprint) {
      pairs = pairs || (chip.block_bits == 0 && pins % 2 == 1 && (found >> (pins - 1) & 1) != 0);
      four_apart =
          four_apart || (chip.block_bits == 0 && pins >= 4 && (found >> (pins - 4) & 1) != 0);
      fits.push_back(pins);
      answers &= ~footprint;
    }
  }
  if (!fits.empty()) {
    lines.push_back((fits.size() == 1 ? "a chip answers" : "chips answer") +
                    std::string(" at address pins ") + Choices(fits, "", " and ") + ": try " +
                    Choices(fits, "/ADDR:", " or ") +
                    (pairs        ? SeveralAddresses(false)
                     : four_apart ? SeveralAddresses(true)
                                  : ""));
  }
  TellOthers(answers, lines);
  return lines;
}

}  // namespace

void OpenChip() {
  chip_addresses = ChipAddresses();
  chip_block_bytes = BlockBytes();
  chip_probe_address_bytes = current_chip->address_bytes;
  if (OpenBus()) {
    return;
  }
  ReportChipMissing(WhatAnswers(false));
}

std::vector<std::string> WhatElseAnswers() {
  return WhatAnswers(true);
}
