// SPDX-License-Identifier: MIT
// The simulated EEPROM as seen from its two-wire side: the 24RF08, or one of
// the plain 24Cxx chips from the 24C01 to the 24C512, each a row of data in
// the table below. The chip watches every change of SCL and SDA. It samples
// SDA on the rising edge of SCL and changes its own SDA output only while SCL
// is low, on the falling edge, so a START or STOP can only come from the
// master.
//
// All of them share one protocol: a control byte 1010 A2 A1 A0 R/W, where
// the chips smaller than 4 KiB use the address pins they have no use for as
// block bits (the top bits of the address, not connected to any pin inside),
// then one word-address byte, or two from the 24C32 up (the high one first,
// its unused top bits ignored: addresses wrap at the chip's size), then the
// data. A write goes into a page buffer and reaches the memory at the STOP;
// the chip then spends its write cycle storing it and acknowledges nothing
// until it is done, which is what acknowledge polling waits on.
//
// The model is as unkind as the datasheets allow, so that a careless program
// fails here rather than on some maker's part:
// - The page buffer is the table's page, the smallest any maker uses for that
//   size, and wraps inside it: a write in larger pages overwrites its page's
//   start.
// - A plain chip's sequential read runs through the whole array and wraps
//   from the last address to 0; the 24RF08's wraps at the end of its 128-byte
//   block (127 to 0, 255 to 128), never into the next block.
// - A read command ignores the block bits of its control byte: it goes on
//   from the address counter, which only a write command (a dummy write, for
//   a random read) moves to a block.
// - Address pins that a chip uses as block bits are not connected inside, so
//   however the board straps them, the chip answers on every block address.
// - A program that takes the chip for another (a wrong chip name) gets what
//   the chip does with the bytes, nothing kinder. Given two address bytes, a
//   chip of one takes the second as a data byte: a write stores it and the
//   data in the wrong page, and a random read starts one byte after the high
//   byte, since the counter moves on with every byte taken. Given one, a
//   chip of two takes it as the high byte and keeps the low byte of its last
//   access. A smaller chip with the same address bytes ignores the top bits,
//   so it reads as its contents repeated and a write leaves the last copy.
//
// The 24RF08 is, on this side, a 24C08 whose A2 is tied high inside (it
// answers at 0x54-0x57) with the APP register page and the ID page behind it
// at 0x5C, as its datasheets describe them:
// - The APP and ID pages take one byte per transaction: a second data byte
//   of a write is refused, and a read gives its first byte and then 0xFF for
//   as long as the master asks for more (the datasheets do not say what comes;
//   this is what a careless host would take for registers of 0xFF). Word
//   addresses 0x00-0x0F are the APP registers, 0x10-0x1F the ID page; any
//   other is refused.
// - The bits the datasheets leave undefined on reading (bits 6, 3 and 2 of
//   registers 0 to 7, bits 6 to 2 of register 8) read back inverted from what
//   was written, and register 14 reads 0xFF; registers 14 and 15 (reserved,
//   the device revision) acknowledge a write and keep what they hold.
// - A register whose sticky bit (bit 7 of registers 0 to 8) is clear refuses
//   every write until the chip is powered off and on. The sticky bits are not
//   stored in the EEPROM: they are set at power-on, which for the simulator is
//   the start of its process (or SimReset), and clear from the opening of
//   the port for the registers the session's `locked` names.
//
// Behind the session's `protect`, so that the many runs starting from APP
// registers of 0x00 still find an open chip, the access protection: bits 1:0
// of register k guard block k (00 and 01 no access, 10 read only, 11 full
// access); those of register 8 (PBAP) guard registers 9 to 15 alike and the
// ID page (full access only with 11); the bits of register 9 enable writes to
// the eight pages of block 0; and bit 7 of registers 0 to 8 reads as the
// sticky bit, which a written 0 clears. The datasheets say only that an
// illegal access is refused, not at which byte. Here a block that may not be
// read refuses the word address, the first byte at which the chip knows the
// block, so that its address counter never gets there; a block, page or
// register that may not be written takes the word address (a read still
// needs it) and refuses the first data byte. A current-address read can
// still find its counter in a closed block (closed after the counter got
// there): the chip cannot refuse bytes the master acknowledges, and gives
// each byte inverted, never the block's own.
//
// The 24RF08 has a documented fault, which every simulated chip counts and
// the 24RF08, when asked, shows: a write control byte that it acknowledged,
// followed at once by a STOP (an address-only write, SMBus's quick write),
// confuses its state machine. An odd number of them in a row leaves it
// armed, and the next transaction it acknowledges then changes what it
// holds, its access protection included; here APP register 15, which no job
// writes, gets its lowest clear bit set, so that changes never cancel out.
#include <algorithm>
#include <array>
#include <bitset>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "sim/sim.h"
#include "sim/sim_parts.h"

