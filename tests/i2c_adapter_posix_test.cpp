// SPDX-License-Identifier: MIT
// The Linux I2C adapter with a fake kernel in place of i2c-dev's ioctls, a
// regular file standing in for /dev/i2c-1 and a fake sysfs tree. No test
// opens this machine's own I2C devices.
#include <fcntl.h>
#include <grp.h>
#include <linux/i2c.h>
#include <sys/file.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/i2c_adapter_posix.h"
#include "platform/i2c_list_posix.h"
#include "tests/fakes/fake_i2c_dev.h"

namespace {

namespace fs = std::filesystem;

class I2cAdapter : public testing::Test {
 protected:
  void SetUp() override {
    FakeI2cReset();
    root_ = testing::TempDir() + "ebrilo_i2c_" + std::to_string(getpid());
    fs::create_directories(root_ + "/dev");
    fs::permissions(root_, fs::perms::owner_all | fs::perms::others_exec);
    std::ofstream(device_ = root_ + "/dev/i2c-1") << "";
  }
  void TearDown() override {
    I2cAdapterClose();
    fs::remove_all(root_);
  }
  // Opens the stand-in device, keeping what went to standard error.
  bool Open() {
    testing::internal::CaptureStderr();
    const bool opened = I2cAdapterOpenUnder(device_, root_);
    err_ = testing::internal::GetCapturedStderr();
    return opened;
  }
  void Bind(const std::string& client, const std::string& driver) const {
    fs::create_directories(root_ + "/sys/bus/i2c/devices/" + client);
    fs::create_symlink("/drivers/" + driver, root_ + "/sys/bus/i2c/devices/" + client + "/driver");
  }
  std::string Line(const std::string& text) const {
    return "ebrilo: " + text + "\r\n";
  }
  std::string root_;
  std::string device_;
  std::string err_;
};

// A page goes out as one message, a random read as the word address and the
// read in one transfer; each error number a driver gives means to the bus
// layer what the driver meant, with the system's words; a message longer than
// i2c-dev takes never reaches the kernel, and fewer messages carried than
// given is no success.
TEST_F(I2cAdapter, TransfersAndTheirErrors) {
  ASSERT_TRUE(Open());
  std::vector<std::uint8_t> page{0x20, 0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7,
                                 0xA8, 0xA9, 0xAA, 0xAB, 0xAC, 0xAD, 0xAE, 0xAF};
  std::uint8_t word_address = 0x10;
  std::vector<std::uint8_t> block(256);
  const std::vector<I2cMessage> write{{0x55, false, page}};
  const std::vector<I2cMessage> read{{0x5C, false, std::span(&word_address, 1)},
                                     {0x5C, true, std::span(block).first(2)}};
  std::string reason = "left over";
  EXPECT_EQ(I2cAdapterTransfer(write, reason), I2cResult::kDone);
  EXPECT_EQ(reason, "");
  EXPECT_EQ(I2cAdapterTransfer(read, reason), I2cResult::kDone);
  EXPECT_EQ(fake_i2c_trace,
            "W55 20 A0 A1 A2 A3 A4 A5 A6 A7 A8 A9 AA AB AC AD AE AF | W5C 10, R5C #2");
  EXPECT_EQ(block[1], 0x41);

  const std::vector<I2cMessage> long_read{read[0], {0x54, true, block}};
  const std::vector<I2cMessage> one_byte{read[0]};
  const std::string bus = " (SDA or SCL held low, or another master on the bus)";
  const struct {
    int error;
    const std::vector<I2cMessage>& messages;
    I2cResult result;
    std::string reason;
  } cases[] = {
      {ENXIO, write, I2cResult::kAddressRefused, "No such device or address"},
      {EREMOTEIO, write, I2cResult::kDataRefused, "Remote I/O error"},
      {EIO, write, I2cResult::kDataRefused, "Input/output error"},
      {ETIMEDOUT, write, I2cResult::kBusError, "Connection timed out" + bus},
      {EAGAIN, write, I2cResult::kBusError, "Resource temporarily unavailable" + bus},
      {EOPNOTSUPP, write, I2cResult::kTooLong,
       "Operation not supported (the adapter carries no message of 17 bytes)"},
      {EINVAL, long_read, I2cResult::kTooLong,
       "Invalid argument (the adapter carries no message of 256 bytes)"},
      {EINVAL, one_byte, I2cResult::kFailed, "Invalid argument"},
      {ENODEV, write, I2cResult::kFailed, "No such device"},
  };
  for (const auto& c : cases) {
    fake_i2c_errors = {c.error};
    EXPECT_EQ(I2cAdapterTransfer(c.messages, reason), c.result) << c.reason;
    EXPECT_EQ(reason, c.reason);
  }
  fake_i2c_trace.clear();
  std::vector<std::uint8_t> huge(8193);
  EXPECT_EQ(I2cAdapterTransfer(std::vector<I2cMessage>{{0x54, true, huge}}, reason),
            I2cResult::kTooLong);
  EXPECT_EQ(fake_i2c_trace, "");
  fake_i2c_carried = 1;
  EXPECT_EQ(I2cAdapterTransfer(read, reason), I2cResult::kFailed);
  EXPECT_EQ(reason, "the adapter carried 1 of 2 messages");
  I2cAdapterClose();
  EXPECT_EQ(I2cAdapterTransfer(write, reason), I2cResult::kFailed);
  EXPECT_EQ(reason, "Bad file descriptor");
}

// What keeps the adapter from the run, said on standard error, the device
// left unheld: another run's flock, a device of another class, an SMBus-only
// controller, a kernel driver at the chip's addresses on this bus (at24 at
// 0x54 holds 0x55 to 0x57 as dummies, which unbinding it frees; a dummy
// alone is another device's; other buses and addresses do not count).
TEST_F(I2cAdapter, OpeningRefused) {
  const int other_run = open(device_.c_str(), O_RDWR);
  ASSERT_EQ(flock(other_run, LOCK_EX | LOCK_NB), 0);
  EXPECT_FALSE(Open());
  EXPECT_EQ(err_, Line("cannot open " + device_ +
                       ": Device or resource busy (held by another run or program)"));
  close(other_run);

  fake_i2c_adapter_number = -1;
  EXPECT_FALSE(Open());
  EXPECT_EQ(err_, Line("cannot open " + device_ + ": not an I2C adapter"));
  fake_i2c_adapter_number = 1;
  fake_i2c_functions = I2C_FUNC_SMBUS_QUICK | I2C_FUNC_SMBUS_BYTE_DATA;
  EXPECT_FALSE(Open());
  EXPECT_EQ(err_, Line(device_ + ": an SMBus-only adapter: it has no plain I2C transfers "
                                 "(I2C_FUNC_I2C), which the chip's pages and reads need"));
  fake_i2c_functions = I2C_FUNC_I2C;

  Bind("1-0050", "at24");
  Bind("3-0054", "at24");
  ASSERT_TRUE(Open());
  I2cAdapterClose();
  Bind("1-0056", "dummy");
  EXPECT_FALSE(Open());
  EXPECT_EQ(err_,
            Line(device_ + ": address 0x56 (1-0056) is claimed by the driver of another device on "
                           "this bus, which may write the chip too: unbind that driver (see ls -l "
                           "/sys/bus/i2c/devices/1-*/driver)"));
  Bind("1-0054", "at24");
  Bind("1-005c", "app");
  EXPECT_FALSE(Open());
  const std::string held = ", which may write the chip too; unbind it with: echo ";
  EXPECT_EQ(err_, Line(device_ + ": address 0x54 belongs to the kernel driver at24 (1-0054)" +
                       held + "1-0054 | sudo tee /sys/bus/i2c/drivers/at24/unbind") +
                      Line(device_ + ": address 0x5C belongs to the kernel driver app (1-005c)" +
                           held + "1-005c | sudo tee /sys/bus/i2c/drivers/app/unbind"));
  const int after = open(device_.c_str(), O_RDWR);
  EXPECT_EQ(flock(after, LOCK_EX | LOCK_NB), 0);
  close(after);
}

// A user without access is told which group gives it: the group that owns
// the device where it may open it, else the usual one. Tried as the user
// 65534 where the tests run as root.
TEST_F(I2cAdapter, PermissionDeniedNamesTheGroup) {
  const std::string grouped = root_ + "/dev/i2c-2";
  std::ofstream(grouped) << "";
  ASSERT_EQ(chmod(device_.c_str(), 0600), 0);
  const bool as_root = geteuid() == 0 && getgrgid(1) != nullptr;
  ASSERT_TRUE(!as_root || (chown(grouped.c_str(), 0, 1) == 0 && chmod(grouped.c_str(), 0660) == 0));
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  const pid_t child = fork();
  if (child == 0) {
    dup2(ends[1], 2);
    _exit((as_root && (setgid(65534) != 0 || setuid(65534) != 0)) ||
                  I2cAdapterOpenUnder(device_, root_) ||
                  (as_root && I2cAdapterOpenUnder(grouped, root_))
              ? 1
              : 0);
  }
  close(ends[1]);
  std::string err;
  char text[256];
  for (ssize_t size; (size = read(ends[0], text, sizeof(text))) > 0;) {
    err.append(text, static_cast<std::size_t>(size));
  }
  close(ends[0]);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(err, Line("cannot open " + device_ +
                      ": Permission denied (the user must be in the group that owns it: i2c on "
                      "Debian and Raspberry Pi OS, once i2c-tools is installed)") +
                     (as_root ? Line("cannot open " + grouped +
                                     ": Permission denied (the user "
                                     "must be in the " +
                                     getgrgid(1)->gr_name + " group, which owns it)")
                              : ""));
}

// A device is an adapter by what it is, never by its name; the listing reads
// /sys/class/i2c-dev alone, in the order of the adapters' numbers.
TEST_F(I2cAdapter, KnownAndListedWithoutOpening) {
  EXPECT_FALSE(IsI2cAdapter(device_));
  EXPECT_FALSE(IsI2cAdapter("/dev/null"));
  const std::string node = root_ + "/dev/bus";
  if (mknod(node.c_str(), S_IFCHR | 0600, makedev(89, 250)) == 0) {
    fs::create_symlink("bus", root_ + "/dev/link");
    EXPECT_TRUE(IsI2cAdapter(root_ + "/dev/link"));
  }
  for (const char* name : {"i2c-10", "i2c-1", "i2c-x"}) {
    fs::create_directories(root_ + "/sys/class/i2c-dev/" + name);
    std::ofstream(root_ + "/sys/class/i2c-dev/" + name + "/name") << "adapter " << name << "\n";
  }
  std::string listing;
  for (const SerialPortInfo& port : ListI2cAdaptersUnder(root_)) {
    listing += port.name + "  " + port.device + "  " + port.description + "\n";
  }
  EXPECT_EQ(listing,
            "i2c-1  /dev/i2c-1  I2C adapter adapter i2c-1\n"
            "i2c-10  /dev/i2c-10  I2C adapter adapter i2c-10\n");
}

}  // namespace
