// SPDX-License-Identifier: MIT
// The Windows program's CH341A code under Wine, against test-only stand-ins
// for setupapi.dll and winusb.dll (tests/winusb): the USB devices they list,
// the simulated programmer and chip behind WinUSB's calls, and none of this
// machine's own devices. scripts/test-windows.sh names the program in
// EBRILO_WINUSB_COMMAND ("wine .../winusb-standin/ebrilo.exe", the stand-ins
// beside it); without it the tests are skipped. Only /PORT:ch341a and the
// listing are run: no serial port is opened.
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "tests/e2e/e2e_support.h"

namespace {

// A programmer with WinUSB, opened through the file "device"; one with the
// maker's driver; the same chip in its serial mode.
constexpr const char* kWinUsb = "5512,Port_#0002.Hub_#0004,WinUSB,device";
constexpr const char* kMakers = "5512,Port_#0001.Hub_#0005,CH341WDM,device";
constexpr const char* kSerial = "7523,Port_#0003.Hub_#0004,CH341SER_A64,";

class WinUsbRun : public ScratchDirectory {
 protected:
  void SetUp() override {
    const char* command = std::getenv("EBRILO_WINUSB_COMMAND");
    if (command == nullptr || *command == '\0') {
      GTEST_SKIP() << "EBRILO_WINUSB_COMMAND names no Windows program under Wine";
    }
    std::istringstream words(command);
    for (std::string word; words >> word;) {
      command_.push_back(word);
    }
    ScratchDirectory::SetUp();
    WriteFile("device", {});
    std::filesystem::create_directory(Path("held"));
  }

  ProgramRun RunWith(const std::string& usb, std::vector<std::string> arguments,
                     const std::string& sim = "") const {
    return Run({.command = command_,
                .arguments = std::move(arguments),
                .sim = "save=chip.bin;" + sim,
                .environment = {"EBRILO_STANDIN_USB=" + usb,
                                "WINEDLLOVERRIDES=mscoree,mshtml=;setupapi,winusb=n"},
                .speed = 1});
  }

  std::vector<std::string> command_;
};

// The listing names each programmer by its hub and port, with its driver
// when that is not WinUSB; a verified page-mode write with /F then goes
// through WinUSB as through a serial port, and the chip holds the image.
TEST_F(WinUsbRun, ListsThenWritesAndVerifies) {
  ProgramRun run = RunWith(std::string(kMakers) + ";" + kWinUsb + ";" + kSerial, {"/PORT:?"});
  EXPECT_NE(run.out.find("\r\nch341a:4-2  Port_#0002.Hub_#0004  CH341A programmer, USB "
                         "1a86:5512\r\nch341a:5-1  Port_#0001.Hub_#0005  CH341A programmer, USB "
                         "1a86:5512, driver CH341WDM (WinUSB needed)\r\n"),
            std::string::npos)
      << run.out;
  EXPECT_EQ(run.status, 0);

  const Bytes image = PatternImage(61);
  WriteFile("dump.bin", image);
  run = RunWith(kWinUsb, {"dump.bin", "/PORT:ch341a", "/F", "/V"});
  EXPECT_PRED_FORMAT2(TextsMatch, run.out, VerifiedPageWrite(false));
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(ReadFile("chip.bin") == image) << "the chip does not hold the image";
}

// Each reason the programmer cannot be used is one line on standard error,
// with Windows' own words where Windows gave a reason, and status 4; pulled
// out in the middle of a write, the write fails with status 6. Each case is
// a test of its own, so that ctest runs the slow starts under Wine side by
// side.
struct FailureCase {
  std::string name;
  std::string usb;
  std::string port;
  std::string sim;
  std::string err;  // the line, or its start where the system's reason follows
  int status;
};

const std::string kZadig =
    ": install WinUSB for it with Zadig (Options > List All Devices, choose USB ID 1A86 5512, "
    "WinUSB, ";

// ctest shows the case by its name.
void PrintTo(const FailureCase& c, std::ostream* out) {
  *out << c.name;
}

class WinUsbFailure : public WinUsbRun, public testing::WithParamInterface<FailureCase> {};

TEST_P(WinUsbFailure, SaysWhy) {
  const FailureCase& c = GetParam();
  WriteFile("dump.bin", PatternImage(62));
  const ProgramRun run = RunWith(c.usb, {"dump.bin", "/PORT:" + c.port}, c.sim);
  EXPECT_TRUE(run.err.starts_with("ebrilo: " + c.err)) << run.err;
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  EXPECT_EQ(run.status, c.status);
}

INSTANTIATE_TEST_SUITE_P(
    Reasons, WinUsbFailure,
    testing::Values(
        FailureCase{"NoProgrammer", "", "ch341a", "",
                    "no CH341A programmer found on USB (1a86:5512, the chip in its I2C mode)\r\n",
                    4},
        FailureCase{"OnlyItsSerialMode", kSerial, "ch341a:4-2", "",
                    "no CH341A programmer found at USB 4-2 (1a86:5512, the chip in its I2C "
                    "mode); 1a86:7523 at USB 4-3 is the same chip in its serial mode, which this "
                    "program does not use\r\n",
                    4},
        FailureCase{
            "MakersDriver", kMakers, "ch341a", "",
            "ch341a:5-1: its driver is CH341WDM, not WinUSB" + kZadig + "Replace Driver)\r\n", 4},
        FailureCase{"NoDriver", "5512,Port_#0002.Hub_#0004,,device", "ch341a", "",
                    "ch341a:4-2: it has no driver" + kZadig + "Install Driver)\r\n", 4},
        FailureCase{"Held", "5512,Port_#0002.Hub_#0004,WinUSB,held", "ch341a", "",
                    "ch341a:4-2: it is held by another program, or this user may not open it (", 4},
        FailureCase{"NoInterface", "5512,Port_#0002.Hub_#0004,WinUSB,", "ch341a", "",
                    "ch341a:4-2: WinUSB gives no device interface to open it by (", 4},
        FailureCase{"Unplugged", kWinUsb, "ch341a", "unplug=11",
                    "ch341a:4-2: sending a command packet failed: ", 6}),
    [](const testing::TestParamInfo<FailureCase>& param) { return param.param.name; });

}  // namespace