namespace {

// One row per chip, from the makers' datasheets (see SimChipModel). The
// 24RF08 comes first, as the chip the simulation starts with; its A2 bit is
// tied high inside, and neither a pin nor a block bit.
constexpr SimChipModel kChips[] = {
    // name, bytes, page, word-address bytes, device, board pins, block bits,
    // read wrap, APP page, address pins
    {"24RF08", 1024, 16, 1, 0x54, 0b000, 0b011, 128, true, false},
    {"24C01", 128, 8, 1, 0x50, 0b111, 0b000, 128, false, true},
    {"24C02", 256, 8, 1, 0x50, 0b111, 0b000, 256, false, true},
    {"24C04", 512, 16, 1, 0x50, 0b110, 0b001, 512, false, true},
    {"24C08", 1024, 16, 1, 0x50, 0b100, 0b011, 1024, false, true},
    {"24C16", 2048, 16, 1, 0x50, 0b000, 0b111, 2048, false, true},
    {"24C32", 4096, 32, 2, 0x50, 0b111, 0b000, 4096, false, true},
    {"24C64", 8192, 32, 2, 0x50, 0b111, 0b000, 8192, false, true},
    {"24C128", 16384, 64, 2, 0x50, 0b111, 0b000, 16384, false, true},
    {"24C256", 32768, 64, 2, 0x50, 0b111, 0b000, 32768, false, true},
    {"24C512", 65536, 128, 2, 0x50, 0b111, 0b000, 65536, false, true},
};
constexpr std::size_t kLargestPage = 128;  // the 24C512's
static_assert(std::all_of(std::begin(kChips), std::end(kChips), [](const SimChipModel& model) {
  return model.page <= kLargestPage && model.size <= kSimLargestDataSize;
}));

constexpr std::uint8_t kAppDevice = 0x5C;  // control bytes 0xB8 and 0xB9
// The 24RF08's blocks and pages, as its access protection guards them.
constexpr unsigned kBlockSize = 128;
constexpr unsigned kProtectedPageSize = 16;

// The APP page's word addresses: the registers, then the ID page.
constexpr unsigned kIdPageStart = 0x10;
constexpr unsigned kAppPageEnd = 0x20;
constexpr std::size_t kIdPageSize = 16;
constexpr std::uint8_t kBlockRegisters = 8;     // registers 0 to 7 guard the blocks
constexpr std::uint8_t kPageProtection = 8;     // register 8: PBAP and its sticky bit
constexpr std::uint8_t kPageWriteEnables = 9;   // register 9: block 0's pages
constexpr std::uint8_t kReservedReadOnly = 14;  // reads 0xFF
constexpr std::uint8_t kRevision = 15;
constexpr std::uint8_t kStickyBit = 0x80;
constexpr std::uint16_t kAllSticky = 0x1FF;  // registers 0 to 8
// The bits read back inverted: undefined in registers 0 to 7, and in 8.
constexpr std::uint8_t kUndefinedInBlockRegisters = 0x4C;
constexpr std::uint8_t kUndefinedInRegister8 = 0x7C;
// Protection fields (bits 1:0): reading needs bit 1, writing both.
constexpr std::uint8_t kMayRead = 0x02;
constexpr std::uint8_t kFullAccess = 0x03;

enum class Phase {
  kStuck,      // holding SDA low after power-up, until enough clocks free it
  kIdle,       // waiting for a START: between transactions, not addressed, or refused a byte
  kReceiving,  // shifting in a byte from the master, then acknowledging it
  kSending,    // shifting out a byte, then reading the master's acknowledge
};

std::array<std::uint8_t, kSimLargestDataSize> ErasedData() {
  std::array<std::uint8_t, kSimLargestDataSize> bytes{};
  bytes.fill(0xFF);
  return bytes;
}

// The chip in place, and the device address it answers at, its block bits
// clear. Its memory is the start of data.
const SimChipModel* chip = &kChips[0];
std::uint8_t chip_device = kChips[0].device;
std::array<std::uint8_t, kSimLargestDataSize> data = ErasedData();
std::array<std::uint8_t, kSimAppSize> app{};
std::array<std::uint8_t, kIdPageSize> id_page{};
// Bit k set: register k's sticky bit is set (volatile, set at power-on).
std::uint16_t sticky = kAllSticky;

// Faults and settings of the current port session.
bool connected = true;
std::uint32_t stuck_falls = 0;
std::vector<SimNack> nacks;
bool deaf_app = false;
bool write_protected = false;
bool protect = false;
std::optional<std::uint32_t> weak_cell;
std::optional<std::uint32_t> remove_at;
std::int64_t write_cycle_ns = 5'000'000;  // on the simulated clock
bool address_only_fault = false;

Phase phase = Phase::kIdle;
bool sda_out = true;
int bit_count = 0;  // rising edges of SCL in the current byte, the ninth included
std::uint8_t shift = 0;
std::uint32_t byte_number = 0;  // bytes received in this transaction, control byte = 1
std::uint32_t bytes_sent = 0;   // bytes sent in this transaction
std::uint32_t transaction = 0;
std::uint32_t transactions = 0;
std::uint32_t falls_seen = 0;
bool master_acked = false;

// Addressing: which memory the transaction talks to, and the address counter
// of each memory (the APP one runs over the registers and the ID page). A
// read continues from the counter; a write sets it.
bool at_app = false;
bool reading = false;
std::uint16_t data_counter = 0;
std::uint8_t app_counter = 0;
std::uint8_t address_high = 0;  // of a two-byte word address, until the low byte comes

// The page buffer of a write. Only bytes the chip acknowledged are marked,
// and nothing reaches the memory before the STOP.
std::array<std::uint8_t, kLargestPage> page{};
std::bitset<kLargestPage> page_marks;
unsigned page_base = 0;
unsigned page_offset = 0;
bool page_at_app = false;

std::int64_t busy_until = 0;
std::uint32_t stored_writes = 0;

// The address-only write fault: a write control byte acknowledged and
// nothing after it yet, the count of such writes ended by a STOP, and
// whether the chip is left confused by them.
constexpr std::size_t kConfusedRegister = 15;
bool address_only = false;
std::uint32_t address_only_writes = 0;
bool fault_armed = false;

void AddressOnlyWrite() {
  ++address_only_writes;
  fault_armed = address_only_fault && !fault_armed;
}

// Any acknowledged transaction but an address-only write.
void Addressed() {
  address_only = false;
  if (fault_armed) {
    std::uint8_t& confused = app[kConfusedRegister];
    confused = static_cast<std::uint8_t>(confused | (confused + 1));
    fault_armed = false;
  }
}

unsigned DataMask() {
  return static_cast<unsigned>(chip->size - 1);
}

unsigned PageMask() {
  return static_cast<unsigned>(chip->page - 1);
}

bool Busy() {
  return SimNanoseconds() < busy_until;
}

bool NackFault() {
  return std::any_of(nacks.begin(), nacks.end(), [](const SimNack& nack) {
    return nack.transaction == transaction && nack.byte == byte_number;
  });
}

bool Sticky(unsigned index) {
  return index > kPageProtection || (sticky >> index & 1) != 0;
}

// The protection field of a register, as the chip enforces it: full access
// where the session does not ask for protection.
std::uint8_t Access(unsigned index) {
  return protect ? static_cast<std::uint8_t>(app[index] & kFullAccess) : kFullAccess;
}

bool MayRead(std::uint8_t access) {
  return (access & kMayRead) != 0;
}

bool MayWrite(std::uint8_t access) {
  return access == kFullAccess;
}

// Registers 9 to 15 under PBAP; the ID page only with full access.
bool AppMayRead(unsigned word) {
  if (word >= kIdPageStart) {
    return MayWrite(Access(kPageProtection));
  }
  return word <= kPageProtection || MayRead(Access(kPageProtection));
}

bool AppMayWrite(unsigned word) {
  return Sticky(word) && (word <= kPageProtection || MayWrite(Access(kPageProtection)));
}

bool DataMayWrite(unsigned address) {
  const unsigned block = address / kBlockSize;
  const bool page_enabled =
      block != 0 || !protect || (app[kPageWriteEnables] >> (address / kProtectedPageSize) & 1) != 0;
  return MayWrite(Access(block)) && page_enabled;
}

bool AcceptControl() {
  transaction = transactions++;
  const auto device = static_cast<std::uint8_t>(shift >> 1);
  const bool data_block = (device & ~chip->block_bits) == chip_device;
  at_app = chip->app && device == kAppDevice;
  reading = (shift & 1) != 0;
  if (!connected || !(data_block || at_app) || (at_app && deaf_app) || NackFault() || Busy() ||
      (remove_at && transaction >= *remove_at)) {
    return false;
  }
  // Only a write command loads the control byte's block bits into the
  // address counter; a read goes on from wherever the counter is.
  if (data_block && !reading) {
    const unsigned block_mask = unsigned{chip->block_bits} << 8;
    data_counter = static_cast<std::uint16_t>((data_counter & ~block_mask) |
                                              (unsigned{device} << 8 & block_mask));
  }
  if (reading) {
    Addressed();
  } else {
    address_only = true;
  }
  return true;
}

// A word address of two bytes is complete with its second, the low one; a
// one-byte one takes the block bits the control byte of a write left in the
// address counter. The bits above the chip's size are ignored.
bool AcceptAddressByte() {
  if (NackFault()) {
    return false;
  }
  if (byte_number < 1 + chip->address_bytes) {
    address_high = shift;
    // A chip given only this byte of its two (a program that takes it for a
    // chip of one address byte) reads on from an address no datasheet
    // defines. Microchip's models take the byte as the high one and keep the
    // low byte of the last access; so does this one, which makes two reads
    // "at the same address" start at different places.
    if (!at_app) {
      data_counter = static_cast<decltype(data_counter)>(
          ((data_counter & ~0xFF00u) | unsigned{shift} << 8) & DataMask());
    }
    return true;
  }
  unsigned address = 0;
  if (at_app) {
    if (shift >= kAppPageEnd || !AppMayRead(shift)) {
      return false;
    }
    app_counter = shift;
    address = shift;
  } else {
    const unsigned upper = chip->address_bytes == 2
                               ? unsigned{address_high} << 8
                               : data_counter & unsigned{chip->block_bits} << 8;
    address = (upper | shift) & DataMask();
    if (!MayRead(Access(address / kBlockSize))) {
      return false;
    }
    data_counter = static_cast<std::uint16_t>(address);
  }
  page_at_app = at_app;
  page_base = address & ~PageMask();
  page_offset = address & PageMask();
  page_marks.reset();
  return true;
}

// Data bytes fill the page buffer and wrap inside the chip's page, as on the
// chip; the APP and ID pages take one.
bool AcceptDataByte() {
  if (NackFault()) {
    return false;
  }
  const unsigned address = page_base + page_offset;
  const unsigned first_data_byte = 2 + chip->address_bytes;
  if (page_at_app ? byte_number > first_data_byte || !AppMayWrite(address)
                  : byte_number == first_data_byte && !DataMayWrite(address)) {
    return false;
  }
  page[page_offset] = shift;
  page_marks.set(page_offset);
  page_offset = (page_offset + 1) & PageMask();
  // The address counter moves on with each byte taken, inside the page, and
  // stays there whether a STOP stores the page or a repeated START abandons
  // it: a chip of one address byte given two takes the low one as data, and
  // the read that follows starts one byte after the high one.
  if (!page_at_app) {
    data_counter = static_cast<decltype(data_counter)>(page_base + page_offset);
  }
  return true;
}

// Called once the eighth bit is in: decides the acknowledge of the ninth
// clock. A refused byte leaves the chip deaf until the next START.
void ByteReceived() {
  ++byte_number;
  if (byte_number == 2 && address_only) {
    Addressed();
  }
  bool ack = false;
  if (byte_number == 1) {
    ack = AcceptControl();
  } else if (byte_number <= 1 + chip->address_bytes) {
    ack = AcceptAddressByte();
  } else {
    ack = AcceptDataByte();
  }
  if (!ack) {
    phase = Phase::kIdle;
  }
}

// One byte written to the APP or ID page. Under protection a register of 0
// to 8 written with bit 7 clear loses its sticky bit: it is frozen from now
// on. Registers 14 and 15 keep what they hold.
void StoreAppByte(unsigned word, std::uint8_t value) {
  if (word >= kIdPageStart) {
    id_page[word - kIdPageStart] = value;
    return;
  }
  if (word == kReservedReadOnly || word == kRevision) {
    return;
  }
  app[word] = value;
  if (protect && word <= kPageProtection && (value & kStickyBit) == 0) {
    sticky = static_cast<std::uint16_t>(sticky & ~(1u << word));
  }
}

// With its write-protect pin high the chip still acknowledges every byte and
// moves its address counter (as it takes them), but starts no write cycle
// and stores nothing.
// A weak data cell stores bit 0 of its byte inverted.
void StoreWrittenPage() {
  if (page_marks.none()) {
    return;
  }
  if (!write_protected) {
    for (std::size_t offset = 0; offset < chip->page; ++offset) {
      if (!page_marks.test(offset)) {
        continue;
      }
      const std::size_t address = page_base + offset;
      if (page_at_app) {
        StoreAppByte(static_cast<unsigned>(address), page[offset]);
      } else {
        const bool weak = weak_cell == address;
        data[address] = static_cast<std::uint8_t>(page[offset] ^ (weak ? 1 : 0));
      }
    }
    ++stored_writes;
    busy_until = SimNanoseconds() + write_cycle_ns;
  }
  page_marks.reset();
}

// A register as a read shows it: the sticky bit in bit 7 (a cleared one
// always, a set one under protection, where bit 7 is nothing else), the
// undefined bits inverted.
std::uint8_t AppByte(unsigned word) {
  if (word >= kIdPageStart) {
    return id_page[word - kIdPageStart];
  }
  if (word == kReservedReadOnly) {
    return 0xFF;
  }
  std::uint8_t value = app[word];
  if (word < kBlockRegisters) {
    value ^= kUndefinedInBlockRegisters;
  } else if (word == kPageProtection) {
    value ^= kUndefinedInRegister8;
  }
  if (word <= kPageProtection && (protect || !Sticky(word))) {
    value = static_cast<std::uint8_t>((value & ~kStickyBit) | (Sticky(word) ? kStickyBit : 0));
  }
  return value;
}

// Loads the next byte of a read and puts its first bit on SDA: the byte at
// the address counter, which wraps at the chip's read boundary (the 24RF08's
// 128-byte block, a plain chip's whole array). The APP and ID pages give one
// byte, then 0xFF.
void SendNextByte() {
  if (at_app) {
    shift = bytes_sent == 0 ? AppByte(app_counter) : 0xFF;
  } else {
    const bool closed = !MayRead(Access(data_counter / kBlockSize));
    shift = static_cast<std::uint8_t>(data[data_counter] ^ (closed ? 0xFF : 0));
    const auto wrap_mask = static_cast<unsigned>(chip->read_wrap - 1);
    data_counter = static_cast<std::uint16_t>((data_counter & ~wrap_mask & DataMask()) |
                                              ((data_counter + 1u) & wrap_mask));
  }
  shift = InTransit(shift);
  ++bytes_sent;
  phase = Phase::kSending;
  bit_count = 0;
  sda_out = (shift & 0x80) != 0;
}

void SclRise(bool sda) {
  if (phase == Phase::kReceiving) {
    if (bit_count < 8) {
      shift = static_cast<std::uint8_t>(shift << 1 | (sda ? 1 : 0));
      if (++bit_count == 8) {
        ByteReceived();
      }
    } else {
      bit_count = 9;
    }
  } else if (phase == Phase::kSending) {
    if (bit_count == 8) {
      master_acked = !sda;
    }
    ++bit_count;
  }
}

void SclFall() {
  if (phase == Phase::kStuck) {
    if (++falls_seen >= stuck_falls) {
      sda_out = true;
      phase = Phase::kIdle;
    }
  } else if (phase == Phase::kReceiving) {
    // The acknowledge lasts from the fall after the eighth bit to the fall
    // that ends the ninth clock.
    if (bit_count == 8) {
      sda_out = false;
    } else if (bit_count == 9) {
      sda_out = true;
      bit_count = 0;
      if (reading) {
        SendNextByte();
      }
    }
  } else if (phase == Phase::kSending) {
    if (bit_count < 8) {
      sda_out = (shift >> (7 - bit_count) & 1) != 0;
    } else if (bit_count == 8) {
      sda_out = true;
    } else if (master_acked) {
      SendNextByte();
    } else {
      phase = Phase::kIdle;
    }
  }
}

// A chip put in place fresh from the factory and powered on: erased, its APP
// registers 0x00, its sticky bits set, its address counter at 0, not busy.
void PowerOn(const SimChipModel& model) {
  chip = &model;
  data.fill(0xFF);
  app.fill(0);
  id_page.fill(0xFF);
  sticky = kAllSticky;
  data_counter = 0;
  app_counter = 0;
  busy_until = 0;
  fault_armed = false;
}

}  // namespace

