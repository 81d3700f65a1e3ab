// SPDX-License-Identifier: MIT
// A bus of the kernel's own I2C adapters (a Raspberry Pi's header, a USB
// bridge with a kernel driver, a board's controller), reached through
// i2c-dev. Each transaction is one I2C_RDWR call: the kernel runs the whole
// transfer, START to STOP, with nothing of anyone else's between its parts,
// at whatever speed the adapter's driver or the device tree set.
#include "platform/i2c_adapter_posix.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "platform/i2c_dev_posix.h"
#include "platform/platform.h"

namespace {

// The character devices of the kernel's I2C class, /dev/i2c-N, have this
// major number; the minor is the adapter's number N.
constexpr unsigned kI2cDevMajor = 89;

// i2c-dev refuses longer messages itself.
constexpr std::size_t kLongestMessage = 8192;

int adapter = -1;

bool IsI2cDev(const struct stat& status) {
  return S_ISCHR(status.st_mode) && major(status.st_rdev) == kI2cDevMajor;
}

// Who may open the device, for a user who may not: the group that owns it
// where that group may, and otherwise the group Debian and Raspberry Pi OS
// give these devices.
std::string AccessHint(const std::string& device) {
  struct stat status {};
  if (stat(device.c_str(), &status) == 0 && status.st_gid != 0 &&
      (status.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP)) {
    if (const group* owner = getgrgid(status.st_gid); owner != nullptr) {
      return std::string(" (the user must be in the ") + owner->gr_name + " group, which owns it)";
    }
  }
  return " (the user must be in the group that owns it: i2c on Debian and Raspberry Pi OS, once "
         "i2c-tools is installed)";
}

void ReportOpenFailure(const std::string& device, int error) {
  std::string report = "cannot open " + device + ": ";
  // A lock held elsewhere fails with EWOULDBLOCK, whose text ("Resource
  // temporarily unavailable") would suggest trying again at once.
  if (error == EWOULDBLOCK) {
    report += std::strerror(EBUSY);
    report += " (held by another run or program)";
  } else {
    report += std::strerror(error);
    if (error == EACCES || error == EPERM) {
      report += AccessHint(device);
    }
  }
  Diagnostic(report);
}

std::string ClientName(unsigned bus, unsigned address) {
  char name[32];
  std::snprintf(name, sizeof(name), "%u-%04x", bus, address);
  return name;
}

std::string Hex(unsigned address) {
  char text[8];
  std::snprintf(text, sizeof(text), "0x%02X", address);
  return text;
}

// A kernel driver bound at one of the chip's addresses (at24, the EEPROM
// driver, is the usual one) may write the chip itself, and I2C_RDWR does not
// keep us off a bound address: two writers would share the chip. Each is
// named with the command that unbinds it. A "dummy" client is a further
// address that another device's driver has claimed (at24 takes 0x55 to 0x57
// for a 24C08 at 0x54): unbinding that driver frees it, so it is named only
// when that driver is not already named here. False when any is bound.
bool NoDriverBound(const std::string& device, const std::string& root, unsigned bus) {
  namespace fs = std::filesystem;
  std::vector<std::string> lines;
  std::vector<std::string> dummies;
  for (const unsigned address : i2c_chip_addresses) {
    const std::string client = ClientName(bus, address);
    std::error_code error;
    const fs::path driver =
        fs::read_symlink(root + "/sys/bus/i2c/devices/" + client + "/driver", error);
    if (error) {
      continue;
    }
    const std::string name = driver.filename().string();
    if (name == "dummy") {
      dummies.push_back(device + ": address " + Hex(address) + " (" + client +
                        ") is claimed by the driver of another device on this bus, which may "
                        "write the chip too: unbind that driver (see ls -l /sys/bus/i2c/devices/" +
                        std::to_string(bus) + "-*/driver)");
    } else {
      lines.push_back(device + ": address " + Hex(address) + " belongs to the kernel driver " +
                      name + " (" + client + "), which may write the chip too; unbind it with: " +
                      "echo " + client + " | sudo tee /sys/bus/i2c/drivers/" + name + "/unbind");
    }
  }
  for (const std::string& line : lines.empty() ? dummies : lines) {
    Diagnostic(line);
  }
  return lines.empty() && dummies.empty();
}

// Everything that keeps an open adapter from carrying this run, said on
// standard error: another run holding it, a device that is not one, an
// adapter without plain I2C transfers, a kernel driver on the chip.
bool Usable(int descriptor, const std::string& device, const std::string& root) {
  if (flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
    ReportOpenFailure(device, errno);
    return false;
  }
  struct stat status {};
  if (!I2cDevStatus(descriptor, status)) {
    ReportOpenFailure(device, errno);
    return false;
  }
  if (!IsI2cDev(status)) {
    Diagnostic("cannot open " + device + ": not an I2C adapter");
    return false;
  }
  unsigned long functions = 0;
  if (!I2cDevFunctions(descriptor, functions)) {
    Diagnostic("cannot open " + device + ": " + std::strerror(errno) + " (not an I2C adapter)");
    return false;
  }
  if ((functions & I2C_FUNC_I2C) == 0) {
    Diagnostic(device +
               ": an SMBus-only adapter: it has no plain I2C transfers (I2C_FUNC_I2C), which the "
               "chip's pages and reads need");
    return false;
  }
  return NoDriverBound(device, root, minor(status.st_rdev));
}

std::size_t Longest(std::span<const I2cMessage> messages) {
  std::size_t longest = 0;
  for (const I2cMessage& message : messages) {
    longest = std::max(longest, message.bytes.size());
  }
  return longest;
}

// A driver says what went wrong in its error number; the two refusals are
// the chip's, the rest the adapter's, with the system's words for them.
I2cResult ResultOf(int error, std::span<const I2cMessage> messages, std::string& reason) {
  reason = std::strerror(error);
  switch (error) {
    case ENXIO:
      return I2cResult::kAddressRefused;
    case EREMOTEIO:
    case EIO:
      return I2cResult::kDataRefused;
    case ETIMEDOUT:
    case EAGAIN:
      reason += " (SDA or SCL held low, or another master on the bus)";
      return I2cResult::kBusError;
    case EOPNOTSUPP:
    case EINVAL:
      // A single byte is never too long: the adapter refused something else.
      if (Longest(messages) > 1) {
        reason +=
            " (the adapter carries no message of " + std::to_string(Longest(messages)) + " bytes)";
        return I2cResult::kTooLong;
      }
      return I2cResult::kFailed;
    default:
      return I2cResult::kFailed;
  }
}

}  // namespace

