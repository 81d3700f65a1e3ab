// SPDX-License-Identifier: MIT
// The simulated I2C adapter through the platform's adapter calls, with the
// bus monitor's log of what a kernel driver would put on the bus.
#include <gtest/gtest.h>

#include <vector>

#include "platform/platform.h"
#include "sim/sim.h"

namespace {

using SimI2cAdapter = ::testing::Test;

I2cResult Transfer(std::vector<I2cMessage> messages, std::string& reason) {
  return I2cAdapterTransfer(messages, reason);
}

// Known by name alone. A write, a random read with its repeated START, a
// message without bytes (the address and the STOP: the chip counts an
// address-only write), an address nobody answers and a refused data byte,
// each ended by one STOP; the adapter's own failures send nothing: a
// message too long, the adapter gone, a closed adapter.
TEST_F(SimI2cAdapter, TransfersAsAKernelDriverRunsThem) {
  EXPECT_TRUE(IsI2cAdapter("/dev/i2c-12"));
  EXPECT_FALSE(IsI2cAdapter("i2c-1x"));
  SimReset();
  ASSERT_TRUE(SimConfigureText("write_ms=0;nack=5:3;i2c_max=4;i2c_fail=6"));
  ASSERT_TRUE(I2cAdapterOpen("i2c-1"));
  std::string reason;
  std::uint8_t write[] = {0x10, 0x5A};
  std::uint8_t read[2] = {};
  EXPECT_EQ(Transfer({{0x54, false, write}}, reason), I2cResult::kDone);
  EXPECT_EQ(Transfer({{0x54, false, std::span(write, 1)}, {0x54, true, read}}, reason),
            I2cResult::kDone);
  EXPECT_EQ(read[1], 0xFF);
  EXPECT_EQ(Transfer({{0x54, false, {}}}, reason), I2cResult::kDone);
  EXPECT_EQ(SimGetCounters().address_only_writes, 1U);
  EXPECT_EQ(Transfer({{0x50, false, write}}, reason), I2cResult::kAddressRefused);
  std::uint8_t five[5] = {};
  EXPECT_EQ(Transfer({{0x54, false, five}}, reason), I2cResult::kTooLong);
  EXPECT_EQ(reason, "Operation not supported (the adapter carries no message of 5 bytes)");
  EXPECT_EQ(Transfer({{0x54, false, write}}, reason), I2cResult::kDataRefused);
  EXPECT_EQ(Transfer({{0x54, false, write}}, reason), I2cResult::kFailed);
  EXPECT_EQ(reason, "No such device");
  I2cAdapterClose();
  EXPECT_EQ(Transfer({{0x54, false, write}}, reason), I2cResult::kFailed);
  EXPECT_EQ(reason, "Bad file descriptor");
  EXPECT_EQ(SimBusLogText(),
            "S A8+ 10+ 5A+ P S A8+ 10+ S A9+ 5A+ FF- P S A8+ P S A0- P S A8+ 10+ 5A- P");
  SimReset();
}

}  // namespace
