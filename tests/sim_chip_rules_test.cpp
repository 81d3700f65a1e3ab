// SPDX-License-Identifier: MIT
// The simulated 24RF08's datasheet rules, driven by the simulated adapter's
// bus master: sequential reads wrap inside their 128-byte block, the APP and
// ID pages take one byte per transaction, sticky bits lock registers, and
// with protect the APP registers guard the blocks, block 0's pages and the
// APP page itself.
#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "sim/sim.h"
#include "sim/sim_parts.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// Sends bytes after a START until one is refused, then a STOP: how many
// were acknowledged.
int Acknowledged(std::initializer_list<std::uint8_t> bytes) {
  MasterStart();
  int acknowledged = 0;
  for (const std::uint8_t byte : bytes) {
    if (!MasterWrite(byte)) {
      break;
    }
    ++acknowledged;
  }
  MasterStop();
  return acknowledged;
}

// A random read of count bytes, or nothing when a byte of its address part
// is refused.
Bytes RandomRead(std::uint8_t control, std::uint8_t word, int count) {
  MasterStart();
  Bytes bytes;
  if (MasterWrite(control) && MasterWrite(word)) {
    MasterStart();
    if (MasterWrite(static_cast<std::uint8_t>(control | 1))) {
      for (int i = 0; i < count; ++i) {
        bytes.push_back(MasterRead(i + 1 < count));
      }
    }
  }
  MasterStop();
  return bytes;
}

// A current-address read of count bytes, or nothing when the control byte
// is refused.
Bytes CurrentRead(std::uint8_t control, int count) {
  MasterStart();
  Bytes bytes;
  if (MasterWrite(control)) {
    for (int i = 0; i < count; ++i) {
      bytes.push_back(MasterRead(i + 1 < count));
    }
  }
  MasterStop();
  return bytes;
}

class SimChipRules : public ::testing::Test {
 protected:
  void SetUp() override {
    SimReset();
  }
  void TearDown() override {
    SimAdapterClose();
    SimReset();
  }
  void Open(const std::string& settings) {
    ASSERT_TRUE(SimConfigureText("write_ms=0;" + settings)) << settings;
    SimAdapterOpen();
  }
};

// A sequential read wraps from the end of its 128-byte block to its start,
// in the first block of a control byte's 256 bytes, the second, and the last.
TEST_F(SimChipRules, SequentialReadWrapsInsideItsBlock) {
  for (std::size_t address = 0; address < kSimDataSize; ++address) {
    SimData()[address] = static_cast<std::uint8_t>(address * 3 + address / 128);
  }
  Open("");
  for (const std::size_t start : {0x07EU, 0x1FFU, 0x3FFU}) {
    SCOPED_TRACE(start);
    const std::size_t block = start & 0x380;
    const Bytes read = RandomRead(static_cast<std::uint8_t>(0xA8 | (start >> 7 & 6)),
                                  static_cast<std::uint8_t>(start & 0xFF), 130);
    ASSERT_EQ(read.size(), 130U);
    for (std::size_t i = 0; i < read.size(); ++i) {
      const std::size_t address = block + (start + i) % 128;
      ASSERT_EQ(read[i], SimData()[address]) << i;
    }
  }
}

