// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <string>

#include "bus/serial_lines.h"
#include "bus/transfer.h"
#include "bus/twowire.h"
#include "tests/fakes/fake_clock.h"
#include "tests/fakes/fake_serial.h"
#include "tests/unit_support.h"

namespace {

class TwoWireTest : public testing::Test {
 protected:
  void SetUp() override {
    ResetState();
  }
};

// Trace fragments each start with a space, so that they join by appending.
const std::string kStart = " D1 R1 D0 R0";
const std::string kStop = " R0 D0 R1 D1";

// The port calls of one byte in direct polarity: each bit set on DTR with a
// clock pulse, MSB first, then the released SDA sampled in the ninth clock.
std::string ByteTrace(std::uint8_t value) {
  std::string trace;
  for (int bit = 7; bit >= 0; --bit) {
    trace += ((value >> bit) & 1) != 0 ? " D1 R1 R0" : " D0 R1 R0";
  }
  return trace + " D1 R1 C R0";
}

TEST_F(TwoWireTest, StartAndStopConditions) {
  // SDA falls while SCL is high, then the clock goes low for the first bit.
  SendStart();
  EXPECT_EQ(FakePortTrace(), kStart.substr(1));
  // SDA rises while SCL is high, leaving the bus idle.
  ResetState();
  SendStop();
  EXPECT_EQ(FakePortTrace(), kStop.substr(1));
}

TEST_F(TwoWireTest, SendByteClocksOutMsbFirstThenSamplesTheAck) {
  fake_cts_constant = 0;
  EXPECT_TRUE(SendByte(0xA5));
  EXPECT_EQ(FakePortTrace(),
            "D1 R1 R0 D0 R1 R0 D1 R1 R0 D0 R1 R0 D0 R1 R0 D1 R1 R0 D0 R1 R0 D1 R1 R0 "
            "D1 R1 C R0");
}

TEST_F(TwoWireTest, AcknowledgeIsALowSdaOnAHealthyPort) {
  const struct {
    const char* scenario;
    bool invert_sda_in;
    std::int32_t cts;
    bool port_failed;
    bool ack;
  } cases[] = {
      {"receiver pulls SDA low", false, 0, false, true},
      {"SDA stays released", false, 1, false, false},
      // A dead port reads CTS as 0, which in direct polarity is a low SDA.
      {"failed port never acknowledges", false, 0, true, false},
      {"/I: asserted CTS is the low SDA", true, 1, false, true},
      {"/I: failed port never acknowledges", true, 1, true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.scenario);
    ResetState();
    bus_options.invert_sda_in = c.invert_sda_in;
    fake_cts_constant = c.cts;
    fake_port_failed = c.port_failed;
    EXPECT_EQ(SendByte(0x5A), c.ack);
  }
}

// A byte from the chip: SDA released, then eight clocks sampled while SCL
// is high, most significant bit first, then the master's acknowledge (SDA
// low for one clock) or, after the last byte, none. 28 port operations.
TEST_F(TwoWireTest, ReceiveByteSamplesMsbFirstThenAcknowledgesOrNot) {
  for (const bool acknowledge : {true, false}) {
    SCOPED_TRACE(acknowledge);
    ResetState();
    fake_cts_queue = {1, 0, 1, 0, 0, 1, 1, 0};
    EXPECT_EQ(ReceiveByte(acknowledge), 0xA6);
    std::string expected = "D1";
    for (int bit = 0; bit < 8; ++bit) {
      expected += " R1 C R0";
    }
    expected += acknowledge ? " D0 R1 R0" : " D1 R1 R0";
    EXPECT_EQ(FakePortTrace(), expected);
    EXPECT_EQ(fake_port_calls.size(), 28U);
  }
  // /I: an asserted CTS is a low data line.
  ResetState();
  bus_options.invert_sda_in = true;
  fake_cts_queue = {0, 1, 1, 1, 1, 1, 1, 0};
  EXPECT_EQ(ReceiveByte(false), 0x81);
}

// The loop-back check passes only when SDA-In reads back the level driven
// on SDA-Out, in bus levels after inversion.
TEST_F(TwoWireTest, CheckCircuitNeedsSdaInToFollowSdaOut) {
  const struct {
    const char* scenario;
    int flags;  // 1: /D, 2: /I
    CtsRule rule;
    bool passes;
    const char* trace;
  } cases[] = {
      {"direct, CTS follows DTR", 0, CtsRule::FollowsDtr, true, "D1 R1 C"},
      {"direct, CTS never asserted", 0, CtsRule::Constant, false, "D1 R1 C"},
      {"direct, CTS opposes DTR", 0, CtsRule::OpposesDtr, false, "D1 R1 C"},
      // With /I the check drives SDA low and expects to read it low.
      {"/I, inverting circuit", 2, CtsRule::OpposesDtr, true, "D0 R0 C"},
      {"/I, CTS never asserted", 2, CtsRule::Constant, false, "D0 R0 C"},
      {"/I alone, CTS simply follows DTR", 2, CtsRule::FollowsDtr, false, "D0 R0 C"},
      {"/D /I, CTS follows DTR", 3, CtsRule::FollowsDtr, true, "D1 R0 C"},
      {"/D alone, CTS follows DTR", 1, CtsRule::FollowsDtr, false, "D0 R1 C"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.scenario);
    ResetState();
    bus_options.invert_sda_out = (c.flags & 1) != 0;
    bus_options.invert_sda_in = (c.flags & 2) != 0;
    fake_cts_rule = c.rule;
    EXPECT_EQ(CheckCircuit(), c.passes);
    EXPECT_EQ(FakePortTrace(), c.trace);
  }
}

// Through a USB adapter every line change takes a round trip: here 1 ms, the
// step of the fake clock between the readings before and after a call.
// The check then drives SDA-Out to and fro to time CTS: one that follows at
// once needs no settle time and the loop-back is read again; one that never
// follows fails the check with a line on standard error.
TEST_F(TwoWireTest, CheckCircuitMeasuresCtsOnASlowPort) {
  fake_microsecond_step = 1000;
  fake_cts_rule = CtsRule::FollowsDtr;
  testing::internal::CaptureStderr();
  EXPECT_TRUE(CheckCircuit());
  std::string toggles;
  for (int pair = 0; pair < 9; ++pair) {
    toggles += " D0 C D1 C";
  }
  EXPECT_EQ(FakePortTrace(), "D1 R1 C C" + toggles + " C");
  EXPECT_EQ(ReadSettle(), 0U);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "ebrilo: /dev/ttyFAKE: each line change takes 1.0 ms; CTS follows at once\r\n");

