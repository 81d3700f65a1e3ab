// SPDX-License-Identifier: MIT
// The write transactions against the recording port: what counts as written.
#include <gtest/gtest.h>

#include "bus/twowire.h"
#include "eeprom/chips.h"
#include "eeprom/transactions.h"
#include "tests/fakes/fake_serial.h"
#include "tests/unit_support.h"

namespace {

class TransactionsTest : public testing::Test {
 protected:
  void SetUp() override {
    ResetState();
  }

  // The bus reads free before the start (CTS asserted), then every
  // acknowledge reads low.
  static bool WriteOneByte() {
    fake_port_calls.clear();
    fake_cts_queue = {1};
    fake_cts_constant = 0;
    return WriteEepromByte(300, 0x5A);
  }
};

// The control byte carries the pins /ADDR: sets and the address's top bits
// where the chip leaves pins unconnected, from A0's place up or in A2's;
// a chip of two word-address bytes takes the rest, high byte first.
TEST_F(TransactionsTest, ControlByteAndWordAddressOfEachKindOfChip) {
  for (const auto& [name, pins, address, control, word_address] :
       {std::tuple{"24C04", 6, 0x1FFu, 0xAE, 0xFF},
        {"24C16", 0, 0x234u, 0xA4, 0x34},
        {"24M01", 2, 0x1FFFFu, 0xA6, 0xFFFF},
        {"24M02", 4, 0x2ABCDu, 0xAC, 0xABCD},
        {"24LC1025", 1, 0x10000u, 0xAA, 0},
        {"24LC515", 3, 0x7FFFu, 0xA6, 0x7FFF},
        {"24LC515", 3, 0x8001u, 0xAE, 1},
        {"24C64", 5, 300u, 0xAA, 300}}) {
    current_chip = FindChip(name);
    chip_pins = static_cast<std::uint8_t>(pins);
    EXPECT_EQ(ControlByteFor(address), control) << name << " " << address;
    EXPECT_EQ(WordAddressFor(address), word_address) << name << " " << address;
  }
  // On the lines, as the last chip: the control byte, both address bytes.
  ASSERT_TRUE(WriteOneByte());
  const std::string sent = FakePortTrace();
  fake_port_calls.clear();
  fake_cts_queue = {1};
  BusFree();
  SendStart();
  for (const int byte : {0xAA, 0x01, 0x2C, 0x5A}) {
    SendByte(static_cast<std::uint8_t>(byte));
  }
  SendStop();
  EXPECT_EQ(sent, FakePortTrace());
}

// A port lost during the stop: the chip never saw the stop, so it stored
// nothing, and the write must not count as made. Lost just after the stop,
// the write stands.
TEST_F(TransactionsTest, PortLostBeforeTheEndOfTheStopFailsTheWrite) {
  ASSERT_TRUE(WriteOneByte());
  const std::size_t calls = fake_port_calls.size();
  EXPECT_EQ(FakePortTrace().substr(FakePortTrace().size() - 11), "R0 D0 R1 D1");

  fake_port_fails_at_call = calls - 1;
  EXPECT_FALSE(WriteOneByte());
  fake_port_fails_at_call = calls + 1;
  EXPECT_TRUE(WriteOneByte());
}

}  // namespace
