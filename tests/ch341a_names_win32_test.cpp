// SPDX-License-Identifier: MIT
// The CH341A programmer's Windows texts and checks, plain text work tested
// on the build machine: which hardware ids are the programmer's, the place
// it is named by, whether its driver is WinUSB, and the lines that say why
// it cannot be used.
#include <gtest/gtest.h>

#include "platform/ch341a_names_win32.h"

namespace {

TEST(Ch341aWin32Test, HardwareIdsAndPlaces) {
  using Ids = std::vector<std::string>;
  EXPECT_EQ(Ch341ProductOf({"USB\\VID_1A86&PID_5512&REV_0304", "USB\\VID_1A86&PID_5512"}), 0x5512);
  EXPECT_EQ(Ch341ProductOf({"usb\\vid_1a86&pid_7523"}), 0x7523);
  for (const Ids& other : {Ids{"USB\\VID_1A86&PID_E008"}, Ids{"USB\\VID_1A87&PID_5512"},
                           Ids{"USB\\VID_1A86&PID_55120"}, Ids{"USB\\VID_1A86&PID_551"},
                           Ids{"HID\\VID_1A86&PID_5512"}, Ids{}}) {
    EXPECT_EQ(Ch341ProductOf(other), std::nullopt) << (other.empty() ? "" : other[0]);
  }

  EXPECT_EQ(Ch341aPlaceOf("Port_#0002.Hub_#0004", "USB\\X"), "4-2");
  EXPECT_EQ(Ch341aPlaceOf("Port_#0012.Hub_#0001", "USB\\X"), "1-12");
  EXPECT_EQ(Ch341aPlaceOf("", "USB\\VID_1A86&PID_5512\\5&1B2C3D4&0&2"),
            "USB\\VID_1A86&PID_5512\\5&1B2C3D4&0&2");
  EXPECT_EQ(Ch341aPlaceOf("Port_#00x2.Hub_#0004", "USB\\X"), "USB\\X");
  EXPECT_EQ(Ch341aPlaceOf("0000.0014.0000.004.002", "USB\\X"), "USB\\X");
}

// Only WinUSB will do: none and the maker's driver are named, with the
// Zadig steps that give it WinUSB (Install Driver for a device without one).
TEST(Ch341aWin32Test, DriverCheckAndTexts) {
  EXPECT_TRUE(IsWinUsbService("WinUSB"));
  EXPECT_TRUE(IsWinUsbService("winusb"));
  EXPECT_FALSE(IsWinUsbService("CH341WDM"));
  EXPECT_FALSE(IsWinUsbService(""));
  EXPECT_FALSE(IsWinUsbService("WinUSB2"));

  EXPECT_EQ(Ch341aDriverText("ch341a:4-2", "CH341WDM"),
            "ch341a:4-2: its driver is CH341WDM, not WinUSB: install WinUSB for it with Zadig "
            "(Options > List All Devices, choose USB ID 1A86 5512, WinUSB, Replace Driver)");
  EXPECT_EQ(Ch341aDriverText("ch341a:4-2", ""),
            "ch341a:4-2: it has no driver: install WinUSB for it with Zadig (Options > List All "
            "Devices, choose USB ID 1A86 5512, WinUSB, Install Driver)");
  EXPECT_EQ(Ch341aListingText("WinUSB"), "CH341A programmer, USB 1a86:5512");
  EXPECT_EQ(Ch341aListingText("CH341WDM"),
            "CH341A programmer, USB 1a86:5512, driver CH341WDM (WinUSB needed)");
  EXPECT_EQ(Ch341aListingText(""), "CH341A programmer, USB 1a86:5512, no driver (WinUSB needed)");
  EXPECT_EQ(Ch341aOpenFailureText("ch341a:4-2", "\\\\?\\usb#x", true, "Access is denied"),
            "ch341a:4-2: it is held by another program, or this user may not open it (Access is "
            "denied)");
  EXPECT_EQ(Ch341aOpenFailureText("ch341a:4-2", "\\\\?\\usb#x", false, "The device is not ready"),
            "ch341a:4-2: cannot open \\\\?\\usb#x: The device is not ready");
}

}  // namespace
