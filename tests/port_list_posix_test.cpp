// SPDX-License-Identifier: MIT
// The port listing reads sysfs, /dev/serial/by-id and the lock folder, and
// opens no port. Here it reads a small fake tree laid out as the kernel lays
// out the real one: a USB adapter behind its interface, an ACM device whose
// tty hangs off the interface itself, ttyS slots with and without a UART, a
// platform UART and a virtual console.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/port_list_posix.h"
#include "tests/pseudo_terminal.h"

namespace {

namespace fs = std::filesystem;

class FakeSysfs : public testing::Test {
 protected:
  void SetUp() override {
    root_ = testing::TempDir() + "ebrilo_fake_root_" + std::to_string(getpid());
    fs::remove_all(root_);
  }
  void TearDown() override {
    fs::remove_all(root_);
  }

  void Write(const std::string& path, const std::string& text) const {
    fs::create_directories(fs::path(root_ + path).parent_path());
    std::ofstream(root_ + path) << text;
  }
  void Link(const std::string& path, const std::string& target) const {
    fs::create_directories(fs::path(root_ + path).parent_path());
    fs::create_symlink(target, root_ + path);
  }
  // /sys/class/tty/name with its device link to /sys/devices/device.
  void Tty(const std::string& name, const std::string& device) const {
    fs::create_directories(root_ + "/sys/devices/" + device);
    Link("/sys/class/tty/" + name + "/device", "../../../devices/" + device);
  }

  std::string root_;
};

TEST_F(FakeSysfs, ListsPortsWithHardwareAndTellsWhatTheyAre) {
  const std::string usb = "pci0000:00/0000:00:14.0/usb1/";
  Write("/sys/devices/" + usb + "1-1/idVendor", "0403\n");
  Write("/sys/devices/" + usb + "1-1/idProduct", "6001\n");
  Write("/sys/devices/" + usb + "1-1/manufacturer", "FTDI\n");
  Write("/sys/devices/" + usb + "1-1/product", "FT232R USB UART\n");
  Write("/sys/devices/" + usb + "1-1/serial", "A50285BI\n");
  Tty("ttyUSB0", usb + "1-1/1-1:1.0/ttyUSB0");
  Link("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", "../../ttyUSB0");

  Write("/sys/devices/" + usb + "1-2/idVendor", "2341\n");
  Write("/sys/devices/" + usb + "1-2/idProduct", "0043\n");
  Write("/sys/devices/" + usb + "1-2/manufacturer", "Arduino (www.arduino.cc)\n");
  Tty("ttyACM0", usb + "1-2/1-2:1.0");

  Tty("ttyS0", "pnp0/00:04/00:04:0/00:04:0.0");
  Write("/sys/class/tty/ttyS0/type", "4\n");
  Tty("ttyS1", "platform/serial8250/serial8250:0/serial8250:0.1");
  Write("/sys/class/tty/ttyS1/type", "0\n");
  Tty("ttyS10", "platform/serial8250/serial8250:0/serial8250:0.10");
  Write("/sys/class/tty/ttyS10/type", "4\n");

  Tty("ttyAMA0", "platform/fe201000.serial");
  Link("/sys/devices/platform/fe201000.serial/driver", "../../../bus/amba/drivers/uart-pl011");
  fs::create_directories(root_ + "/sys/class/tty/tty0");

  // A lock naming a running process marks its port; a stale one does not.
  Write("/run/lock/LCK..ttyACM0", "      " + std::to_string(getpid()) + "\n");
  Write("/run/lock/LCK..ttyUSB0", "      " + std::to_string(EndedProcess()) + "\n");

  std::string listing;
  for (const SerialPortInfo& port : ListSerialPortsUnder(root_)) {
    listing += port.name + " | " + port.device + " | " + port.description + "\n";
  }
  EXPECT_EQ(listing,
            "ttyACM0 | /dev/ttyACM0 | Arduino (www.arduino.cc), USB 2341:0043; in use by process " +
                std::to_string(getpid()) +
                "\n"
                "ttyAMA0 | /dev/ttyAMA0 | UART, driver uart-pl011\n"
                "COM1 | /dev/ttyS0 | UART 16550A\n"
                "COM11 | /dev/ttyS10 | UART 16550A\n"
                "ttyUSB0 | /dev/ttyUSB0 | FTDI FT232R USB UART, serial A50285BI, USB 0403:6001, "
                "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0\n");
}

TEST_F(FakeSysfs, NoPortsAtAll) {
  fs::create_directories(root_ + "/sys/class/tty/tty0");
  EXPECT_TRUE(ListSerialPortsUnder(root_).empty());
  EXPECT_TRUE(ListSerialPortsUnder(root_ + "/nonexistent").empty());
}

// This machine's own ports, read without opening any: each is a device in
// /dev with a name to give /PORT:.
TEST(PortList, ListsThisMachinesPortsWithoutOpeningThem) {
  for (const SerialPortInfo& port : ListSerialPorts()) {
    std::cout << port.name << "  " << port.device << "  " << port.description << "\n";
    EXPECT_FALSE(port.name.empty());
    EXPECT_TRUE(port.device.starts_with("/dev/tty")) << port.device;
    EXPECT_FALSE(port.description.empty());
  }
}

}  // namespace
