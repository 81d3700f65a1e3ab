// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <string>

#include "bus/serial_lines.h"
#include "tests/fakes/fake_serial.h"
#include "tests/unit_support.h"

namespace {

class SerialLinesTest : public testing::Test {
 protected:
  void SetUp() override {
    ResetState();
  }
};

BusOptions Flags(int bits) {
  return {(bits & 1) != 0, (bits & 2) != 0, (bits & 4) != 0};
}

// Each drive primitive makes exactly one call on its own modem line, and only
// its own inversion flag changes the level; the other two flags never do.
TEST_F(SerialLinesTest, EachDrivePrimitiveMakesOneCallOnItsOwnLine) {
  const struct {
    const char* name;
    void (*primitive)();
    bool BusOptions::*own_flag;
    const char* direct;
    const char* inverted;
  } cases[] = {
      {"SdaHigh", SdaHigh, &BusOptions::invert_sda_out, "D1", "D0"},
      {"SdaLow", SdaLow, &BusOptions::invert_sda_out, "D0", "D1"},
      {"SclHigh", SclHigh, &BusOptions::invert_scl, "R1", "R0"},
      {"SclLow", SclLow, &BusOptions::invert_scl, "R0", "R1"},
  };
  for (const auto& c : cases) {
    for (int bits = 0; bits < 8; ++bits) {
      SCOPED_TRACE(std::string(c.name) + " flags " + std::to_string(bits));
      ResetState();
      bus_options = Flags(bits);
      c.primitive();
      EXPECT_EQ(FakePortTrace(), bus_options.*c.own_flag ? c.inverted : c.direct);
    }
  }
}

// A line set to the level it already has is set again: no shadow copy.
TEST_F(SerialLinesTest, RepeatedLevelsAreNotMerged) {
  SdaHigh();
  SdaHigh();
  SclLow();
  SclLow();
  EXPECT_EQ(FakePortTrace(), "D1 D1 R0 R0");
}

TEST_F(SerialLinesTest, ReadSdaAppliesOnlyTheInputInversion) {
  const struct {
    const char* scenario;
    int flags;
    std::int32_t cts;
    bool high;
  } cases[] = {
      {"direct: asserted CTS is a high line", 0, 1, true},
      {"direct: released CTS is a low line", 0, 0, false},
      {"any non-zero CTS result counts as asserted", 0, -7, true},
      {"output inversions leave the input alone", 3, 1, true},
      {"/I: asserted CTS is a low line", 4, 1, false},
      {"/I: released CTS is a high line", 4, 0, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.scenario);
    ResetState();
    bus_options = Flags(c.flags);
    fake_cts_constant = c.cts;
    EXPECT_EQ(ReadSda(), c.high);
    EXPECT_EQ(FakePortTrace(), "C");
  }
}

}  // namespace
