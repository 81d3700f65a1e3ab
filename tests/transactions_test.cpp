// SPDX-License-Identifier: MIT
// The write transactions against the recording port: what counts as written.
#include <gtest/gtest.h>

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
