// SPDX-License-Identifier: MIT
// The mode text both port implementations read: settings that parse are
// taken, everything else is left out.
#include <gtest/gtest.h>

#include "platform/port_mode.h"

namespace {

TEST(PortModeTest, ReadsWhatParsesAndLeavesOutTheRest) {
  struct Case {
    const char* text;
    PortMode expected;
  };
  const Case cases[] = {
      // The fixed mode text: "stop=0" names no stop bit count.
      {"COM1: baud=9600 parity=N data=8 stop=0", {1, 9600, 'N', 8, 0}},
      {"COM12: baud=115200 parity=e data=7 stop=2", {12, 115200, 'E', 7, 2}},
      {"com3 parity=O stop=1", {3, 0, 'O', 0, 1}},
      {"COM2: baud=9601 parity=X data=9 stop=3", {2, 0, 0, 0, 0}},
      {"COM2: baud= data=8x junk =1 parity", {2, 0, 0, 0, 0}},
      {"COM0: baud=9600", {0, 9600, 0, 0, 0}},
      {"COMX: baud=9600", {0, 9600, 0, 0, 0}},
      {"LPT1:", {}},
      {"", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const PortMode mode = ParsePortMode(c.text);
    EXPECT_EQ(mode.port_number, c.expected.port_number);
    EXPECT_EQ(mode.baud, c.expected.baud);
    EXPECT_EQ(mode.parity, c.expected.parity);
    EXPECT_EQ(mode.data_bits, c.expected.data_bits);
    EXPECT_EQ(mode.stop_bits, c.expected.stop_bits);
  }
}

}  // namespace
