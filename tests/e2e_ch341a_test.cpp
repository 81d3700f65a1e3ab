// SPDX-License-Identifier: MIT
// Whole runs through the simulated CH341A programmer: every job prints (the
// serial port's timer line aside), ends and leaves the chip exactly as the
// same job on a serial port does; a programmer pulled out fails the job with
// one line naming it; with two programmers plugged in, the listing names both
// and /PORT: chooses one.
#include <algorithm>
#include <filesystem>
#include <regex>

#include "tests/e2e/e2e_support.h"

namespace {

namespace fs = std::filesystem;

const std::string kGone =
    "ebrilo: ch341a:1-1: sending a command packet failed: No such device (it may have been "
    "disconnected)\r\n";

class ProgrammerRun : public ScratchDirectory {
 protected:
  // The job on the serial port and through the programmer, from the same
  // chip: the same output and status, the same chip and file afterwards.
  void ExpectAsOnASerialPort(const std::vector<std::string>& arguments, const std::string& sim) {
    SCOPED_TRACE(arguments[0] + " " + arguments.back() + " " + sim);
    std::vector<std::string> through = arguments;
    through.push_back("/PORT:ch341a");
    const bool reads = std::find(arguments.begin(), arguments.end(), "/R") != arguments.end();
    ProgramRun serial;
    Bytes serial_chip;
    Bytes serial_app;
    Bytes serial_file;
    for (const bool programmer : {false, true}) {
      fs::remove(Path("read.bin"));
      const ProgramRun run =
          Run({.arguments = programmer ? through : arguments,
               .sim = "load=old.bin;save=chip.bin;app_save=app.bin;write_ms=3;" + sim});
      const Bytes file = reads && fs::exists(Path("read.bin")) ? ReadFile("read.bin") : Bytes();
      if (!programmer) {
        serial = run;
        serial_chip = ReadFile("chip.bin");
        serial_app = ReadFile("app.bin");
        serial_file = file;
        continue;
      }
      // Only the serial port's run calibrates the bit delay.
      ASSERT_TRUE(MaskDelayCount(serial.out).starts_with(RunHead())) << serial.out;
      EXPECT_PRED_FORMAT2(TextsMatch, run.out,
                          RunHead(false) + MaskDelayCount(serial.out).substr(RunHead().size()));
      EXPECT_EQ(run.status, serial.status);
      EXPECT_EQ(run.err, serial.err);
      EXPECT_PRED_FORMAT2(BytesMatch, ReadFile("chip.bin"), serial_chip);
      EXPECT_PRED_FORMAT2(BytesMatch, ReadFile("app.bin"), serial_app);
      EXPECT_EQ(file, serial_file);
    }
  }
};

// Page and byte mode, /F and /V, /P, /R and /R /V, a refused page with and
// without /E, a chip that stores nothing: as on a serial port, what the run
// says on standard error of the chip's refusals included. The polls and
// probes put no address alone on the bus of a chip that the 24RF08's fault
// would corrupt (its APP register 15 would change).
TEST_F(ProgrammerRun, EveryJobAsOnASerialPort) {
  WriteFile("dump.bin", PatternImage(51));
  WriteFile("old.bin", PatternImage(52));
  ExpectAsOnASerialPort({"dump.bin"}, "");
  ExpectAsOnASerialPort({"dump.bin", "/B", "/F"}, "");
  ExpectAsOnASerialPort({"dump.bin", "/F", "/V"}, "address_only_fault");
  ExpectAsOnASerialPort({"/P", "/V"}, "");
  ExpectAsOnASerialPort({"read.bin", "/R", "/V"}, "");
  ExpectAsOnASerialPort({"dump.bin"}, "nack=3");
  ExpectAsOnASerialPort({"dump.bin", "/E"}, "nack=3:5");
  ExpectAsOnASerialPort({"dump.bin", "/V"}, "wp");
}

// The programmer pulled out in the middle of a write or a read: the
// transaction's error line and status 6 or 7, never "Done.", no file, and
// one line on standard error with the programmer's name and libusb's words.
// With /E, as on a serial port that vanished, every transaction after it is
// listed as failed, and the line comes once.
TEST_F(ProgrammerRun, UnpluggedMidRunFailsTheJob) {
  WriteFile("dump.bin", PatternImage(53));
  ProgramRun run = Run({.arguments = {"dump.bin", "/PORT:ch341a"}, .sim = "unplug=11"});
  EXPECT_PRED_FORMAT2(TextsMatch, run.out,
                      RunHead(false) +
                          Lines({"Eeprom dump size: OK", "", "Page mode. Writing eeprom...",
                                 ">>>>>error at 168:80", "", "ERROR: Write eeprom failed!"}) +
                          Closing());
  EXPECT_EQ(run.status, 6);
  EXPECT_EQ(run.err, kGone);

  run = Run({.arguments = {"dump.bin", "/PORT:ch341a", "/E"}, .sim = "unplug=11"});
  EXPECT_NE(run.out.find(">>>>>error at 168:80\r\nerror at 168:96\r\n"), std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("error at 174:240\r\n"), std::string::npos) << run.out;
  EXPECT_EQ(run.err, kGone);

  run = Run({.arguments = {"read.bin", "/R", "/PORT:ch341a"}, .sim = "unplug=3"});
  EXPECT_PRED_FORMAT2(
      TextsMatch, run.out,
      RunHead(false) +
          Lines({"", "Reading eeprom...", ">error at 168:128", "", "ERROR: Read eeprom failed!"}) +
          Closing());
  EXPECT_EQ(run.status, 7);
  EXPECT_EQ(run.err, kGone);
  EXPECT_FALSE(fs::exists(Path("read.bin")));

  // Gone before the probe: the bus does not open.
  run = Run({.arguments = {"/P", "/PORT:ch341a"}, .sim = "unplug=0"});
  EXPECT_EQ(run.status, 4);
  EXPECT_EQ(run.err,
            "ebrilo: ch341a:1-1: the chip's probe at address 0x54 failed: sending a command "
            "packet failed: No such device (it may have been disconnected)\r\n");
}

// Two programmers: the listing names both, the chip is in the first one's
// socket. The keyword alone takes the first; a place takes that one, and an
// empty socket is error 5 naming it; a place with no programmer, or no
// programmer at all, is error 4.
TEST_F(ProgrammerRun, TwoProgrammersListedAndChosen) {
  ProgramRun run = Run({.arguments = {"/PORT:?"}, .sim = "programmers=2"});
  // The columns are as wide as the machine's own ports make them.
  EXPECT_TRUE(std::regex_search(
      run.out, std::regex("\r\nch341a:1-1 +\\(simulated\\) +CH341A programmer, USB 1a86:5512, "
                          "the simulated chip in its socket\r\nch341a:1-4\\.2 +\\(simulated\\) "
                          "+CH341A programmer, USB 1a86:5512, its socket empty\r\n")))
      << run.out;

  run = Run({.arguments = {"/P", "/PORT:CH341A"}, .sim = "programmers=2"});
  EXPECT_EQ(run.status, 0);
  run = Run({.arguments = {"/P", "/PORT:ch341a:1-1", "/X"}, .sim = "programmers=2"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err,
            "ebrilo: /X, /D and /I have no meaning on a USB programmer: going on without them\r\n");

  run = Run({.arguments = {"/P", "/PORT:ch341a:1-4.2"}, .sim = "programmers=2"});
  EXPECT_EQ(run.status, 5);
  EXPECT_EQ(run.err,
            "ebrilo: ch341a:1-4.2: no chip acknowledges address 0x54 (control byte 0xA8): check "
            "the chip, its supply and its wiring\r\n");
  EXPECT_TRUE(run.out.ends_with(Lines({"ERROR: Eeprom not available!"}) + Closing())) << run.out;

  run = Run({.arguments = {"/P", "/PORT:ch341a:1-4.2"}, .sim = "programmers=1"});
  EXPECT_EQ(run.status, 4);
  EXPECT_EQ(run.err,
            "ebrilo: no CH341A programmer found at USB 1-4.2 (1a86:5512, the chip in its I2C "
            "mode)\r\n");
  run = Run({.arguments = {"/P", "/PORT:ch341a"}, .sim = "programmers=0"});
  EXPECT_EQ(run.status, 4);
  EXPECT_EQ(run.err,
            "ebrilo: no CH341A programmer found on USB (1a86:5512, the chip in its I2C "
            "mode)\r\n");
}

}  // namespace
