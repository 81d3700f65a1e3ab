// SPDX-License-Identifier: MIT
#include "eeprom/chip_check.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "app/errors.h"
#include "bus/transfer.h"
#include "eeprom/chip_search.h"
#include "eeprom/chips.h"
#include "eeprom/readers.h"
#include "eeprom/transactions.h"
#include "platform/platform.h"

namespace {

// The bytes read at each place looked at, and one fewer at the next
// address: enough that a chip of other contents shows, short enough that
// the whole check costs a small part of a read of the chip.
constexpr std::uint32_t kRun = 16;
// The places, spread evenly over the chip from address 0: a chip that holds
// one value at a place (erased, or filled) tells nothing there. Each starts
// at least kRun bytes before the chip's end and inside one 256 bytes of
// word address.
constexpr std::uint32_t kPlaces = 8;

// What the reads at a place and at the next address found.
enum class Finding {
  kAsNamed,        // the second read the first moved on by one byte, not all one value
  kNothingToTell,  // the same, all one value
  kSameRunTwice,   // the same bytes at both: the last address byte ignored
  kElsewhere,      // the second read from somewhere else
  kNeverSame,      // one address read otherwise from one read to the next
  kRefused,        // a read failed
};

struct Look {
  Finding finding = Finding::kNothingToTell;
  bool unsettled = false;  // see LookAt
  std::uint32_t unsettled_place = 0;
  std::uint32_t place = 0;
  std::vector<std::uint8_t> start;  // what address 0 holds, where two reads agreed on it
};

bool OneValue(std::span<const std::uint8_t> bytes) {
  return std::adjacent_find(bytes.begin(), bytes.end(), std::not_equal_to<>()) == bytes.end();
}

// Why the named chip can never fail this, whatever it holds: a chip that
// takes its word address as the current chip does starts a read at place
// where the read asks, and its sequential read runs on through its memory,
// so what it gives at place + 1 is what it gave at place from the second
// byte on, byte for byte, for any contents (it wraps at its end alike for
// both reads, and the places keep clear of that anyway). Each read is taken
// once two reads agree, so a bit turned on the way cannot make the two
// differ, and two reads of place that agreed agree with each other.
// Contents of one value make the two equal as well as shifted, and tell
// nothing; a refusal is the job's to report. Only a chip that takes the
// address otherwise gives another result.
//
// unsettled: the read of place and its second look both needed more than
// two reads, which a sound connection to the named chip never shows (a
// finding to explain a failed verify with, never a refusal).
Finding LookAt(std::uint32_t place, std::vector<std::uint8_t>& at, bool& unsettled) {
  at.assign(kRun, 0);
  std::vector<std::uint8_t> next(kRun - 1);
  bool reread = false;
  UnitRead read = ReadBytesAgreed(place, at, reread);
  // Reads of one address that differed may be a connection's transients or
  // a chip that reads on from wherever its last access left it, until two
  // happen to land on the same bytes. Read it once more from the start: the
  // named chip gives again what it holds, the other one other bytes.
  if (read == UnitRead::kAgreed && reread) {
    std::vector<std::uint8_t> again(kRun);
    read = ReadBytesAgreed(place, again, reread);
    unsettled = unsettled || reread;
    if (read == UnitRead::kAgreed && again != at) {
      read = UnitRead::kNeverAgreed;
    }
  }
  if (read == UnitRead::kAgreed) {
    read = ReadBytesAgreed(place + 1, next, reread);
  }
  if (read != UnitRead::kAgreed) {
    return read == UnitRead::kFailed ? Finding::kRefused : Finding::kNeverSame;
  }
  if (std::equal(next.begin(), next.end(), at.begin() + 1)) {
    return OneValue(at) ? Finding::kNothingToTell : Finding::kAsNamed;
  }
  return std::equal(next.begin(), next.end(), at.begin()) ? Finding::kSameRunTwice
                                                          : Finding::kElsewhere;
}

// Looks at the places in turn until one tells something.
Look LookAtPlaces() {
  Look look;
  for (std::uint32_t index = 0; index < kPlaces; ++index) {
    look.place = current_chip->size / kPlaces * index;
    std::vector<std::uint8_t> at;
    const bool settled = !look.unsettled;
    look.finding = LookAt(look.place, at, look.unsettled);
    if (settled && look.unsettled) {
      look.unsettled_place = look.place;
    }
    if (index == 0 && look.finding != Finding::kRefused && look.finding != Finding::kNeverSame) {
      look.start = at;
    }
    if (look.finding != Finding::kNothingToTell) {
      break;
    }
  }
  TellRereads();
  return look;
}

bool Refuses(Finding finding) {
  return finding == Finding::kSameRunTwice || finding == Finding::kElsewhere ||
         finding == Finding::kNeverSame;
}

std::string Name() {
  return std::string(current_chip->name);
}

std::string Count(int count) {
  return count == 1 ? "one" : "two";
}

std::string AddressBytes(int count) {
  return Count(count) + (count == 1 ? " address byte" : " address bytes");
}

// The chip of the family nearest the current one among those that take
// count address bytes: "a 24C16 or smaller", "a 24C32 or larger"; empty
// where none does.
std::string Nearest(int count) {
  const bool fewer = count < current_chip->address_bytes;
  const Chip* nearest = nullptr;
  for (const Chip& chip : Chips()) {
    if (!chip.app_page && chip.address_bytes == count &&
        (nearest == nullptr || (fewer ? chip.size > nearest->size : chip.size < nearest->size))) {
      nearest = &chip;
    }
  }
  return nearest == nullptr
             ? ""
             : "a " + std::string(nearest->name) + (fewer ? " or smaller" : " or larger");
}

// What the chip does, as the lines on standard error say it, ending with
// what to do and then tail.
void SayWhatItDoes(const Look& look, const std::string& lead, const std::string& tail) {
  const int bytes = current_chip->address_bytes;
  const std::string at = std::to_string(look.place);
  const std::string next = std::to_string(look.place + 1);
  std::string does;
  std::string may_be;
  if (look.finding == Finding::kSameRunTwice) {
    does = "it reads the same bytes at addresses " + at + " and " + next + ", so it ignores the " +
           (bytes == 2 ? "second address byte" : "address byte");
    may_be = Nearest(bytes - 1);
    if (!may_be.empty()) {
      may_be = "it takes " + AddressBytes(bytes - 1) + " (" + may_be + "), not " + Count(bytes) +
               " as a " + Name() + " does: ";
    }
  } else {
    does = look.finding == Finding::kNeverSame
               ? "it reads other bytes at address " + at + " from one read to the next"
               : "what it reads at address " + next + " is not what it reads at " + at +
                     " moved on by one byte";
    may_be = Nearest(bytes + 1);
    if (!may_be.empty()) {
      may_be =
          "it may take " + AddressBytes(bytes + 1) + " (" + may_be + "), not " + Count(bytes) +
          " as a " + Name() +
          " does, and read the one it is given as the high byte of its address" +
          (look.finding == Finding::kNeverSame ? " (or the connection to it is unreliable)" : "") +
          ": ";
    }
  }
  Diagnostic(lead + "the chip does not take its word address as a " + Name() + " does: " + does);
  Diagnostic(may_be + "give /CHIP: the name printed on it; " + tail);
}

// The part of other that the current chip's addressing reaches, its block
// bits beyond the current chip's never being sent: what such a chip read
// under the current name repeats in.
std::uint32_t Reach(const Chip& other) {
  return other.size >> std::max(0, other.block_bits - current_chip->block_bits);
}

// The chips of the family that read so under the current name.
bool RepeatsAs(const Chip& other, std::uint32_t period) {
  return !other.app_page && other.address_bytes == current_chip->address_bytes &&
         Reach(other) == period;
}

// The smallest period of the family in which image repeats; 0 for none.
std::uint32_t RepeatPeriod(const EepromImage& image) {
  std::uint32_t smallest = 0;
  if (OneValue(image)) {
    return smallest;
  }
  for (const Chip& other : Chips()) {
    const std::uint32_t period = Reach(other);
    if (RepeatsAs(other, period) && period < image.size() && image.size() % period == 0 &&
        (smallest == 0 || period < smallest) &&
        std::equal(image.begin() + period, image.end(), image.begin())) {
      smallest = period;
    }
  }
  return smallest;
}

void SayRepeats(std::uint32_t period) {
  std::string chips;
  for (const Chip& other : Chips()) {
    if (RepeatsAs(other, period)) {
      chips += (chips.empty() ? "a " : " or a ") + std::string(other.name);
    }
  }
  Diagnostic("the contents repeat every " + std::to_string(period) + " bytes, so the chip may be " +
             chips + " named as a " + Name() +
             ", which reads as its contents again and again: give /CHIP: the name printed on it");
}

// Whether the current chip's addresses reach past its end into a larger
// chip's of the family with as many address bytes: by the word address (the
// 24C01's seven bits of eight, a 24C64's 13 of 16), or by the block bit
// above its own where no pin /ADDR: sets is in its place. At that address
// the named chip wraps to address 0. Only an address of the family's,
// 0x50 to 0x57, is ever read: what answers elsewhere is no EEPROM.
bool ReachesPast() {
  const Chip& chip = *current_chip;
  const bool larger = std::any_of(Chips().begin(), Chips().end(), [&chip](const Chip& other) {
    return !other.app_page && other.address_bytes == chip.address_bytes && other.size > chip.size;
  });
  const std::uint32_t word_addresses = 1u << (8 * chip.address_bytes);
  const std::uint32_t block = chip.size / word_addresses;
  const int address = ControlByteFor(chip.size) >> 1;
  return larger && address >= 0x50 && address <= 0x57 &&
         (chip.size < word_addresses || (block < 8 && (chip_pins & block) == 0));
}

// A chip of the named size reads at its size what it reads at 0; one that
// reads other bytes there (neither all one value) holds more.
void TellWhetherLarger(const std::vector<std::uint8_t>& start, bool writing) {
  if (OneValue(start) || !ReachesPast()) {
    return;
  }
  const std::uint32_t size = current_chip->size;
  std::vector<std::uint8_t> past(start.size());
  bool reread = false;
  if (ReadBytesAgreed(size, past, reread) != UnitRead::kAgreed || OneValue(past) || past == start) {
    TellRereads();
    return;
  }
  TellRereads();
  const bool other_address = ControlByteFor(size) != ControlByteFor(0);
  Diagnostic("the chip reads other bytes at address " + std::to_string(size) +
             " than at address 0, where a " + Name() + " would read the same: it holds more than " +
             std::to_string(size) + " bytes" +
             (other_address ? " (or another chip answers at control byte " +
                                  std::to_string(ControlByteFor(size)) + ")"
                            : "") +
             ", and " + (writing ? "the write covers" : "the file holds") + " its first " +
             std::to_string(size) + " bytes only: give /CHIP: the name printed on it");
}

// What address 0 held when the check looked, before the job.
std::vector<std::uint8_t> start_before;

}  // namespace

