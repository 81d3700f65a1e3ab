// SPDX-License-Identifier: MIT
// A CH341A programmer on an emulated USB, in front of the unchanged libusb of
// the program under test. umockdev stands the device's sysfs entry and node
// in a testbed of this process; a program started with its preload library
// sees them in place of the machine's own USB, and its usbfs requests on the
// node come to this process, which runs each command packet on the simulated
// programmer and chip.
#pragma once

struct EmulatedUsb {
  bool programmer = true;    // a 1a86:5512 at 1-4.2, /dev/bus/usb/001/005
  bool serial_mode = false;  // a 1a86:7523 at 1-3
  // Programmers at 10-1, 2-1, 1-10 and 1-9, places whose numbers sort
  // otherwise as text; the chip is in the one at 1-9.
  bool places_apart = false;
  bool interface_held = false;  // claiming the interface fails: another program has it
  int unplug_at = -1;           // from this command packet on (0 the first), the device is gone
  // Every user may see the testbed, but only its owner (root) may open the
  // programmer's node.
  bool node_owner_only = false;
};

// Builds the testbed; the programs started from now on see it. The simulated
// chip starts as SimConfigure and SimData leave it.
void EmulatedUsbStart(const EmulatedUsb& usb);
// Once the program has ended: ends the simulated session (the chip's files
// saved) and removes the testbed.
void EmulatedUsbStop();

// The environment entry that makes a program see the testbed.
inline constexpr const char* kUsbPreload = "LD_PRELOAD=libumockdev-preload.so.0";
