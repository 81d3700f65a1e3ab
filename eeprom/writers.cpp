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
void PrintMarks(int count) {
  for (int mark = 0; mark < count; ++mark) {
    ConsoleWrite(">");
  }
}

int Selected(const UnitSelection& only) {
  return static_cast<int>(std::count(only.begin(), only.end(), true));
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

int MarksOfWholeJob(std::uint32_t unit) {
  return static_cast<int>(current_chip->size / std::max(unit, current_chip->size / kMarksInAChip));
}

int SpreadMarks(int done, int total, int most) {
  if (total <= most) {
    return 1;
  }
  const auto reached = [total, most](int units) {
    return static_cast<int>(static_cast<std::int64_t>(units) * most / total);
  };
  return reached(done) - reached(done - 1);
}

UnitSelection DifferingUnits(const EepromImage& image, const EepromImage& found,
                             std::uint32_t unit) {
  UnitSelection differing(image.size() / unit);
  for (std::size_t address = 0; address < image.size(); ++address) {
    if (image[address] != found[address]) {
      differing[address / unit] = true;
    }
  }
  return differing;
}

bool WriteImagePaged(const EepromImage& image, int last, const UnitSelection& only) {
  last = LastInImage(image, last);
  const std::uint16_t page_size = current_chip->page;
  const int pages = (last + page_size) / page_size;
  const int selected = only.empty() ? pages : Selected(only);
  position = 0;
  bool ok = true;
  int written = 0;
  int attempted = 0;
  SayProgressWhenInterrupted(selected, "pages", kPartOfDump);
  while (static_cast<int>(position) < last + 1 && ok) {
    const std::uint32_t start = position;
    position += page_size;
    if (!only.empty() && !only[start / page_size]) {
      continue;
    }
    const int marks = only.empty() ? (MarkDue(position, page_size) ? 1 : 0)
                                   : SpreadMarks(++attempted, selected, MarksOfWholeJob(page_size));
    if (WritePage(start, page_size, std::span(image).subspan(start, page_size))) {
      CountForInterruption(++written);
      PrintMarks(marks);
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

bool WriteImageBytewise(const EepromImage& image, int last, const UnitSelection& only) {
  last = LastInImage(image, last);
  const int selected = only.empty() ? last + 1 : Selected(only);
  position = 0;
  bool ok = true;
  int written = 0;
  int attempted = 0;
  SayProgressWhenInterrupted(selected, "bytes", kPartOfDump);
  for (; static_cast<int>(position) < last + 1 && ok; ++position) {
    if (!only.empty() && !only[position]) {
      continue;
    }
    const int marks = only.empty()
                          ? (MarkDue(position + 1, kBytesPerMark) ? 1 : 0)
                          : SpreadMarks(++attempted, selected, MarksOfWholeJob(kBytesPerMark));
    if (WriteEepromByte(position, image[position])) {
      CountForInterruption(++written);
      PrintMarks(marks);
    } else {
      ConsoleLine("error at " + std::to_string(position) + " " + Location());
      ++failed_writes;
      ok = ignore_errors;
    }
    WaitWriteCycle();
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
