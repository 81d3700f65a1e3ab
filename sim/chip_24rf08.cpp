// SPDX-License-Identifier: MIT
// The 24RF08 as seen from its two-wire side: 1024 data bytes in four blocks
// of 256 at device addresses 0x54-0x57, and the APP register block at 0x5C.
// The chip watches every change of SCL and SDA. It samples SDA on the rising
// edge of SCL and changes its own SDA output only while SCL is low, on the
// falling edge, so a START or STOP can only come from the master.
//
// The real chip has a documented fault, which the simulated one counts and,
// when asked, shows: a write control byte that it acknowledged, followed at
// once by a STOP (an address-only write, SMBus's quick write), confuses its
// state machine. An odd number of them in a row leaves it armed, and the
// next transaction it acknowledges then changes what it holds, its access
// protection included; here APP register 15, which no job writes, gets its
// lowest clear bit set, so that changes never cancel out.
#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "sim/sim.h"
#include "sim/sim_parts.h"

namespace {

constexpr std::uint8_t kFirstDataControl = 0xA8;  // block 0; blocks 1-3 are 0xAA, 0xAC, 0xAE
constexpr std::uint8_t kAppControl = 0xB8;
constexpr std::size_t kPageSize = 16;
constexpr unsigned kPageMask = kPageSize - 1;
constexpr unsigned kAppMask = kSimAppSize - 1;
constexpr unsigned kDataMask = kSimDataSize - 1;

enum class Phase {
  kStuck,      // holding SDA low after power-up, until enough clocks free it
  kIdle,       // waiting for a START: between transactions, not addressed, or refused a byte
  kReceiving,  // shifting in a byte from the master, then acknowledging it
  kSending,    // shifting out a byte, then reading the master's acknowledge
};

std::array<std::uint8_t, kSimDataSize> ErasedData() {
  std::array<std::uint8_t, kSimDataSize> bytes{};
  bytes.fill(0xFF);
  return bytes;
}

std::array<std::uint8_t, kSimDataSize> data = ErasedData();
std::array<std::uint8_t, kSimAppSize> app{};

// Faults and settings of the current port session.
bool connected = true;
std::uint32_t stuck_falls = 0;
std::vector<SimNack> nacks;
bool deaf_app = false;
bool write_protected = false;
std::optional<std::uint32_t> weak_cell;
std::optional<std::uint32_t> remove_at;
std::int64_t write_cycle_ns = 5'000'000;  // on the simulated clock
bool address_only_fault = false;

Phase phase = Phase::kIdle;
bool sda_out = true;
int bit_count = 0;  // rising edges of SCL in the current byte, the ninth included
std::uint8_t shift = 0;
std::uint32_t byte_number = 0;  // bytes received in this transaction, control byte = 1
std::uint32_t transaction = 0;
std::uint32_t transactions = 0;
std::uint32_t falls_seen = 0;
bool master_acked = false;

// Addressing: which memory the transaction talks to, and the address counter
// of each memory. A read continues from the counter; a write sets it.
bool at_app = false;
bool reading = false;
std::uint16_t data_counter = 0;
std::uint16_t app_counter = 0;

// The page buffer of a write. Only bytes the chip acknowledged are marked,
// and nothing reaches the memory before the STOP.
std::array<std::uint8_t, kPageSize> page{};
std::uint16_t page_marks = 0;
std::uint16_t page_base = 0;
std::uint16_t page_offset = 0;
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

bool Busy() {
  return SimNanoseconds() < busy_until;
}

bool NackFault() {
  return std::any_of(nacks.begin(), nacks.end(), [](const SimNack& nack) {
    return nack.transaction == transaction && nack.byte == byte_number;
  });
}

bool AcceptControl() {
  transaction = transactions++;
  const auto device = static_cast<std::uint8_t>(shift & 0xFE);
  const bool data_block = (device & 0xF8) == kFirstDataControl;
  at_app = device == kAppControl;
  reading = (shift & 1) != 0;
  if (!connected || !(data_block || at_app) || (at_app && deaf_app) || NackFault() || Busy() ||
      (remove_at && transaction >= *remove_at)) {
    return false;
  }
  if (data_block) {
    // A current-address read stays in the block its control byte names.
    const auto block = static_cast<std::uint16_t>((device >> 1) & 3);
    data_counter = static_cast<std::uint16_t>(block << 8 | (data_counter & 0xFF));
  }
  if (reading) {
    Addressed();
  } else {
    address_only = true;
  }
  return true;
}

bool AcceptWordAddress() {
  if (NackFault()) {
    return false;
  }
  if (at_app) {
    app_counter = static_cast<std::uint16_t>(shift & kAppMask);
  } else {
    data_counter = static_cast<std::uint16_t>((data_counter & 0x300) | shift);
  }
  const std::uint16_t address = at_app ? app_counter : data_counter;
  page_at_app = at_app;
  page_base = static_cast<std::uint16_t>(address & ~kPageMask);
  page_offset = static_cast<std::uint16_t>(address & kPageMask);
  page_marks = 0;
  return true;
}

// Data bytes fill the page buffer and wrap inside the page, as on the chip.
bool AcceptDataByte() {
  if (NackFault()) {
    return false;
  }
  page[page_offset] = shift;
  page_marks = static_cast<std::uint16_t>(page_marks | 1u << page_offset);
  page_offset = static_cast<std::uint16_t>((page_offset + 1u) & kPageMask);
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
  } else if (byte_number == 2) {
    ack = AcceptWordAddress();
  } else {
    ack = AcceptDataByte();
  }
  if (!ack) {
    phase = Phase::kIdle;
  }
}