// One byte per transaction on the APP and ID pages: a second data byte is
// refused, bytes read after the first come as 0xFF, and only word addresses
// 0x00 to 0x1F exist. Undefined bits read back inverted; register 14 reads
// 0xFF, and 14 and 15 keep what they hold.
TEST_F(SimChipRules, AppAndIdPagesOneBytePerTransaction) {
  Open("");
  EXPECT_EQ(Acknowledged({0xB8, 0x03, 0x11, 0x22}), 3);
  EXPECT_EQ(SimAppRegisters()[3], 0x11);
  EXPECT_EQ(SimAppRegisters()[4], 0x00);
  EXPECT_EQ(RandomRead(0xB8, 0x03, 3), Bytes({0x5D, 0xFF, 0xFF}));
  EXPECT_EQ(Acknowledged({0xB8, 0x08, 0x81}), 3);
  EXPECT_EQ(RandomRead(0xB8, 0x08, 1), Bytes({0xFD}));
  EXPECT_EQ(Acknowledged({0xB8, 0x09, 0x5A}), 3);
  EXPECT_EQ(RandomRead(0xB8, 0x09, 2), Bytes({0x5A, 0xFF}));
  EXPECT_EQ(Acknowledged({0xB8, 0x1F, 0x77}), 3);
  EXPECT_EQ(RandomRead(0xB8, 0x1F, 1), Bytes({0x77}));
  EXPECT_EQ(Acknowledged({0xB8, 0x20, 0x77}), 1);
  EXPECT_EQ(Acknowledged({0xB8, 0x0E, 0x12}), 3);
  EXPECT_EQ(Acknowledged({0xB8, 0x0F, 0x34}), 3);
  EXPECT_EQ(RandomRead(0xB8, 0x0E, 1), Bytes({0xFF}));
  EXPECT_EQ(RandomRead(0xB8, 0x0F, 1), Bytes({0x00}));
}

// A register whose sticky bit is clear refuses every write, and reads with
// bit 7 clear, until the chip is powered off and on (SimReset); a new port
// session keeps it so. Under protection a register written with bit 7 clear
// locks itself; without, bit 7 is stored as any other.
TEST_F(SimChipRules, StickyBitsLockRegisters) {
  Open("locked=2,8");
  EXPECT_EQ(Acknowledged({0xB8, 0x02, 0xFF}), 2);
  EXPECT_EQ(Acknowledged({0xB8, 0x08, 0xFF}), 2);
  EXPECT_EQ(Acknowledged({0xB8, 0x01, 0x03}), 3);
  EXPECT_EQ(Acknowledged({0xB8, 0x01, 0xFF}), 3);
  EXPECT_EQ(RandomRead(0xB8, 0x02, 1), Bytes({0x4C}));
  SimAdapterClose();
  Open("protect");
  EXPECT_EQ(Acknowledged({0xB8, 0x02, 0xFF}), 2) << "locked until power-off";
  EXPECT_EQ(Acknowledged({0xB8, 0x00, 0x03}), 3);
  EXPECT_EQ(Acknowledged({0xB8, 0x00, 0xFF}), 2);
  EXPECT_EQ(RandomRead(0xB8, 0x00, 1), Bytes({0x4F}));
  EXPECT_EQ(RandomRead(0xB8, 0x01, 1), Bytes({0xB3})) << "set at power-on";
  SimAdapterClose();
  SimReset();
  Open("");
  EXPECT_EQ(Acknowledged({0xB8, 0x02, 0xFF}), 3);
}

