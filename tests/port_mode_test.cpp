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
      {"COM1: baud=9600 parity=N data=8 stop=0", {"COM1", 1, 9600, 'N', 8, 0}},
      {"COM12: baud=115200 parity=e data=7 stop=2", {"COM12", 12, 115200, 'E', 7, 2}},
      {"com3 parity=O stop=1", {"com3", 3, 0, 'O', 0, 1}},
      {"Com255:", {"Com255", 255, 0, 0, 0, 0}},
      {"COM2: baud=9601 parity=X data=9 stop=3", {"COM2", 2, 0, 0, 0, 0}},
      {"COM2: baud= data=8x junk =1 parity", {"COM2", 2, 0, 0, 0, 0}},
      {"COM0: baud=9600", {"COM0", 0, 9600, 0, 0, 0}},
      {"COM256: baud=9600", {"COM256", 0, 9600, 0, 0, 0}},
      {"COMX: baud=9600", {"COMX", 0, 9600, 0, 0, 0}},
      {"LPT1:", {"LPT1"}},
      // Names with colons and spaces stay whole up to the last ": ".
      {"/dev/serial/by-path/pci-0000:00:14.0-usb-0:1:1.0-port0: baud=2400",
       {"/dev/serial/by-path/pci-0000:00:14.0-usb-0:1:1.0-port0", 0, 2400}},
      {"/tmp/my port: data=7", {"/tmp/my port", 0, 0, 0, 7}},
      {"\\\\.\\COM12: baud=9600", {"\\\\.\\COM12", 0, 9600}},
      {": baud=9600", {"", 0, 9600}},
      {"", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const PortMode mode = ParsePortMode(c.text);
    EXPECT_EQ(mode.name, c.expected.name);
    EXPECT_EQ(mode.port_number, c.expected.port_number);
    EXPECT_EQ(mode.baud, c.expected.baud);
    EXPECT_EQ(mode.parity, c.expected.parity);
    EXPECT_EQ(mode.data_bits, c.expected.data_bits);
    EXPECT_EQ(mode.stop_bits, c.expected.stop_bits);
  }
}

}  // namespace
