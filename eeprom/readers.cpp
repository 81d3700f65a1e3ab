// SPDX-License-Identifier: MIT
#include "eeprom/readers.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "bus/transfer.h"
#include "eeprom/chips.h"
#include "eeprom/transactions.h"
#include "eeprom/writers.h"
#include "platform/platform.h"

bool verify_saw_old_contents = false;

namespace {

// Registers 0 to 7 guard the blocks, 8 the APP page itself.
constexpr std::size_t kBlockRegisters = 8;
constexpr std::uint8_t kBlockRegisterMask = 0xB3;
constexpr std::uint8_t kRegister8Mask = 0x83;

// What a chip that stored nothing looks like, as against a weak cell. A weak
// cell gets one byte of one page wrong. A chip whose write protection kept
// its old contents differs from a new image in many bytes of every page the
// image changes. So the differences count as old contents when at least two
// units (pages, or APP registers) differ and, for data, each differing page
// in at least two bytes: one weak cell, or a few in different pages, never
// look so. A new image that changes single bytes of the old one cannot be
// told from weak cells, and gets no such finding.
constexpr int kUnitsOfOldContents = 2;
constexpr int kBytesOfOldContentsInAPage = 2;

std::string Location() {
  return std::to_string(last_control_byte) + ":" + std::to_string(last_word_address);
}

void PrintDifferingBytes(int count) {
  if (count > 0) {
    ConsoleLine("Differing bytes: " + std::to_string(count));
  }
}

// Lists every page where found differs from expected, then the number of
// differing bytes; returns that number. Differences are listed per page of
// the chip, the unit the page writer writes in.
int ListDifferences(const EepromImage& expected, const EepromImage& found) {
  const std::size_t page_size = current_chip->page;
  int differing = 0;
  int pages = 0;
  bool every_page_many = true;
  for (std::size_t page = 0; page < expected.size(); page += page_size) {
    int in_page = 0;
    for (std::size_t address = page; address < page + page_size; ++address) {
      in_page += expected[address] != found[address] ? 1 : 0;
    }
    if (in_page > 0) {
      const auto start = static_cast<std::uint32_t>(page);
      ConsoleLine("mismatch at " + std::to_string(ControlByteFor(start)) + ":" +
                  std::to_string(WordAddressFor(start)));
      ++pages;
      every_page_many = every_page_many && in_page >= kBytesOfOldContentsInAPage;
    }
    differing += in_page;
  }
  verify_saw_old_contents = pages >= kUnitsOfOldContents && every_page_many;
  PrintDifferingBytes(differing);
  return differing;
}

}  // namespace

// A block the chip may not give refuses its word address, so every read
// that ends at a block's end gets that block's bytes or fails: none is ever
// filled with what a wrapped or refused read brings back.
bool ReadImage(EepromImage& image) {
  bool ok = true;
  for (std::size_t start = 0; start < image.size() && ok; start += kBlockSize) {
    ok = ReadEepromBytes(static_cast<std::uint32_t>(start),
                         std::span(image).subspan(start, kBlockSize));
    if (ok) {
      // Marks are flushed one by one, as the writers' are.
      if (MarkDue(static_cast<std::uint32_t>(start + kBlockSize), kBlockSize)) {
        ConsoleWrite(">");
      }
    } else {
      ConsoleLine("error at " + Location());
    }
  }
  ConsoleLine("");
  return ok;
}

bool VerifyImage(const EepromImage& image) {
  EepromImage found(image.size());
  return ReadImage(found) && ListDifferences(image, found) == 0;
}

std::uint8_t AppVerifyMask(std::size_t index) {
  if (index < kBlockRegisters) {
    return kBlockRegisterMask;
  }
  return index == kBlockRegisters ? kRegister8Mask : 0xFF;
}

bool VerifyApp() {
  std::array<std::uint8_t, kAppRegisters> registers{};
  for (std::size_t index = 0; index < registers.size(); ++index) {
    if (!ReadAppRegister(static_cast<std::uint8_t>(index), registers[index])) {
      ConsoleLine("error at " + Location());
      return false;
    }
  }
  int differing = 0;
  for (std::size_t index = 0; index < registers.size(); ++index) {
    const std::uint8_t mask = AppVerifyMask(index);
    if ((registers[index] & mask) != (kAppResetValue & mask)) {
      ConsoleLine("mismatch at " + std::to_string(index) + " " + std::to_string(last_control_byte) +
                  ":" + std::to_string(index));
      ++differing;
    }
  }
  verify_saw_old_contents = differing >= kUnitsOfOldContents;
  PrintDifferingBytes(differing);
  return differing == 0;
}
