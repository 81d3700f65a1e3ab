// SPDX-License-Identifier: MIT
#include "eeprom/writers.h"

#include <algorithm>
#include <span>
#include <string>

#include "bus/transfer.h"
#include "eeprom/chips.h"
#include "eeprom/transactions.h"
#include "platform/platform.h"
#include "timing/delay.h"

bool ignore_errors = false;
bool ack_polling = false;
int failed_writes = 0;

namespace {

// In byte mode one mark stands for 128 bytes (or 1/64 of a chip of more
// than 8 KiB): it is printed when the last byte of its stretch is written.
constexpr std::uint32_t kBytesPerMark = 128;

constexpr std::uint32_t kMarksInAChip = 64;

// Marks are flushed one by one, so that progress shows during the write.
void PrintMark() {
  ConsoleWrite(">");
}

std::string Location() {
  return std::to_string(last_control_byte) + ":" + std::to_string(last_word_address);
}

int LastInImage(const EepromImage& image, int last) {
  return std::min(last, static_cast<int>(image.size()) - 1);
}

// After every write transaction, failed or not, the chip may be in its
// internal write cycle, during which it answers nothing. The fixed wait
// covers the slowest chip's cycle. With acknowledge polling the chip itself
// tells when it is done: it acknowledges its address again. The polls stop at
// the first acknowledge, or once the fixed wait would have ended, counted
// from the same moment; the message queue gets its turn between polls.
void WaitWriteCycle() {
  if (!ack_polling) {
    SettleWait();
    return;
  }
  const std::uint32_t noted = SettleStart();
  do {
    PumpMessages();
  } while (!SettleOver(noted) && !PollChip());
}

// From here until the job ends, an interruption says how many of its units
// were written and what that leaves in the chip.
void SayProgressWhenInterrupted(int total, const char* units, const char* leaves) {
  SayWhenInterrupted("interrupted with ", " of " + std::to_string(total) + " " + units +
                                              " written: " + leaves +
                                              "; run the same command again");
}

constexpr const char* kPartOfDump = "the chip now holds part of the new dump";

}  // namespace

bool MarkDue(std::uint32_t done, std::uint32_t unit) {
  return done % std::max(unit, current_chip->size / kMarksInAChip) == 0;
}

bool WriteImagePaged(const EepromImage& image, int last) {
  last = LastInImage(image, last);
  const std::uint16_t page_size = current_chip->page;
  position = 0;
  bool ok = true;
  int written = 0;
  SayProgressWhenInterrupted((last + page_size) / page_size, "pages", kPartOfDump);
  while (static_cast<int>(position) < last + 1 && ok) {
    const std::uint32_t start = position;
    position += page_size;
    if (WritePage(start, page_size, std::span(image).subspan(start, page_size))) {
      CountForInterruption(++written);
      if (MarkDue(position, page_size)) {
        PrintMark();
      }
    } else {
      ConsoleLine("error at " + Location());
      ++failed_writes;
      ok = ignore_errors;
    }
    WaitWriteCycle();
  }
  SayNothingWhenInterrupted();
  ConsoleLine("");
  return ok;
}

bool WriteImageBytewise(const EepromImage& image, int last) {
  last = LastInImage(image, last);
  position = 0;
  bool ok = true;
  int written = 0;
  SayProgressWhenInterrupted(last + 1, "bytes", kPartOfDump);
  while (static_cast<int>(position) < last + 1 && ok) {
    if (WriteEepromByte(position, image[position])) {
      CountForInterruption(++written);
      if (MarkDue(position + 1, kBytesPerMark)) {
        PrintMark();
      }
    } else {
      ConsoleLine("error at " + std::to_string(position) + " " + Location());
      ++failed_writes;
      ok = ignore_errors;
    }
    WaitWriteCycle();
    ++position;
  }
  SayNothingWhenInterrupted();
  ConsoleLine("");
  return ok;
}

bool ResetApp() {
  int written = 0;
  SayProgressWhenInterrupted(kAppRegisters, "APP registers",
                             "the chip's APP registers are now partly reset");
  for (position = 0; static_cast<int>(position) < kAppRegisters; ++position) {
    if (WriteAppRegister(static_cast<std::uint8_t>(position), kAppResetValue)) {
      CountForInterruption(++written);
    } else {
      ConsoleLine("error at " + std::to_string(position) + " " + Location());
      ++failed_writes;
    }
    WaitWriteCycle();
  }
  SayNothingWhenInterrupted();
  return true;
}
