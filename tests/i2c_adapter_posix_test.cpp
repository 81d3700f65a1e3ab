// SPDX-License-Identifier: MIT
// The Linux I2C adapter with a fake kernel linked in place of i2c-dev's two
// ioctls: a regular file stands in for /dev/i2c-N, and sysfs is a small fake
// tree. No test opens this machine's own I2C devices.
#include <fcntl.h>
#include <grp.h>
#include <linux/i2c.h>
#include <sys/file.h>
#include <sys/stat.h>
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
#include "platform/platform.h"
#include "tests/fakes/fake_i2c_dev.h"
#include "tests/pseudo_terminal.h"

namespace {

namespace fs = std::filesystem;

class I2cAdapter : public testing::Test {
 protected:
  void SetUp() override {
    FakeI2cReset();
    root_ = testing::TempDir() + "ebrilo_i2c_" + std::to_string(getpid());
    fs::remove_all(root_);
    fs::create_directories(root_ + "/dev");
    fs::permissions(root_, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    device_ = root_ + "/dev/i2c-1";
    std::ofstream(device_) << "";
  }
  void TearDown() override {
    I2cAdapterClose();
    fs::remove_all(root_);
  }

  // Opens the stand-in device, returning what went to standard error.
  bool Open(std::string& err) const {
    testing::internal::CaptureStderr();
    const bool opened = I2cAdapterOpenUnder(device_, root_);
    err = testing::internal::GetCapturedStderr();
    return opened;
  }

  // /sys/bus/i2c/devices/client with its driver link.
  void BindDriver(const std::string& client, const std::string& driver) const {
    const std::string folder = root_ + "/sys/bus/i2c/devices/" + client;
    fs::create_directories(folder);
    fs::create_directories(root_ + "/sys/bus/i2c/drivers/" + driver);
    fs::create_symlink("../../../../bus/i2c/drivers/" + driver, folder + "/driver");
  }

  std::string root_;
  std::string device_;
};

std::string Line(const std::string& text) {
  return "ebrilo: " + text + "\r\n";
}

I2cResult Transfer(std::vector<I2cMessage> messages, std::string& reason) {
  return I2cAdapterTransfer(messages, reason);
}

// A page is one message of 17 bytes; a random read, the word address written
// and the bytes read in one transfer; nothing reaches a closed adapter.
TEST_F(I2cAdapter, MessagesGoOutAsTheyAreGiven) {
  std::string err;
  ASSERT_TRUE(Open(err));
  EXPECT_EQ(err, "");
  std::vector<std::uint8_t> page{0x20};
  for (std::uint8_t i = 0; i < 16; ++i) {
    page.push_back(static_cast<std::uint8_t>(0xA0 + i));
  }
  std::string reason = "left over";
  EXPECT_EQ(Transfer({{0x55, false, page}}, reason), I2cResult::kDone);
  EXPECT_EQ(reason, "");
  std::uint8_t word_address = 0x10;
  std::uint8_t bytes[4] = {};
  EXPECT_EQ(Transfer({{0x5C, false, std::span(&word_address, 1)}, {0x5C, true, bytes}}, reason),
            I2cResult::kDone);
  EXPECT_EQ(FakeI2cTrace(),
            "W55 20 A0 A1 A2 A3 A4 A5 A6 A7 A8 A9 AA AB AC AD AE AF | W5C 10, R5C #4");
  EXPECT_EQ(std::vector<std::uint8_t>(bytes, bytes + 4),
            (std::vector<std::uint8_t>{0x40, 0x41, 0x42, 0x43}));

  I2cAdapterClose();
  EXPECT_EQ(Transfer({{0x54, false, page}}, reason), I2cResult::kFailed);
  EXPECT_EQ(reason, "Bad file descriptor");
  EXPECT_EQ(fake_i2c_transfers.size(), 2U);
}

// Each error number a driver gives, as the bus layer sees it; a message
// longer than i2c-dev takes never reaches the kernel, and a driver that
// carried fewer messages than it was given has not succeeded.
TEST_F(I2cAdapter, EachErrorNumberMeansWhatTheDriverMeant) {
  std::string err;
  ASSERT_TRUE(Open(err));
  std::vector<std::uint8_t> page(17);
  std::uint8_t one = 0;
  std::vector<std::uint8_t> block(256);
  const struct {
    int error;
    std::vector<I2cMessage> messages;
    I2cResult result;
    std::string reason;
  } cases[] = {
      {ENXIO, {{0x54, false, page}}, I2cResult::kAddressRefused, "No such device or address"},
      {EREMOTEIO, {{0x54, false, page}}, I2cResult::kDataRefused, "Remote I/O error"},
      {EIO, {{0x54, false, page}}, I2cResult::kDataRefused, "Input/output error"},
      {ETIMEDOUT,
       {{0x54, false, page}},
       I2cResult::kBusError,
       "Connection timed out (SDA or SCL held low, or another master on the bus)"},
      {EAGAIN,
       {{0x54, false, page}},
       I2cResult::kBusError,
       "Resource temporarily unavailable (SDA or SCL held low, or another master on the bus)"},
      {EOPNOTSUPP,
       {{0x54, false, page}},
       I2cResult::kTooLong,
       "Operation not supported (the adapter carries no message of 17 bytes)"},
      {EINVAL,
       {{0x54, false, std::span(&one, 1)}, {0x54, true, block}},
       I2cResult::kTooLong,
       "Invalid argument (the adapter carries no message of 256 bytes)"},
      {EINVAL, {{0x54, false, std::span(&one, 1)}}, I2cResult::kFailed, "Invalid argument"},
      {ENODEV, {{0x54, false, page}}, I2cResult::kFailed, "No such device"},
      {ESHUTDOWN,
       {{0x54, false, page}},
       I2cResult::kFailed,
       "Cannot send after transport endpoint shutdown"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reason);
    fake_i2c_errors = {c.error};
    std::string reason;
    EXPECT_EQ(Transfer(c.messages, reason), c.result);
    EXPECT_EQ(reason, c.reason);
  }

  fake_i2c_transfers.clear();
  std::vector<std::uint8_t> huge(8193);
  std::string reason;
  EXPECT_EQ(Transfer({{0x54, true, huge}}, reason), I2cResult::kTooLong);
  EXPECT_EQ(reason, "Invalid argument (the adapter carries no message of 8193 bytes)");
  EXPECT_TRUE(fake_i2c_transfers.empty());

  fake_i2c_carried = 1;
  EXPECT_EQ(Transfer({{0x54, false, std::span(&one, 1)}, {0x54, true, block}}, reason),
            I2cResult::kFailed);
  EXPECT_EQ(reason, "the adapter carried 1 of 2 messages");
}

// What keeps an adapter from this run, each said on standard error, and the
// device left unheld afterwards: another run's lock, a device that is not an
// adapter, an adapter without plain I2C transfers, a device that is gone.
TEST_F(I2cAdapter, RefusedWithItsReason) {
  const std::string busy =
      "cannot open " + device_ + ": Device or resource busy (held by another run or program)";
  const int other_run = open(device_.c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_EQ(flock(other_run, LOCK_EX | LOCK_NB), 0);
  std::string err;
  EXPECT_FALSE(Open(err));
  EXPECT_EQ(err, Line(busy));
  close(other_run);

  const struct {
    const char* scenario;
    int adapter_number;
    int functions_error;
    unsigned long functions;
    std::string line;
  } cases[] = {
      {"a file of another class", -1, 0, I2C_FUNC_I2C,
       "cannot open " + device_ + ": not an I2C adapter"},
      {"I2C_FUNCS refused", 1, ENOTTY, I2C_FUNC_I2C,
       "cannot open " + device_ + ": Inappropriate ioctl for device (not an I2C adapter)"},
      {"an SMBus controller", 1, 0, I2C_FUNC_SMBUS_QUICK | I2C_FUNC_SMBUS_BYTE_DATA,
       device_ + ": an SMBus-only adapter: it has no plain I2C transfers (I2C_FUNC_I2C), which "
                 "the chip's pages and reads need"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.scenario);
    fake_i2c_adapter_number = c.adapter_number;
    fake_i2c_functions_error = c.functions_error;
    fake_i2c_functions = c.functions;
    EXPECT_FALSE(Open(err));
    EXPECT_EQ(err, Line(c.line));
    std::string reason;
    std::uint8_t byte = 0;
    EXPECT_EQ(Transfer({{0x54, false, std::span(&byte, 1)}}, reason), I2cResult::kFailed);
  }

  FakeI2cReset();
  ASSERT_TRUE(Open(err));
  EXPECT_EQ(err, "");
  const int another = open(device_.c_str(), O_RDWR | O_CLOEXEC);
  EXPECT_NE(flock(another, LOCK_EX | LOCK_NB), 0);
  close(another);

  fs::remove(device_);
  EXPECT_FALSE(Open(err));
  EXPECT_EQ(err, Line("cannot open " + device_ + ": No such file or directory"));
}

// A kernel driver bound at one of the chip's addresses on this bus refuses
// the adapter, named with the command that unbinds it. at24 for a 24C08 at
// 0x54 holds 0x55 to 0x57 as dummies, which unbinding it frees; a dummy
// alone belongs to a device elsewhere (a 24C16 at 0x50). Other buses and
// other addresses do not count.
TEST_F(I2cAdapter, DriverBoundAtTheChipRefusesIt) {
  BindDriver("1-0050", "at24");
  BindDriver("3-0054", "at24");
  fs::create_directories(root_ + "/sys/bus/i2c/devices/1-005c");
  std::string err;
  ASSERT_TRUE(Open(err));
  EXPECT_EQ(err, "");
  I2cAdapterClose();

  BindDriver("1-0056", "dummy");
  EXPECT_FALSE(Open(err));
  EXPECT_EQ(err, Line(device_ +
                      ": address 0x56 (1-0056) is claimed by the driver of another device on this "
                      "bus, which may write the chip too: unbind that driver (see ls -l "
                      "/sys/bus/i2c/devices/1-*/driver)"));

  BindDriver("1-0054", "at24");
  BindDriver("1-0055", "dummy");
  BindDriver("1-005c", "eeprom_app");
  EXPECT_FALSE(Open(err));
  EXPECT_EQ(
      err,
      Line(device_ + ": address 0x54 belongs to the kernel driver at24 (1-0054), which may write "
                     "the chip too; unbind it with: echo 1-0054 | sudo tee "
                     "/sys/bus/i2c/drivers/at24/unbind") +
          Line(device_ + ": address 0x5C belongs to the kernel driver eeprom_app (1-005c), which "
                         "may write the chip too; unbind it with: echo 1-005c | sudo tee "
                         "/sys/bus/i2c/drivers/eeprom_app/unbind"));
  const int another = open(device_.c_str(), O_RDWR | O_CLOEXEC);
  EXPECT_EQ(flock(another, LOCK_EX | LOCK_NB), 0);
  close(another);
}

// A user who may not open the device is told which group may; tried as the
// unprivileged user 65534 where the tests run as root.
TEST_F(I2cAdapter, PermissionDeniedNamesTheGroup) {
  const auto open_as_user = [this] {
    int pipe_ends[2];
    EXPECT_EQ(pipe(pipe_ends), 0);
    const pid_t child = fork();
    if (child == 0) {
      dup2(pipe_ends[1], 2);
      if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) {
        _exit(3);
      }
      _exit(I2cAdapterOpenUnder(device_, root_) ? 1 : 0);
    }
    close(pipe_ends[1]);
    std::string err;
    char buffer[512];
    for (ssize_t size; (size = read(pipe_ends[0], buffer, sizeof(buffer))) > 0;) {
      err.append(buffer, static_cast<std::size_t>(size));
    }
    close(pipe_ends[0]);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    return err;
  };
  ASSERT_EQ(chmod(device_.c_str(), 0600), 0);
  EXPECT_EQ(open_as_user(),
            Line("cannot open " + device_ +
                 ": Permission denied (the user must be in the group that owns it: i2c on Debian "
                 "and Raspberry Pi OS, once i2c-tools is installed)"));
  const group* daemon = getgrgid(1);
  if (geteuid() == 0 && daemon != nullptr) {
    const std::string name = daemon->gr_name;
    ASSERT_EQ(chown(device_.c_str(), 0, 1), 0);
    ASSERT_EQ(chmod(device_.c_str(), 0660), 0);
    EXPECT_EQ(open_as_user(), Line("cannot open " + device_ +
                                   ": Permission denied (the user must "
                                   "be in the " +
                                   name + " group, which owns it)"));
  }
}

// A device is an I2C adapter by what it is, a character device of major 89,
// whatever its name or the links to it; only looked at, never opened.
TEST_F(I2cAdapter, KnownByWhatTheDeviceIs) {
  std::string terminal;
  const int master = OpenPseudoTerminal(terminal);
  ASSERT_NE(master, -1);
  for (const std::string& other : {device_, root_ + "/dev", root_ + "/dev/i2c-9",
                                   std::string("/dev/null"), terminal, std::string()}) {
    EXPECT_FALSE(IsI2cAdapter(other)) << other;
  }
  close(master);
  const std::string node = root_ + "/dev/eeprom-bus";
  if (mknod(node.c_str(), S_IFCHR | 0600, makedev(89, 250)) == 0) {
    fs::create_symlink("eeprom-bus", root_ + "/dev/by-name");
    EXPECT_TRUE(IsI2cAdapter(node));
    EXPECT_TRUE(IsI2cAdapter(root_ + "/dev/by-name"));
  }
}

// The listing reads /sys/class/i2c-dev only: the name to give, the device
// and the adapter's name, in the order of the adapters' numbers.
TEST_F(I2cAdapter, ListedFromSysfs) {
  const auto adapter = [this](const std::string& name, const std::string& file,
                              const std::string& text) {
    fs::create_directories(root_ + "/sys/class/i2c-dev/" + name + "/device");
    if (!file.empty()) {
      std::ofstream(root_ + "/sys/class/i2c-dev/" + name + "/" + file) << text;
    }
  };
  adapter("i2c-10", "name", "MCP2221 usb-i2c bridge\n");
  adapter("i2c-1", "name", "bcm2835 (i2c@7e804000)\n");
  adapter("i2c-2", "device/name", "i2c-tiny-usb at bus 001 device 005\n");
  adapter("i2c-3", "", "");
  adapter("i2c-x", "name", "not an adapter's folder\n");
  std::string listing;
  for (const SerialPortInfo& port : ListI2cAdaptersUnder(root_)) {
    listing += port.name + "  " + port.device + "  " + port.description + "\n";
  }
  EXPECT_EQ(listing,
            "i2c-1  /dev/i2c-1  I2C adapter bcm2835 (i2c@7e804000)\n"
            "i2c-2  /dev/i2c-2  I2C adapter i2c-tiny-usb at bus 001 device 005\n"
            "i2c-3  /dev/i2c-3  I2C adapter\n"
            "i2c-10  /dev/i2c-10  I2C adapter MCP2221 usb-i2c bridge\n");
  EXPECT_TRUE(ListI2cAdaptersUnder(root_ + "/nonexistent").empty());
}

}  // namespace