// Under protection: block 1 read only, block 2 closed, block 0's page 1
// closed, registers 9 to 15 read only and so the ID page closed. A closed
// block refuses the word address, a read-only one the first data byte; a
// current-address read that finds its counter in a closed block gets each
// byte inverted. Without protect the same registers guard nothing.
TEST_F(SimChipRules, ProtectionFromTheAppRegisters) {
  const Bytes registers = {0xFF, 0x82, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x82, 0xFD};
  std::copy(registers.begin(), registers.end(), SimAppRegisters().begin());
  SimData()[0x100] = 0x5A;
  SimData()[0x101] = 0x3C;
  Open("");
  EXPECT_EQ(Acknowledged({0xA8, 0x80, 0x01}), 3);
  EXPECT_EQ(Acknowledged({0xA8, 0x10, 0x01}), 3);
  EXPECT_EQ(Acknowledged({0xB8, 0x10, 0x01}), 3);
  EXPECT_EQ(Acknowledged({0xB8, 0x02, 0x00}), 3);  // closes block 2 for what follows
  EXPECT_EQ(RandomRead(0xAA, 0x00, 1), Bytes({0x5A}));
  SimAdapterClose();
  Open("protect");
  MasterStart();
  ASSERT_TRUE(MasterWrite(0xAD));
  EXPECT_EQ(MasterRead(false), 0xC3);
  MasterStop();
  EXPECT_EQ(Acknowledged({0xA8, 0x80, 0x02}), 2);
  EXPECT_EQ(RandomRead(0xA8, 0x80, 1), Bytes({0x01}));
  EXPECT_EQ(Acknowledged({0xAA, 0x00}), 1);
  EXPECT_EQ(Acknowledged({0xAA, 0x80, 0x02}), 3);
  EXPECT_EQ(Acknowledged({0xA8, 0x10, 0x02}), 2);
  EXPECT_EQ(Acknowledged({0xA8, 0x20, 0x02}), 3);
  EXPECT_EQ(Acknowledged({0xB8, 0x09, 0xFF}), 2);
  EXPECT_EQ(RandomRead(0xB8, 0x09, 1), Bytes({0xFD}));
  EXPECT_EQ(Acknowledged({0xB8, 0x10}), 1);
  EXPECT_EQ(SimData()[0x80], 0x01);
  EXPECT_EQ(SimData()[0x10], 0x01);
  EXPECT_EQ(SimData()[0x20], 0x02);
  EXPECT_EQ(SimData()[0x180], 0x02);
}

// The plain chips: a write past the end of a 24C02's 8-byte page wraps to
// the page's start; a 24C64 at pins 5 takes two address bytes, high first
// (top bits ignored), and reads on from its last address to 0; a 24C16
// answers at all eight block addresses whatever its pins, and a read goes on
// from the counter, not the block its control byte names; a 24C08 at pins 4
// (where a 24RF08 answers) refuses 0x50 and, like every plain chip, 0xB8.
TEST_F(SimChipRules, PlainChips) {
  Open("chip=24C02;pins=3");
  EXPECT_EQ(Acknowledged({0xA6, 0x15, 0x01, 0x02, 0x03, 0x04}), 6);
  EXPECT_EQ(RandomRead(0xA6, 0x10, 8), Bytes({0x04, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x02, 0x03}));
  EXPECT_EQ(Acknowledged({0xA0}), 0);
  SimAdapterClose();
  Open("chip=24C64;pins=5");
  ASSERT_EQ(SimData().size(), 8192U);
  EXPECT_EQ(SimData()[0x15], 0xFF) << "another chip starts erased";
  SimData()[0] = 0x11;
  EXPECT_EQ(Acknowledged({0xAA, 0x3F, 0xFF, 0x5A}), 4);
  EXPECT_EQ(SimData()[0x1FFF], 0x5A);
  EXPECT_EQ(Acknowledged({0xAA, 0x1F, 0xFF}), 3);
  EXPECT_EQ(CurrentRead(0xAB, 2), Bytes({0x5A, 0x11}));
  EXPECT_EQ(Acknowledged({0xAE}), 0);
  SimAdapterClose();
  Open("chip=24C16;pins=2");
  SimData()[0x708] = 0x42;
  for (std::uint8_t block = 0; block < 8; ++block) {
    EXPECT_EQ(Acknowledged({static_cast<std::uint8_t>(0xA0 | block << 1), block, block}), 3);
    EXPECT_EQ(SimData()[block * 256U + block], block);
  }
  EXPECT_EQ(CurrentRead(0xA1, 1), Bytes({0x42}));
  SimAdapterClose();
  Open("chip=24C08;pins=4");
  EXPECT_EQ(Acknowledged({0xAE, 0x00}), 2);
  EXPECT_EQ(Acknowledged({0xA0}), 0);
  EXPECT_EQ(Acknowledged({0xB8}), 0);
}

}  // namespace
