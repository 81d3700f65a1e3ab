// SPDX-License-Identifier: MIT
// The serial port library on POSIX systems. The bus uses only the modem
// lines of the port (DB9 pins): RTS pin 7 is SCL, DTR pin 4 is SDA-Out,
// CTS pin 8 reads SDA-In, GND pin 5. The data lines carry nothing.
#include "platform/serial_posix.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
#include "platform/port_lock_posix.h"
#include "platform/port_mode.h"

namespace {

int port = -1;
bool port_failed = false;
std::string port_path;  // as the messages name the open port

speed_t SpeedFor(int baud) {
  switch (baud) {
    case 1200:
      return B1200;
    case 2400:
      return B2400;
    case 4800:
      return B4800;
    case 9600:
      return B9600;
    case 19200:
      return B19200;
    case 38400:
      return B38400;
    case 57600:
      return B57600;
    case 115200:
      return B115200;
    default:
      return B0;
  }
}

void ApplyMode(termios& settings, const PortMode& mode) {
  if (SpeedFor(mode.baud) != B0) {
    cfsetispeed(&settings, SpeedFor(mode.baud));
    cfsetospeed(&settings, SpeedFor(mode.baud));
  }
  if (mode.parity == 'N') {
    settings.c_cflag &= ~static_cast<tcflag_t>(PARENB | PARODD);
  } else if (mode.parity != 0) {
    settings.c_cflag |= PARENB;
    settings.c_cflag = mode.parity == 'O' ? settings.c_cflag | PARODD
                                          : settings.c_cflag & ~static_cast<tcflag_t>(PARODD);
  }
  if (mode.data_bits != 0) {
    constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    settings.c_cflag &= ~static_cast<tcflag_t>(CSIZE);
    settings.c_cflag |= kSizes[mode.data_bits - 5];
  }
  if (mode.stop_bits != 0) {
    settings.c_cflag = mode.stop_bits == 2 ? settings.c_cflag | CSTOPB
                                           : settings.c_cflag & ~static_cast<tcflag_t>(CSTOPB);
  }
}

bool Configure(int device, std::string_view mode) {
  termios settings{};
  if (tcgetattr(device, &settings) != 0) {
    return false;
  }
  cfmakeraw(&settings);
  // CLOCAL: the modem lines are ours, not a modem's, so carrier detect must
  // not block or hang up the port. No CRTSCTS: with hardware flow control on,
  // the driver would move RTS itself.
  settings.c_cflag |= CLOCAL | CREAD;
  settings.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
  ApplyMode(settings, ParsePortMode(mode));
  return tcsetattr(device, TCSANOW, &settings) == 0;
}

// The program itself says only that the circuit was not found, which reads
// like a wiring fault; this line tells the user what the system refused.
void ReportOpenFailure(const char* path, int error) {
  // A lock held elsewhere fails with EWOULDBLOCK, whose text ("Resource
  // temporarily unavailable") would suggest trying again at once.
  if (error == EWOULDBLOCK) {
    error = EBUSY;
  }
  std::string report = "cannot open ";
  report += path;
  report += ": ";
  report += std::strerror(error);
  if (error == EACCES || error == EPERM) {
    report += " (the user must be in the dialout group)";
  } else if (error == EBUSY) {
    report += " (held by another run or program)";
  } else if (error == ENOTTY) {
    report += " (not a serial port)";
  }
  Diagnostic(report);
}

// A USB adapter pulled out, or a device that has no modem lines to drive (a
// pseudo-terminal, some Bluetooth and modem devices): every later line
// operation fails the same way, so the reason is said once, at the first.
void LinesFailedWith(int error) {
  port_failed = true;
  if (error == ENOTTY || error == EINVAL) {
    Diagnostic(port_path + ": its modem lines cannot be driven: " + std::strerror(error) +
               " (a device that has no modem lines)");
  } else {
    Diagnostic(port_path + ": the port stopped answering: " + std::strerror(error) +
               " (it may have been unplugged)");
  }
}

std::int32_t ChangeLine(int line, std::int32_t level) {
  if (port == -1 || port_failed) {
    return -1;
  }
  int bits = line;
  if (ioctl(port, level != 0 ? TIOCMBIS : TIOCMBIC, &bits) != 0) {
    LinesFailedWith(errno);
    return -1;
  }
  return 0;
}

}  // namespace

std::string PortDevice(const char* mode) {
  return PortDevicePath(mode);
}

std::int32_t OpenSerialDevice(const char* path, std::string_view mode) {
  CLOSECOM();
  port_failed = true;
  // Linux raises DTR and RTS whenever a tty is opened, and TIOCEXCL does not
  // stop root: a second run could move the lines of a run in progress before
  // the lock on the device itself turned it away. So the port's lock file is
  // taken first, before the device is opened.
  char* resolved = realpath(path, nullptr);
  if (resolved == nullptr) {
    ReportOpenFailure(path, errno);
    return -1;
  }
  const std::string device_file = resolved;
  std::free(resolved);
  if (!LockPort(device_file, path)) {
    return -1;
  }
  // O_NOCTTY: the port must not become our controlling terminal. O_NONBLOCK:
  // opening must not wait for carrier detect.
  const int device = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (device == -1) {
    ReportOpenFailure(path, errno);
    UnlockPort();
    return -1;
  }
  // Nobody else may drive these lines during a run. flock holds against root
  // too; TIOCEXCL also keeps out programs that do not lock, where the driver
  // supports it.
  if (flock(device, LOCK_EX | LOCK_NB) != 0 ||
      (ioctl(device, TIOCEXCL) != 0 && errno != ENOTTY && errno != EINVAL) ||
      !Configure(device, mode)) {
    ReportOpenFailure(path, errno);
    close(device);
    UnlockPort();
    return -1;
  }
  port = device;
  port_path = path;
  port_failed = false;
  return 0;
}

std::int32_t OPENCOM(const char* mode) {
  const std::string path = PortDevicePath(mode);
  if (path.empty()) {
    CLOSECOM();
    port_failed = true;
    ReportUnusablePortName(mode);
    return -1;
  }
  return OpenSerialDevice(path.c_str(), mode);
}

std::int32_t CLOSECOM() {
  if (port == -1) {
    return 0;
  }
  const int result = close(port);
  port = -1;
  UnlockPort();
  return result == 0 ? 0 : -1;
}

std::int32_t DTR(std::int32_t level) {
  return ChangeLine(TIOCM_DTR, level);
}

std::int32_t RTS(std::int32_t level) {
  return ChangeLine(TIOCM_RTS, level);
}

std::int32_t CTS() {
  int status = 0;
  if (port == -1 || port_failed) {
    return 0;
  }
  if (ioctl(port, TIOCMGET, &status) != 0) {
    LinesFailedWith(errno);
    return 0;
  }
  return (status & TIOCM_CTS) != 0 ? 1 : 0;
}

bool PortFailed() {
  return port_failed;
}
