// SPDX-License-Identifier: MIT
#include "eeprom/readers.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "bus/transfer.h"
#include "eeprom/transactions.h"
#include "eeprom/writers.h"
#include "platform/platform.h"

namespace {

// One random read per block: its control byte names the block.
constexpr std::size_t kBlockSize = 256;
constexpr std::size_t kBytesPerMark = 128;
// Differences are listed per page, the unit the page writer writes in.
constexpr std::size_t kPageSize = 16;

std::string Location() {
  return std::to_string(last_control_byte) + ":" + std::to_string(last_word_address);
}

void PrintDifferingBytes(int count) {
  if (count > 0) {
    ConsoleLine("Differing bytes: " + std::to_string(count));
  }
}

// Lists every page where found differs from expected, then the number of
// differing bytes; returns that number.
int ListDifferences(const EepromImage& expected, const EepromImage& found) {
  int differing = 0;
  for (std::size_t page = 0; page < expected.size(); page += kPageSize) {
    int in_page = 0;
    for (std::size_t address = page; address < page + kPageSize; ++address) {
      in_page += expected[address] != found[address] ? 1 : 0;
    }
    if (in_page > 0) {
      const auto start = static_cast<std::uint16_t>(page);
      ConsoleLine("mismatch at " + std::to_string(ControlByteFor(start)) + ":" +
                  std::to_string(start & 0xFF));
    }
    differing += in_page;
  }
  PrintDifferingBytes(differing);
  return differing;
}

}  // namespace

bool ReadImage(EepromImage& image) {
  bool ok = true;
  for (std::size_t start = 0; start < image.size() && ok; start += kBlockSize) {
    ok = ReadEepromBytes(static_cast<std::uint16_t>(start),
                         std::span(image).subspan(start, kBlockSize));
    if (ok) {
      // Marks are flushed one by one, as the writers' are.
      for (std::size_t mark = 0; mark < kBlockSize / kBytesPerMark; ++mark) {
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
  EepromImage found{};
  return ReadImage(found) && ListDifferences(image, found) == 0;
}

bool VerifyApp() {
  std::array<std::uint8_t, kAppRegisters> registers{};
  if (!ReadAppRegisters(registers)) {
    ConsoleLine("error at " + Location());
    return false;
  }
  int differing = 0;
  for (std::size_t index = 0; index < registers.size(); ++index) {
    if (registers[index] != kAppResetValue) {
      ConsoleLine("mismatch at " + std::to_string(index) + " " + std::to_string(last_control_byte) +
                  ":" + std::to_string(index));
      ++differing;
    }
  }
  PrintDifferingBytes(differing);
  return differing == 0;
}
