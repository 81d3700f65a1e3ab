// SPDX-License-Identifier: MIT
// The simulated I2C adapter, driven through the platform's adapter calls as
// the bus layer drives them, with the bus monitor's log of what a kernel
// driver would have put on the bus.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "sim/sim.h"

namespace {

class SimI2cAdapter : public ::testing::Test {
 protected:
  void SetUp() override {
    SimReset();
  }
  void TearDown() override {
    I2cAdapterClose();
    SimReset();
  }
  void Open(const std::string& settings) {
    ASSERT_TRUE(SimConfigureText(settings)) << settings;
    ASSERT_TRUE(I2cAdapterOpen("/dev/i2c-1"));
    SimClearBusLog();
  }
  I2cResult Transfer(std::vector<I2cMessage> messages) {
    return I2cAdapterTransfer(messages, reason_);
  }
  std::string reason_;
};

// Known by its name alone: i2c-N, or a path ending in it.
TEST_F(SimI2cAdapter, KnownByName) {
  for (const char* name : {"i2c-1", "/dev/i2c-12", "dev/i2c-0"}) {
    EXPECT_TRUE(IsI2cAdapter(name)) << name;
  }
  for (const char* name : {"i2c-", "i2c-1x", "xi2c-1", "/dev/i2c-1/", "ttyUSB0", "COM1", ""}) {
    EXPECT_FALSE(IsI2cAdapter(name)) << name;
  }
}

// A write, a random read with its repeated START, a message without bytes
// (the address and the STOP, which the chip counts as an address-only
// write), an address nobody answers, and a data byte refused: each ends
// with one STOP.
TEST_F(SimI2cAdapter, TransfersAsAKernelDriverRunsThem) {
  Open("write_ms=0;nack=5:3");
  std::uint8_t write[] = {0x10, 0x5A};
  EXPECT_EQ(Transfer({{0x54, false, write}}), I2cResult::kDone);
  std::uint8_t word_address = 0x10;
  std::uint8_t read[2] = {};
  EXPECT_EQ(Transfer({{0x54, false, std::span(&word_address, 1)}, {0x54, true, read}}),
            I2cResult::kDone);
  EXPECT_EQ(read[0], 0x5A);
  EXPECT_EQ(read[1], 0xFF);
  EXPECT_EQ(Transfer({{0x54, false, {}}}), I2cResult::kDone);
  EXPECT_EQ(SimGetCounters().address_only_writes, 1U);
  EXPECT_EQ(Transfer({{0x50, false, write}}), I2cResult::kAddressRefused);
  EXPECT_EQ(Transfer({{0x54, false, write}}), I2cResult::kDataRefused);
  EXPECT_EQ(SimBusLogText(),
            "S A8+ 10+ 5A+ P S A8+ 10+ S A9+ 5A+ FF- P S A8+ P S A0- P S A8+ 10+ 5A- P");
}

// The adapter's own failures leave the bus untouched: a message longer than
// it carries, an SDA held low, the adapter gone from a transaction on, and
// a closed adapter.
TEST_F(SimI2cAdapter, AdapterFailuresSendNothing) {
  Open("write_ms=0;i2c_max=4;i2c_fail=2");
  std::uint8_t five[5] = {};
  EXPECT_EQ(Transfer({{0x54, false, five}}), I2cResult::kTooLong);
  EXPECT_EQ(reason_, "Operation not supported (the adapter carries no message of 5 bytes)");
  EXPECT_EQ(Transfer({{0x54, false, std::span(five, 4)}}), I2cResult::kDone);
  EXPECT_EQ(Transfer({{0x54, false, std::span(five, 4)}}), I2cResult::kDone);
  EXPECT_EQ(Transfer({{0x54, false, std::span(five, 4)}}), I2cResult::kFailed);
  EXPECT_EQ(reason_, "No such device");
  EXPECT_EQ(SimBusLogText(), "S A8+ 00+ 00+ 00+ 00+ P S A8+ 00+ 00+ 00+ 00+ P");

  Open("stuck=9");
  EXPECT_EQ(Transfer({{0x54, false, std::span(five, 1)}}), I2cResult::kBusError);
  EXPECT_EQ(reason_, "Connection timed out (SDA or SCL held low, or another master on the bus)");
  I2cAdapterClose();
  EXPECT_EQ(Transfer({{0x54, false, std::span(five, 1)}}), I2cResult::kFailed);
  EXPECT_EQ(reason_, "Bad file descriptor");
  EXPECT_EQ(SimBusLogText(), "");
}

// Controllers that report every refusal as EREMOTEIO; an adapter that does
// not open, which says so and starts no transfer.
TEST_F(SimI2cAdapter, RemoteIoAndFailedOpening) {
  Open("i2c_remoteio;chip=absent");
  std::uint8_t byte = 0;
  EXPECT_EQ(Transfer({{0x54, false, std::span(&byte, 1)}}), I2cResult::kDataRefused);
  I2cAdapterClose();

  ASSERT_TRUE(SimConfigureText("i2c_fail=open"));
  testing::internal::CaptureStderr();
  EXPECT_FALSE(I2cAdapterOpen("i2c-4"));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "ebrilo: cannot open i2c-4: No such device\r\n");
  EXPECT_EQ(Transfer({{0x54, false, std::span(&byte, 1)}}), I2cResult::kFailed);
}

}  // namespace