bool IsI2cAdapter(const std::string& device) {
  struct stat status {};
  return !device.empty() && stat(device.c_str(), &status) == 0 && IsI2cDev(status);
}

bool I2cAdapterOpenUnder(const std::string& device, const std::string& root) {
  I2cAdapterClose();
  const int descriptor = open(device.c_str(), O_RDWR | O_CLOEXEC);
  if (descriptor == -1) {
    ReportOpenFailure(device, errno);
    return false;
  }
  if (!Usable(descriptor, device, root)) {
    close(descriptor);
    return false;
  }
  adapter = descriptor;
  return true;
}

bool I2cAdapterOpen(const std::string& device) {
  return I2cAdapterOpenUnder(device, "");
}

I2cResult I2cAdapterTransfer(std::span<const I2cMessage> messages, std::string& reason) {
  reason.clear();
  if (adapter == -1) {
    reason = std::strerror(EBADF);
    return I2cResult::kFailed;
  }
  if (Longest(messages) > kLongestMessage) {
    return ResultOf(EINVAL, messages, reason);
  }
  std::vector<i2c_msg> kernel_messages;
  for (const I2cMessage& message : messages) {
    kernel_messages.push_back({message.address, static_cast<__u16>(message.read ? I2C_M_RD : 0),
                               static_cast<__u16>(message.bytes.size()), message.bytes.data()});
  }
  const int carried = I2cDevTransfer(adapter, kernel_messages);
  if (carried == -1) {
    return ResultOf(errno, messages, reason);
  }
  // The kernel counts the messages the driver carried: fewer is no success.
  if (carried != static_cast<int>(messages.size())) {
    reason = "the adapter carried " + std::to_string(carried) + " of " +
             std::to_string(messages.size()) + " messages";
    return I2cResult::kFailed;
  }
  return I2cResult::kDone;
}

void I2cAdapterClose() {
  if (adapter != -1) {
    close(adapter);
    adapter = -1;
  }
}