const SimChipModel* SimFindChip(std::string_view name) {
  const auto found = std::find_if(std::begin(kChips), std::end(kChips),
                                  [name](const SimChipModel& model) { return model.name == name; });
  return found == std::end(kChips) ? nullptr : found;
}

bool ChipChoose(std::string_view name) {
  const SimChipModel* model = SimFindChip(name);
  if (model == nullptr) {
    return false;
  }
  if (model != chip) {
    PowerOn(*model);
  }
  return true;
}

// The 24RF08's APP items mean nothing to a plain chip, which has no APP
// page; the EBRILO_SIM syntax refuses them there, and a configuration that
// gives them anyway has them ignored.
void ChipAttach(const SimConfig& config) {
  connected = config.circuit == SimCircuit::kNormal && !config.chip_absent;
  chip_device = static_cast<std::uint8_t>(chip->device | (config.pins & chip->board_pins));
  stuck_falls = config.stuck_falls;
  nacks = config.nacks;
  deaf_app = config.deaf_app;
  write_protected = config.write_protected;
  protect = config.protect && chip->app;
  if (chip->app) {
    sticky = static_cast<std::uint16_t>(sticky & ~config.locked);
  }
  weak_cell = config.weak_cell;
  remove_at = config.remove_at;
  write_cycle_ns = std::int64_t{config.write_ms} * 1'000'000;
  address_only_fault = config.address_only_fault && chip->app;
  TransitAttach(config);
  address_only = false;
  transactions = 0;
  falls_seen = 0;
  page_marks.reset();
  phase = stuck_falls > 0 ? Phase::kStuck : Phase::kIdle;
  sda_out = phase != Phase::kStuck;
}