// With its write-protect pin high the chip still acknowledges every byte and
// moves its address counter, but starts no write cycle and stores nothing.
// A weak data cell stores bit 0 of its byte inverted.
void StoreWrittenPage() {
  if (page_marks == 0) {
    return;
  }
  if (!write_protected) {
    const std::span<std::uint8_t> memory =
        page_at_app ? std::span<std::uint8_t>(app) : std::span<std::uint8_t>(data);
    for (std::size_t offset = 0; offset < kPageSize; ++offset) {
      if ((page_marks >> offset & 1) != 0) {
        const std::size_t address = page_base + offset;
        const bool weak = !page_at_app && weak_cell == address;
        memory[address] = static_cast<std::uint8_t>(page[offset] ^ (weak ? 1 : 0));
      }
    }
    ++stored_writes;
    busy_until = SimNanoseconds() + write_cycle_ns;
  }
  const auto next = static_cast<std::uint16_t>(page_base + page_offset);
  if (page_at_app) {
    app_counter = next;
  } else {
    data_counter = next;
  }
  page_marks = 0;
}

// Loads the byte at the address counter and puts its first bit on SDA.
void SendNextByte() {
  if (at_app) {
    shift = app[app_counter];
    app_counter = static_cast<std::uint16_t>((app_counter + 1u) & kAppMask);
  } else {
    shift = data[data_counter];
    data_counter = static_cast<std::uint16_t>((data_counter + 1u) & kDataMask);
  }
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

}  // namespace

void ChipAttach(const SimConfig& config) {
  connected = config.circuit == SimCircuit::kNormal && !config.chip_absent;
  stuck_falls = config.stuck_falls;
  nacks = config.nacks;
  deaf_app = config.deaf_app;
  write_protected = config.write_protected;
  weak_cell = config.weak_cell;
  remove_at = config.remove_at;
  write_cycle_ns = std::int64_t{config.write_ms} * 1'000'000;
  address_only_fault = config.address_only_fault;
  address_only = false;
  transactions = 0;
  falls_seen = 0;
  page_marks = 0;
  phase = stuck_falls > 0 ? Phase::kStuck : Phase::kIdle;
  sda_out = phase != Phase::kStuck;
}

void ChipReset() {
  ChipAttach(SimConfig{});
  data = ErasedData();
  app.fill(0);
  data_counter = 0;
  app_counter = 0;
  busy_until = 0;
  stored_writes = 0;
  address_only_writes = 0;
  fault_armed = false;
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
    page_marks = 0;
    phase = Phase::kReceiving;
    bit_count = 0;
    byte_number = 0;
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

std::span<std::uint8_t, kSimDataSize> SimData() {
  return data;
}

std::span<std::uint8_t, kSimAppSize> SimAppRegisters() {
  return app;
}
