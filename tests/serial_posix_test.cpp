// SPDX-License-Identifier: MIT
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/platform.h"
#include "platform/serial_posix.h"
#include "tests/pseudo_terminal.h"

namespace {

constexpr const char* kMode = "COM1: baud=9600 parity=N data=8 stop=0";

// /PORT: names on Linux: a path as given, COMn as the n-th on-board port,
// anything else a device in /dev. An empty name cannot be a port.
TEST(PortDevicePathTest, MapsPortNamesToDevices) {
  const struct {
    const char* mode;
    const char* path;
  } cases[] = {
      {"COM1: baud=9600 parity=N data=8 stop=0", "/dev/ttyS0"},
      {"COM10", "/dev/ttyS9"},
      {"COM2 baud=9600", "/dev/ttyS1"},
      {"com3:", "/dev/ttyS2"},
      {"ttyUSB0: baud=9600", "/dev/ttyUSB0"},
      {"ttyACM1: baud=9600", "/dev/ttyACM1"},
      {"/dev/ttyS4: baud=9600", "/dev/ttyS4"},
      {"/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0: baud=9600",
       "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"},
      {"/dev/serial/by-path/pci-0000:00:14.0-usb-0:1:1.0-port0: baud=9600",
       "/dev/serial/by-path/pci-0000:00:14.0-usb-0:1:1.0-port0"},
      {"./ttyX: baud=9600", "./ttyX"},
      {"COM0:", "/dev/COM0"},
      {"COM1x:", "/dev/COM1x"},
      {": baud=9600", ""},
      {"", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(PortDevicePath(c.mode), c.path) << '"' << c.mode << '"';
  }
}

// Each test owns a pseudo-terminal: a real terminal device, but one without
// modem lines, and never one of this machine's own serial ports.
class SerialPosixTest : public testing::Test {
 protected:
  void SetUp() override {
    master_ = OpenPseudoTerminal(slave_);
    ASSERT_NE(master_, -1);
  }

  void TearDown() override {
    CLOSECOM();
    close(master_);
  }

  // Whether another program could take the device for itself right now.
  static bool OthersCanLock(const std::string& path) {
    const int other = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    const bool locked = other != -1 && flock(other, LOCK_EX | LOCK_NB) == 0;
    close(other);
    return locked;
  }

  static void ExpectDeadLines() {
    EXPECT_NE(DTR(1), 0);
    EXPECT_NE(RTS(0), 0);
    EXPECT_EQ(CTS(), 0);
    EXPECT_TRUE(PortFailed());
  }

  int master_ = -1;
  std::string slave_;
};

TEST_F(SerialPosixTest, MissingDeviceLeavesAFailedPortWithDeadLines) {
  EXPECT_NE(OpenSerialDevice("/nonexistent/ttyS0", kMode), 0);
  EXPECT_TRUE(PortFailed());
  ExpectDeadLines();
}

// A mode text naming no port opens nothing at all.
TEST_F(SerialPosixTest, ModeWithoutAPortNameFails) {
  EXPECT_NE(OPENCOM(": baud=9600"), 0);
  ExpectDeadLines();
}

// A pty opens and configures like a port, but it has no modem lines: the
// first line change fails, and from then on CTS reads 0 and the port
// reports the failure.
TEST_F(SerialPosixTest, TerminalWithoutModemLinesFailsAtTheFirstLineChange) {
  ASSERT_EQ(OpenSerialDevice(slave_.c_str(), kMode), 0);
  EXPECT_FALSE(PortFailed());
  ExpectDeadLines();
  EXPECT_EQ(CLOSECOM(), 0);
  // A successful open clears the remembered failure.
  ASSERT_EQ(OpenSerialDevice(slave_.c_str(), kMode), 0);
  EXPECT_FALSE(PortFailed());
}

// Nobody else may drive the lines during a run: the open port holds an
// exclusive lock, and a device someone else holds is not opened.
TEST_F(SerialPosixTest, OpenPortIsLockedAgainstOthers) {
  ASSERT_TRUE(OthersCanLock(slave_));
  ASSERT_EQ(OpenSerialDevice(slave_.c_str(), kMode), 0);
  EXPECT_FALSE(OthersCanLock(slave_));
  EXPECT_EQ(CLOSECOM(), 0);
  EXPECT_TRUE(OthersCanLock(slave_));

  const int holder = open(slave_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
  EXPECT_NE(OpenSerialDevice(slave_.c_str(), kMode), 0);
  EXPECT_TRUE(PortFailed());
  close(holder);
}

// Opening another device first releases the port held so far, even when the
// new open fails.
TEST_F(SerialPosixTest, ReopeningReleasesThePreviousPort) {
  ASSERT_EQ(OpenSerialDevice(slave_.c_str(), kMode), 0);
  EXPECT_NE(OpenSerialDevice("/nonexistent/ttyS0", kMode), 0);
  EXPECT_TRUE(OthersCanLock(slave_));
}

// A plain file is no terminal: it is turned away and not left locked.
TEST_F(SerialPosixTest, PlainFileIsNotTakenForAPort) {
  const std::string path = testing::TempDir() + "ebrilo_not_a_port_" + std::to_string(getpid());
  std::ofstream(path) << "x";
  EXPECT_NE(OpenSerialDevice(path.c_str(), kMode), 0);
  EXPECT_TRUE(PortFailed());
  EXPECT_TRUE(OthersCanLock(path));
  std::filesystem::remove(path);
}

}  // namespace