void ChipReset() {
  PowerOn(kChips[0]);
  ChipAttach(SimConfig{});
  stored_writes = 0;
  address_only_writes = 0;
}

void ChipSclEdge(bool scl, bool sda) {
  if (scl) {
    SclRise(sda);
  } else {
    SclFall();
  }
}

// While SCL is high a falling SDA is a START and a rising one a STOP. A
// START abandons a write that had no STOP; the STOP stores it.
void ChipSdaEdge(bool sda, bool scl) {
  if (!scl || phase == Phase::kStuck) {
    return;
  }
  sda_out = true;
  if (sda && address_only) {
    address_only = false;
    AddressOnlyWrite();
  } else if (address_only) {
    Addressed();
  }
  if (sda) {
    StoreWrittenPage();
    phase = Phase::kIdle;
  } else {
    page_marks.reset();
    phase = Phase::kReceiving;
    bit_count = 0;
    byte_number = 0;
    bytes_sent = 0;
  }
}

bool ChipSdaOut() {
  return sda_out || !connected;
}

std::uint32_t ChipTransactions() {
  return transactions;
}

std::uint32_t ChipStoredWrites() {
  return stored_writes;
}

std::uint32_t ChipAddressOnlyWrites() {
  return address_only_writes;
}

bool SimChipBusy() {
  return Busy();
}

std::span<std::uint8_t> SimData() {
  return std::span(data).first(chip->size);
}

std::span<std::uint8_t, kSimAppSize> SimAppRegisters() {
  return app;
}
