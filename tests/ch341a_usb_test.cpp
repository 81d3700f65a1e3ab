// SPDX-License-Identifier: MIT
// The real program, through its libusb code, against a CH341A on an emulated
// USB: umockdev's testbed in front of the unchanged libusb, the command
// packets run on the simulated programmer and chip in this process. libusb
// asks such a node for finished URBs without pause, so the runs are few.
// The program never sees this machine's own USB devices.
#include <unistd.h>

#include <string>

#include "sim/sim.h"
#include "tests/e2e/emulated_run.h"
#include "tests/usb/emulated_ch341a.h"

namespace {

class UsbRun : public EmulatedDeviceRun {
 protected:
  // Runs the program with the testbed in place of the machine's USB, the
  // testbed removed again once the program let go of the device.
  ProgramRun RunOn(const EmulatedUsb& usb, std::vector<std::string> arguments) const {
    EmulatedUsbStart(usb);
    const ProgramRun run = RunReal(std::move(arguments), kUsbPreload, usb.node_owner_only);
    EmulatedUsbStop();
    return run;
  }
};

// The listing names the programmer by its place; a verified page-mode write
// with /F then goes through libusb exactly as through a serial port: the
// same output, and the chip holds the image. The first packet sets the bus
// to 100 kHz and carries the whole probe.
TEST_F(UsbRun, ListsThenWritesAndVerifiesThroughLibusb) {
  ProgramRun run = RunOn({}, {"/PORT:?"});
  EXPECT_NE(run.out.find("\r\nch341a:1-4.2  /dev/bus/usb/001/005  CH341A programmer, USB "
                         "1a86:5512\r\n"),
            std::string::npos)
      << run.out;
  EXPECT_EQ(run.status, 0);

  const Bytes image = PatternImage(41);
  WriteFile("dump.bin", image);
  run = RunOn({}, {"dump.bin", "/PORT:ch341a:1-4.2", "/F", "/V"});
  EXPECT_PRED_FORMAT2(TextsMatch, run.out, VerifiedPageWrite(false));
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.status, 0);
  EXPECT_PRED_FORMAT2(BytesMatch, Bytes(SimData().begin(), SimData().end()), image);
  ASSERT_FALSE(SimProgrammerPackets().empty());
  EXPECT_EQ(SimProgrammerPackets().front().command,
            Bytes({0xAA, 0x61, 0x74, 0x80, 0xA8, 0x80, 0x00, 0x75, 0x00}));
}

// What keeps the program from the programmer, each said in one line on
// standard error with status 4: none plugged in but the same chip in its
// serial mode, the interface held by another program, and a node the user
// may not open, with the udev rule that lets them.
TEST_F(UsbRun, OpeningFailuresSayWhy) {
  const std::string refused = Lines({"ERROR: Circuit not found or bus error!"}) + Closing();
  ProgramRun run = RunOn({.programmer = false, .serial_mode = true}, {"/P", "/PORT:ch341a"});
  EXPECT_EQ(run.err,
            "ebrilo: no CH341A programmer found on USB (1a86:5512, the chip in its I2C mode); "
            "1a86:7523 at USB 1-3 is the same chip in its serial mode, which this program does "
            "not use\r\n");
  EXPECT_EQ(run.status, 4);
  EXPECT_TRUE(run.out.ends_with(refused)) << run.out;

  run = RunOn({.interface_held = true}, {"/P", "/PORT:CH341A"});
  EXPECT_EQ(run.err,
            "ebrilo: ch341a:1-4.2: its interface is held by another program (Resource busy)\r\n");
  EXPECT_EQ(run.status, 4);

  if (geteuid() != 0) {
    GTEST_SKIP() << "the refused node needs root to run the program as another user";
  }
  run = RunOn({.node_owner_only = true}, {"/P", "/PORT:ch341a"});
  EXPECT_EQ(
      run.err,
      "ebrilo: ch341a:1-4.2: cannot open /dev/bus/usb/001/005: Access denied (insufficient "
      "permissions); this udev rule lets the user logged in at the machine open it: "
      "SUBSYSTEM==\"usb\", ATTR{idVendor}==\"1a86\", ATTR{idProduct}==\"5512\", "
      "TAG+=\"uaccess\" (in /etc/udev/rules.d/70-ebrilo-ch341a.rules, then plug the programmer in "
      "again)\r\n");
  EXPECT_EQ(run.status, 4);
}

// The programmer pulled out in the middle of the first page: its error line
// and status 6, never "Done.", and one line with libusb's reason.
TEST_F(UsbRun, UnpluggedMidRunFailsTheWrite) {
  WriteFile("dump.bin", PatternImage(42));
  const ProgramRun run = RunOn({.unplug_at = 2}, {"dump.bin", "/PORT:ch341a"});
  EXPECT_PRED_FORMAT2(TextsMatch, run.out,
                      RunHead(false) +
                          Lines({"Eeprom dump size: OK", "", "Page mode. Writing eeprom...",
                                 "error at 168:0", "", "ERROR: Write eeprom failed!"}) +
                          Closing());
  EXPECT_EQ(run.err,
            "ebrilo: ch341a:1-4.2: sending a command packet failed: No such device (it may have "
            "been disconnected)\r\n");
  EXPECT_EQ(run.status, 6);
}

// Programmers at 10-1, 2-1, 1-10 and 1-9: the listing names them in the
// order of their places' numbers, which is not their order as text, and
// /PORT:ch341a opens the first of them, the one holding the chip.
TEST_F(UsbRun, ProgrammersInTheOrderOfTheirPlaces) {
  ProgramRun run = RunOn({.programmer = false, .places_apart = true}, {"/PORT:?"});
  std::string places;
  for (std::size_t at = run.out.find("\nch341a:"); at != std::string::npos;
       at = run.out.find("\nch341a:", at + 1)) {
    places += run.out.substr(at + 1, run.out.find(' ', at) - at - 1) + " ";
  }
  EXPECT_EQ(places, "ch341a:1-9 ch341a:1-10 ch341a:2-1 ch341a:10-1 ") << run.out;

  run = RunOn({.programmer = false, .places_apart = true}, {"/P", "/PORT:ch341a"});
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.status, 0);
}

}  // namespace