  ResetState();
  fake_microsecond_step = 1000;
  fake_cts_constant = 1;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(CheckCircuit());
  EXPECT_EQ(FakePortTrace().substr(0, 19), "D1 R1 C C D0 C C C ");
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "ebrilo: /dev/ttyFAKE: CTS did not follow DTR within 100 ms\r\n");
  EXPECT_EQ(ReadSettle(), 0U);
}

// The probe clears a stuck bus with clock pulses until SDA reads high, nine
// at most, then addresses the chip and, if it answers, sends word address 0.
TEST_F(TwoWireTest, ProbeDeviceClearsTheBusThenAddressesTheChip) {
  const struct {
    const char* scenario;
    std::deque<std::int32_t> cts;  // direct polarity: 1 is a high SDA
    std::int32_t then_cts;
    int pulses;
    bool present;
  } cases[] = {
      {"SDA high at once: one pulse", {1, 0}, 1, 1, true},
      {"SDA let go after the third pulse", {0, 0, 1, 0}, 1, 3, true},
      {"SDA let go after the ninth pulse", {0, 0, 0, 0, 0, 0, 0, 0, 1, 0}, 1, 9, true},
      // Nine pulses, then the start whatever SDA does.
      {"SDA high only after nine pulses", {0, 0, 0, 0, 0, 0, 0, 0, 0}, 1, 9, false},
      {"SDA never let go", {}, 0, 9, true},
      {"control byte acked, word address not", {1, 0, 1}, 1, 1, true},
      {"no acknowledge: no second byte", {1, 1}, 0, 1, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.scenario);
    ResetState();
    fake_cts_queue = c.cts;
    fake_cts_constant = c.then_cts;
    EXPECT_EQ(ProbeDevice(0xA8), c.present);
    std::string expected = kStop;
    for (int pulse = 0; pulse < c.pulses; ++pulse) {
      expected += " R1 C R0";
    }
    expected += kStart + ByteTrace(0xA8) + (c.present ? ByteTrace(0x00) : "") + kStop;
    EXPECT_EQ(FakePortTrace(), expected.substr(1));
  }
}

TEST_F(TwoWireTest, OpenBusOpensComOneWaitsThenChecksCircuitAndChip) {
  last_control_byte = 0xAC;
  last_word_address = 0x10;
  position = 512;
  // Circuit check reads CTS high; the probe's clearing pulse reads high and
  // the chip acknowledges its control byte.
  fake_cts_queue = {1, 1, 0};
  fake_cts_constant = 1;
  OpenBus();
  EXPECT_EQ(fake_port_mode, "COM1: baud=9600 parity=N data=8 stop=0");
  EXPECT_EQ(FakePortTrace(), "open D1 R1 D1 R1 C" + kStop + " R1 C R0" + kStart + ByteTrace(0xA8) +
                                 ByteTrace(0x00) + kStop);
  // The lines stay still until 200 ms after opening.
  EXPECT_EQ(fake_tick_readings.back() - fake_tick_readings.front(), 200U);
  EXPECT_EQ(last_control_byte, 0);
  EXPECT_EQ(last_word_address, 0);
  EXPECT_EQ(position, 0);
}

TEST_F(TwoWireTest, CloseBusLeavesTheLinesHighThenClosesThePort) {
  CloseBus();
  EXPECT_EQ(FakePortTrace(), "D1 R1 close");
}

// Fatal bus errors print their message and the closing prompt, and leave the
// port to be released by process exit.
TEST_F(TwoWireTest, OpenBusEndsTheRunWhenCircuitOrChipIsMissing) {
  // CTS never asserted: no interface circuit on the port.
  fake_cts_constant = 0;
  EXPECT_EQ(OutputOfExit(OpenBus, 4), "ERROR: Circuit not found or bus error!\r\n" + kClosingLines);
  // The same with /I: a dead CTS is no loop-back in either polarity.
  bus_options.invert_sda_in = true;
  EXPECT_EQ(OutputOfExit(OpenBus, 4), "ERROR: Circuit not found or bus error!\r\n" + kClosingLines);
  // Circuit present (CTS follows DTR), but nothing pulls SDA low to answer.
  bus_options.invert_sda_in = false;
  fake_cts_rule = CtsRule::FollowsDtr;
  EXPECT_EQ(OutputOfExit([] { OpenBus() ? void() : ReportChipMissing({}); }, 5),
            "ERROR: Eeprom not available!\r\n" + kClosingLines);
  // A port that failed to open answers CTS with 0 and is no circuit.
  fake_port_failed = true;
  fake_cts_rule = CtsRule::Constant;
  EXPECT_EQ(OutputOfExit(OpenBus, 4), "ERROR: Circuit not found or bus error!\r\n" + kClosingLines);
}

}  // namespace
