// The serial port library on POSIX systems. The bus uses only the modem
// lines of the port (DB9 pins): RTS pin 7 is SCL, DTR pin 4 is SDA-Out,
// CTS pin 8 reads SDA-In, GND pin 5. The data lines carry nothing.
#include "platform/serial_posix.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>

#include "platform/platform.h"

namespace {

int port = -1;
bool port_failed = false;

std::string_view NextWord(std::string_view& text) {
  const auto start = text.find_first_not_of(' ');
  if (start == std::string_view::npos) {
    text = {};
    return {};
  }
  text.remove_prefix(start);
  const auto end = text.find(' ');
  const std::string_view word = text.substr(0, end);
  text.remove_prefix(end == std::string_view::npos ? text.size() : end);
  return word;
}

bool ParseNumber(std::string_view text, int& number) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  return error == std::errc{} && end == text.data() + text.size();
}

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

// Applies the "key=value" settings of the mode text that parse; the rest
// (such as "stop=0", which names no stop bit count) is ignored. The bus needs
// none of them, since only the modem lines are used.
void ApplySetting(termios& settings, std::string_view key, std::string_view value) {
  int number = 0;
  if (key == "baud" && ParseNumber(value, number) && SpeedFor(number) != B0) {
    cfsetispeed(&settings, SpeedFor(number));
    cfsetospeed(&settings, SpeedFor(number));
  } else if (key == "parity" && (value == "N" || value == "n")) {
    settings.c_cflag &= ~static_cast<tcflag_t>(PARENB);
  } else if (key == "parity" && (value == "E" || value == "e" || value == "O" || value == "o")) {
    settings.c_cflag |= PARENB;
    if (value == "O" || value == "o") {
      settings.c_cflag |= PARODD;
    } else {
      settings.c_cflag &= ~static_cast<tcflag_t>(PARODD);
    }
  } else if (key == "data" && ParseNumber(value, number) && number >= 5 && number <= 8) {
    constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    settings.c_cflag &= ~static_cast<tcflag_t>(CSIZE);
    settings.c_cflag |= kSizes[number - 5];
  } else if (key == "stop" && ParseNumber(value, number) && (number == 1 || number == 2)) {
    if (number == 2) {
      settings.c_cflag |= CSTOPB;
    } else {
      settings.c_cflag &= ~static_cast<tcflag_t>(CSTOPB);
    }
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
  NextWord(mode);
  for (std::string_view word = NextWord(mode); !word.empty(); word = NextWord(mode)) {
    const auto equals = word.find('=');
    if (equals != std::string_view::npos) {
      ApplySetting(settings, word.substr(0, equals), word.substr(equals + 1));
    }
  }
  return tcsetattr(device, TCSANOW, &settings) == 0;
}

std::int32_t ChangeLine(int line, std::int32_t level) {
  if (port == -1 || port_failed) {
    return -1;
  }
  int bits = line;
  if (ioctl(port, level != 0 ? TIOCMBIS : TIOCMBIC, &bits) != 0) {
    port_failed = true;
    return -1;
  }
  return 0;
}

}  // namespace

std::string ComDevicePath(std::string_view mode) {
  std::string_view name = mode.substr(0, mode.find_first_of(": "));
  int number = 0;
  if (name.size() < 4 || (name.substr(0, 3) != "COM" && name.substr(0, 3) != "com") ||
      !ParseNumber(name.substr(3), number) || number < 1) {
    return {};
  }
  return "/dev/ttyS" + std::to_string(number - 1);
}

std::int32_t OpenSerialDevice(const char* path, std::string_view mode) {
  CLOSECOM();
  port_failed = true;
  // O_NOCTTY: the port must not become our controlling terminal. O_NONBLOCK:
  // opening must not wait for carrier detect.
  const int device = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (device == -1) {
    return -1;
  }
  // Nobody else may drive these lines during a run. flock holds against root
  // too; TIOCEXCL also keeps out programs that do not lock, where the driver
  // supports it.
  if (flock(device, LOCK_EX | LOCK_NB) != 0 ||
      (ioctl(device, TIOCEXCL) != 0 && errno != ENOTTY && errno != EINVAL) ||
      !Configure(device, mode)) {
    close(device);
    return -1;
  }
  port = device;
  port_failed = false;
  return 0;
}

std::int32_t OPENCOM(const char* mode) {
  const std::string path = ComDevicePath(mode);
  if (path.empty()) {
    CLOSECOM();
    port_failed = true;
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
    port_failed = true;
    return 0;
  }
  return (status & TIOCM_CTS) != 0 ? 1 : 0;
}

bool PortFailed() {
  return port_failed;
}