void CheckChip(bool writing) {
  if (current_chip->app_page) {
    return;
  }
  const Look look = LookAtPlaces();
  if (Refuses(look.finding)) {
    SayWhatItDoes(look, "", writing ? "nothing was written" : "no file was made");
    for (const std::string& line : WhatElseAnswers()) {
      Diagnostic(line);
    }
    CloseBus();
    ReportError(ErrorCode::NoEeprom, true);
  }
  start_before = look.start;
  TellWhetherLarger(look.start, writing);
}

void TellRepeats(const EepromImage& image) {
  const std::uint32_t period = RepeatPeriod(image);
  if (!current_chip->app_page && period != 0) {
    SayRepeats(period);
  }
}

void ExplainFailedVerify(const EepromImage& found) {
  if (current_chip->app_page || found.empty()) {
    return;
  }
  const std::uint32_t period = RepeatPeriod(found);
  if (period != 0) {
    SayRepeats(period);
  }
  Look look = LookAtPlaces();
  if (look.unsettled && !Refuses(look.finding)) {
    look.finding = Finding::kNeverSame;
    look.place = look.unsettled_place;
  }
  if (Refuses(look.finding)) {
    SayWhatItDoes(look, "now that it holds the write, ",
                  "the check before the write could not tell (an erased chip reads the same "
                  "anywhere), and the write went to other places in it");
  }
  // A chip whose start changed under the write did not keep its old
  // contents, whatever the differences look like: a smaller chip kept the
  // last of the copies written over each other, one that takes the address
  // otherwise put the dump elsewhere.
  const bool changed =
      start_before.size() == kRun &&
      !std::equal(start_before.begin(), start_before.end(), found.begin(), found.begin() + kRun);
  if (Refuses(look.finding) || (period != 0 && changed)) {
    verify_saw_old_contents = false;
  }
}
