// SPDX-License-Identifier: MIT
#include "eeprom/protection.h"

#include <array>
#include <bit>
#include <cstdint>
#include <string>

#include "eeprom/readers.h"
#include "eeprom/transactions.h"
#include "eeprom/writers.h"
#include "platform/platform.h"

namespace {

constexpr int kAppPageSize = 16;
// Registers 0 to 7 guard the blocks, 8 the APP page, 9 block 0's pages.
constexpr int kPageProtection = 8;
constexpr int kPageWriteEnables = 9;
constexpr int kAccessRegisters = 9;  // 0 to 8, each with a sticky bit
constexpr std::uint8_t kStickyBit = 0x80;
constexpr std::uint8_t kAccessField = 0x03;
constexpr std::uint8_t kMayRead = 0x02;
constexpr std::uint16_t kPageSize = 16;
constexpr int kPagesOfBlock0 = 8;

std::string Hex(std::uint8_t value) {
  static const char kDigits[] = "0123456789ABCDEF";
  return {kDigits[value >> 4], kDigits[value & 0x0F]};
}

bool FullAccess(std::uint8_t value) {
  return (value & kAccessField) == kAccessField;
}

bool ReadOnly(std::uint8_t value) {
  return (value & kAccessField) == kMayRead;
}

bool Sticky(std::uint8_t value) {
  return (value & kStickyBit) != 0;
}

std::string Access(std::uint8_t value) {
  if (FullAccess(value)) {
    return "read and write";
  }
  return ReadOnly(value) ? "read only" : "no access";
}

std::string Location(std::uint16_t address) {
  return std::to_string(ControlByteFor(address)) + ":" + std::to_string(address & 0xFF);
}

// "640 to 767" and "172:128 to 172:255", as the error lines name them.
std::string Addresses(std::uint16_t first, std::uint16_t last) {
  return std::to_string(first) + " to " + std::to_string(last);
}

std::string Locations(std::uint16_t first, std::uint16_t last) {
  return Location(first) + " to " + Location(last);
}

// "block 5 (addresses 640 to 767)", as the listing names it.
std::string Block(int block) {
  const auto first = static_cast<std::uint16_t>(block * kBlockSize);
  return "block " + std::to_string(block) + " (addresses " +
         Addresses(first, static_cast<std::uint16_t>(first + kBlockSize - 1)) + ")";
}

std::string Locked(std::uint8_t value) {
  return Sticky(value) ? "" : ", locked until the chip is powered off and on";
}

// The pages of block 0 among pages (bit n for page n) whose write enable is
// clear, with their addresses.
std::string ClosedPages(std::uint8_t enables, std::uint8_t pages) {
  std::string text;
  for (int page = 0; page < kPagesOfBlock0; ++page) {
    if ((pages >> page & 1) != 0 && (enables >> page & 1) == 0) {
      const auto first = static_cast<std::uint16_t>(page * kPageSize);
      const auto last = static_cast<std::uint16_t>(first + kPageSize - 1);
      text += (text.empty() ? "" : " and ") + Addresses(first, last) + " (" +
              Locations(first, last) + ")";
    }
  }
  return text;
}

// The first address of each page of block 0 whose write enable is clear.
std::string ClosedPageStarts(std::uint8_t enables) {
  std::string text;
  for (int page = 0; page < kPagesOfBlock0; ++page) {
    if ((enables >> page & 1) == 0) {
      text += (text.empty() ? "" : ", ") + std::to_string(page * kPageSize);
    }
  }
  return text;
}

std::string Meaning(int index, std::uint8_t value) {
  if (index < kPageProtection) {
    return Block(index) + ": " + Access(value) + Locked(value);
  }
  switch (index) {
    case kPageProtection:
      return "APP registers 9 to 15 and the ID page: " +
             (ReadOnly(value) ? "registers read only, ID page no access" : Access(value)) +
             Locked(value);
    case kPageWriteEnables:
      return value == 0xFF
                 ? "write enables of block 0's 16-byte pages: all open"
                 : "write enables of block 0's 16-byte pages: closed at " + ClosedPageStarts(value);
    case 10:
      return "coil and tamper status";
    case 14:
      return "reserved, read only";
    case 15:
      return "device revision";
    default:
      return "reserved";
  }
}

// "/P opens every block", and what must come first when the register that
// /P has to change (whose: the block's own, or register 8 for register 9) is
// locked.
std::string Opening(std::uint8_t value, const std::string& whose = "that register's") {
  return Sticky(value) ? "/P opens every block"
                       : whose +
                             " sticky bit is clear, so power the chip off and on; then /P opens "
                             "every block";
}

void ExplainBlock(int block, std::uint8_t value) {
  const auto first = static_cast<std::uint16_t>(block * kBlockSize);
  const auto last = static_cast<std::uint16_t>(first + kBlockSize - 1);
  const std::string what = "block " + std::to_string(block) + " (addresses " +
                           Addresses(first, last) + ", " + Locations(first, last) + ")";
  Diagnostic("the chip's access protection " +
             (ReadOnly(value) ? "makes " + what + " read only"
                              : "closes " + what + " to reading and writing") +
             ": APP register " + std::to_string(block) + " holds 0x" + Hex(value) + "; " +
             Opening(value));
}

// Block 0 is open, but each of its pages also needs its write enable, in
// register 9, which /P can change only while register 8 lets it.
void ExplainPagesOfBlock0(std::uint8_t pages, std::uint8_t register8) {
  std::uint8_t enables = 0;
  if (!ReadAppRegister(kPageWriteEnables, enables)) {
    Diagnostic("the chip does not show APP register 9, which enables writes to block 0's pages");
    return;
  }
  const std::string closed = ClosedPages(enables, pages);
  if (!closed.empty()) {
    const bool several = std::popcount(static_cast<std::uint8_t>(pages & ~enables)) > 1;
    Diagnostic(std::string("the chip's access protection makes block 0's page") +
               (several ? "s" : "") + " at addresses " + closed +
               " read only: APP register 9 holds 0x" + Hex(enables) +
               ", a write enable for each page; " + Opening(register8, "APP register 8's"));
  }
}

// Registers 0 to 8 refuse writes once their sticky bit is cleared; 9 also
// while register 8 (PBAP) forbids writing registers 9 to 15.
void ExplainRegister(int index, const std::array<std::uint8_t, kAccessRegisters>& registers) {
  const std::string name = "APP register " + std::to_string(index);
  if (index < kAccessRegisters) {
    if (!Sticky(registers[static_cast<std::size_t>(index)])) {
      Diagnostic(name + " holds 0x" + Hex(registers[static_cast<std::size_t>(index)]) +
                 " and its sticky bit (bit 7) is clear: the chip refuses to change it until it is "
                 "powered off and on; power the chip off and on before /P can change it");
    }
    return;
  }
  const std::uint8_t page_protection = registers[kPageProtection];
  if (index == kPageWriteEnables && !FullAccess(page_protection)) {
    Diagnostic(name + " may not be written while APP register 8 holds 0x" + Hex(page_protection) +
               ", whose bits 1:0 guard registers 9 to 15" +
               (Sticky(page_protection)
                    ? ": /P writes register 8 first, so run it again"
                    : ", and register 8's sticky bit is clear: power the chip off and on before "
                      "/P can change either"));
  }
}

}  // namespace

