// SPDX-License-Identifier: MIT
#include "eeprom/readers.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "bus/bus_speed.h"
#include "bus/transfer.h"
#include "eeprom/chips.h"
#include "eeprom/transactions.h"
#include "eeprom/writers.h"
#include "platform/platform.h"

bool verify_saw_old_contents = false;

namespace {

// Registers 0 to 7 guard the blocks, 8 the APP page itself; 10 holds the
// coil and tamper status.
constexpr std::size_t kBlockRegisters = 8;
constexpr std::size_t kStatusRegister = 10;
constexpr std::uint8_t kBlockRegisterMask = 0xB3;
constexpr std::uint8_t kRegister8Mask = 0x83;
constexpr std::uint8_t kStatusRegisterMask = 0xC1;

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

// The units of the job under way that needed more than two reads, each with
// the reads that did not count, for TellRereads.
std::vector<std::pair<std::string, int>> rereads;

std::string Location() {
  return std::to_string(last_control_byte) + ":" + std::to_string(last_word_address);
}

void PrintDifferingBytes(int count) {
  if (count > 0) {
    ConsoleLine("Differing bytes: " + std::to_string(count));
  }
}

// What the messages call a unit of the data memory: "block 2 (addresses
// 256 to 383)", as the APP listing names the 24RF08's blocks, or "addresses
// 1024 to 2047" on a chip without them.
std::string UnitName(std::size_t start, std::size_t length) {
  const std::string addresses =
      "addresses " + std::to_string(start) + " to " + std::to_string(start + length - 1);
  if (!current_chip->app_page) {
    return addresses;
  }
  return "block " + std::to_string(start / kBlockSize) + " (" + addresses + ")";
}

// The bytes one read transaction covers. The 24RF08's sequential read wraps
// inside its 128-byte block, so its reads keep to the blocks. A plain chip's
// runs on through the whole chip, so the carrier chooses what it carries
// best.
std::size_t ReadUnit(std::size_t size) {
  if (current_chip->read_unit != 0) {
    return current_chip->read_unit;
  }
  return std::min(size, BestReadLength());
}

std::string RegisterName(std::size_t index) {
  return "APP register " + std::to_string(index);
}

std::string Times(int count) {
  if (count == 1) {
    return "once";
  }
  return count == 2 ? "twice" : std::to_string(count) + " times";
}

// A bus clocked faster than the 24RF08's speed leaves a slow circuit, a
// long cable or a poor clip less time to settle: the line saying which
// slower clock to try, where it ran so; once a run is enough.
bool clock_advised = false;

void AdviseSlowerClock() {
  const std::string advice = SlowerClockAdvice();
  if (!advice.empty() && !clock_advised) {
    clock_advised = true;
    Diagnostic(advice);
  }
}

// A unit that never read the same twice: the chip may well be sound, the
// way to it is not.
void SayConnectionUnreliable(const std::string& unit) {
  Diagnostic(unit + " never read the same twice in " + std::to_string(kMostReads) +
             " reads: the connection to the chip is unreliable");
  Diagnostic(
      "check that the clip sits on every pin, that the wires are short and that SDA and SCL have "
      "their pull-ups; with a USB-serial adapter, try another adapter or a port without lag");
  AdviseSlowerClock();
}

bool Agree(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b, std::uint8_t mask) {
  return std::equal(a.begin(), a.end(), b.begin(),
                    [mask](std::uint8_t x, std::uint8_t y) { return ((x ^ y) & mask) == 0; });
}

// Reads a unit with read (one transaction into the bytes it is given, false
// when it failed) until two reads agree in the bits of mask, and leaves the
// latest of them in unit. Where expected is given (a verify), a first read
// that agrees with it stands alone: a sound chip is read as often as it
// always was, and only a unit that seems to differ costs more reads. A failed
// transaction ends the unit at once, as it always has. Units that took more
// than two reads are noted for TellRereads under name. A first read made
// already (first) counts as the unit's first.
template <typename Read>
UnitRead ReadUntilAgreed(std::span<std::uint8_t> unit, std::uint8_t mask,
                         const std::uint8_t* expected, const std::string& name, Read read,
                         std::span<const std::uint8_t> first = {}) {
  std::vector<std::vector<std::uint8_t>> earlier;
  if (!first.empty()) {
    earlier.emplace_back(first.begin(), first.end());
  }
  for (int reads = static_cast<int>(earlier.size()) + 1; reads <= kMostReads; ++reads) {
    std::vector<std::uint8_t> bytes(unit.size());
    if (!read(std::span(bytes))) {
      return UnitRead::kFailed;
    }
    const bool agreed =
        (reads == 1 && expected != nullptr &&
         Agree(bytes, std::span(expected, unit.size()), mask)) ||
        std::any_of(earlier.begin(), earlier.end(), [&](const std::vector<std::uint8_t>& before) {
          return Agree(bytes, before, mask);
        });
    if (agreed) {
      std::copy(bytes.begin(), bytes.end(), unit.begin());
      if (reads > 2) {
        rereads.emplace_back(name, reads - 2);
      }
      return UnitRead::kAgreed;
    }
    earlier.push_back(std::move(bytes));
  }
  return UnitRead::kNeverAgreed;
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

// One random read from start into bytes.
auto ReadAt(std::size_t start) {
  return [start](std::span<std::uint8_t> bytes) {
    return ReadEepromBytes(static_cast<std::uint32_t>(start), bytes);
  };
}

// Reads the length bytes at start into image as ReadBlocks does, naming in
// unreliable a part that never read the same twice. With by_page (an
// update, which writes what differs a page at a time), a part whose first
// read differs from expected is not read again whole: only its pages that
// differ are, each until a read agrees with that first one or another.
UnitRead ReadPart(EepromImage& image, const EepromImage* expected, std::size_t start,
                  std::size_t length, bool by_page, std::string& unreliable) {
  const std::span<std::uint8_t> part = std::span(image).subspan(start, length);
  if (!by_page || expected == nullptr) {
    const UnitRead result =
        ReadUntilAgreed(part, 0xFF, expected != nullptr ? expected->data() + start : nullptr,
                        UnitName(start, length), ReadAt(start));
    if (result == UnitRead::kNeverAgreed) {
      unreliable = UnitName(start, length);
    }
    return result;
  }
  std::vector<std::uint8_t> first(length);
  if (!ReadAt(start)(std::span(first))) {
    return UnitRead::kFailed;
  }
  std::copy(first.begin(), first.end(), part.begin());
  const std::size_t page_size = current_chip->page;
  for (std::size_t page = 0; page < length; page += page_size) {
    const std::span<std::uint8_t> bytes = part.subspan(page, page_size);
    if (Agree(bytes, std::span(*expected).subspan(start + page, page_size), 0xFF)) {
      continue;
    }
    const UnitRead result =
        ReadUntilAgreed(bytes, 0xFF, nullptr, UnitName(start + page, page_size),
                        ReadAt(start + page), std::span(first).subspan(page, page_size));
    if (result != UnitRead::kAgreed) {
      if (result == UnitRead::kNeverAgreed) {
        unreliable = UnitName(start + page, page_size);
      }
      return result;
    }
  }
  return UnitRead::kAgreed;
}

// The whole chip into image, block by block, each until two reads agree or,
// given expected, on one read that shows it. A block the chip may not give
// refuses its word address, so every read that ends at a block's end gets
// that block's bytes or fails: none is ever filled with what a wrapped or
// refused read brings back. Given pages, only the chip's pages it selects
// are read, a page a read, with a mark for each or as many as the page
// writer's whole line spread over them; the rest of image is left as it is.
bool ReadBlocks(EepromImage& image, const EepromImage* expected, const UnitSelection& pages = {},
                bool by_page = false) {
  const std::size_t unit = pages.empty() ? ReadUnit(image.size()) : current_chip->page;
  const int selected = static_cast<int>(std::count(pages.begin(), pages.end(), true));
  int pages_read = 0;
  std::string unreliable;
  bool ok = true;
  for (std::size_t start = 0; start < image.size() && ok; start += unit) {
    if (!pages.empty() && !pages[start / unit]) {
      continue;
    }
    const UnitRead result = ReadPart(image, expected, start, unit, by_page, unreliable);
    ok = result == UnitRead::kAgreed;
    if (ok && !pages.empty()) {
      const int marks = SpreadMarks(++pages_read, selected, MarksOfWholeJob(current_chip->page));
      ConsoleWrite(std::string(static_cast<std::size_t>(marks), '>'));
    } else if (ok) {
      // A mark for each 128 bytes (at most 64 in a read), whatever the unit,
      // flushed one by one as the writers' are.
      for (std::size_t done = start + kBlockSize; done <= start + unit; done += kBlockSize) {
        if (MarkDue(static_cast<std::uint32_t>(done), kBlockSize)) {
          ConsoleWrite(">");
        }
      }
    } else {
      ConsoleLine("error at " + Location());
    }
  }
  ConsoleLine("");
  TellRereads();
  if (!unreliable.empty()) {
    SayConnectionUnreliable(unreliable);
  }
  return ok;
}

}  // namespace

bool ReadImage(EepromImage& image) {
  return ReadBlocks(image, nullptr);
}

bool ReadImageExpecting(const EepromImage& expected, EepromImage& found) {
  found.assign(expected.size(), 0);
  return ReadBlocks(found, &expected, {}, true);
}

int CompareImage(const EepromImage& image, const UnitSelection& pages, EepromImage* found) {
  // Pages left out are taken to hold the image.
  EepromImage read_back = image;
  if (!ReadBlocks(read_back, &image, pages)) {
    return -1;
  }
  const int differing = ListDifferences(image, read_back);
  if (found != nullptr && pages.empty()) {
    *found = std::move(read_back);
  }
  return differing;
}

bool VerifyImage(const EepromImage& image, EepromImage* found, const UnitSelection& pages) {
  return CompareImage(image, pages, found) == 0;
}

UnitRead ReadBytesAgreed(std::uint32_t start, std::span<std::uint8_t> bytes, bool& reread) {
  const std::size_t noted = rereads.size();
  const UnitRead result = ReadUntilAgreed(
      bytes, 0xFF, nullptr, UnitName(start, bytes.size()),
      [start](std::span<std::uint8_t> read) { return ReadEepromBytes(start, read); });
  reread = rereads.size() > noted;
  return result;
}

void TellRereads() {
  for (const auto& [name, extra] : rereads) {
    Diagnostic(name + " read differently " + Times(extra) +
               ": the connection to the chip may be unreliable");
  }
  if (!rereads.empty()) {
    AdviseSlowerClock();
  }
  rereads.clear();
}

std::uint8_t AppVerifyMask(std::size_t index) {
  if (index < kBlockRegisters) {
    return kBlockRegisterMask;
  }
  if (index == kBlockRegisters) {
    return kRegister8Mask;
  }
  return index == kStatusRegister ? kStatusRegisterMask : 0xFF;
}

bool ReadAppRegisterAgreed(std::uint8_t index, std::uint8_t& value, bool& failed) {
  std::uint8_t agreed = value;
  const UnitRead result = ReadUntilAgreed(
      std::span(&agreed, 1), AppVerifyMask(index), nullptr, RegisterName(index),
      [index](std::span<std::uint8_t> bytes) { return ReadAppRegister(index, bytes[0]); });
  failed = result == UnitRead::kFailed;
  if (result == UnitRead::kNeverAgreed) {
    SayConnectionUnreliable(RegisterName(index));
  }
  if (result != UnitRead::kAgreed) {
    return false;
  }
  value = agreed;
  return true;
}

int CompareApp() {
  std::array<std::uint8_t, kAppRegisters> registers{};
  for (std::size_t index = 0; index < registers.size(); ++index) {
    const auto register_index = static_cast<std::uint8_t>(index);
    const UnitRead result =
        ReadUntilAgreed(std::span(&registers[index], 1), AppVerifyMask(index), &kAppResetValue,
                        RegisterName(index), [register_index](std::span<std::uint8_t> bytes) {
                          return ReadAppRegister(register_index, bytes[0]);
                        });
    if (result != UnitRead::kAgreed) {
      ConsoleLine("error at " + Location());
      TellRereads();
      if (result == UnitRead::kNeverAgreed) {
        SayConnectionUnreliable(RegisterName(index));
      }
      return -1;
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
  TellRereads();
  return differing;
}

bool VerifyApp() {
  return CompareApp() == 0;
}