// Each register is shown as two reads agree on it, in the bits it defines.
bool ListAppPage() {
  bool all = true;
  for (int index = 0; index < kAppPageSize; ++index) {
    std::uint8_t value = 0;
    bool refused = false;
    std::string number = std::to_string(index);
    number.insert(0, 2 - number.size(), ' ');
    number += "  ";
    if (ReadAppRegisterAgreed(static_cast<std::uint8_t>(index), value, refused)) {
      ConsoleLine(number + Hex(value) + "  " + Meaning(index, value));
    } else {
      ConsoleLine(number + (refused ? "--  refused by the chip" : "--  never read the same twice"));
      all = false;
    }
  }
  TellRereads();
  return all;
}

void ExplainRefusals(bool wrote) {
  if (wrote && failed_writes == 0 && verify_saw_old_contents) {
    Diagnostic(
        "the chip acknowledged every byte of the write and kept its old contents: its WP pin "
        "(pin 7) may be high; it must be tied to ground");
  }
  const ChipRefusals refused = chip_refusals;
  if (refused.read_blocks == 0 && refused.written_blocks == 0 && refused.written_registers == 0) {
    return;
  }
  std::array<std::uint8_t, kAccessRegisters> registers{};
  for (std::size_t index = 0; index < registers.size(); ++index) {
    if (!ReadAppRegister(static_cast<std::uint8_t>(index), registers[index])) {
      Diagnostic("the chip does not show its APP page (APP register " + std::to_string(index) +
                 " could not be read): why it refused the job's transactions cannot be told");
      return;
    }
  }
  for (int block = 0; block < kBlocks; ++block) {
    const std::uint8_t value = registers[static_cast<std::size_t>(block)];
    const bool read = (refused.read_blocks >> block & 1) != 0;
    const bool written = (refused.written_blocks >> block & 1) != 0;
    if ((read && !ReadOnly(value) && !FullAccess(value)) || (written && !FullAccess(value))) {
      ExplainBlock(block, value);
    }
  }
  if (refused.written_pages_of_block0 != 0 && FullAccess(registers[0])) {
    ExplainPagesOfBlock0(refused.written_pages_of_block0, registers[kPageProtection]);
  }
  for (int index = 0; index <= kPageWriteEnables; ++index) {
    if ((refused.written_registers >> index & 1) != 0) {
      ExplainRegister(index, registers);
    }
  }
}
