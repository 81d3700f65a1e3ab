// The serial port library on Windows. The bus uses only the modem lines of
// the port (DB9 pins): RTS pin 7 is SCL, DTR pin 4 is SDA-Out, CTS pin 8
// reads SDA-In, GND pin 5. The data lines carry nothing.
#include <windows.h>

#include <algorithm>
#include <charconv>
#include <string>

#include "platform/platform.h"

namespace {

HANDLE port = INVALID_HANDLE_VALUE;
bool port_failed = false;

constexpr int kStandardBauds[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};

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

// "COMn" at the start of the mode text, as the device path \\.\COMn: the plain
// name reaches only COM1 to COM9. Empty when the text names no such port.
std::string ComDevicePath(std::string_view mode) {
  const std::string_view name = mode.substr(0, mode.find_first_of(": "));
  int number = 0;
  if (name.size() < 4 || (name.substr(0, 3) != "COM" && name.substr(0, 3) != "com") ||
      !ParseNumber(name.substr(3), number) || number < 1) {
    return {};
  }
  return "\\\\.\\COM" + std::to_string(number);
}

// Applies the "key=value" settings of the mode text that parse; the rest
// (such as "stop=0", which names no stop bit count) is ignored. The bus needs
// none of them, since only the modem lines are used.
void ApplySetting(DCB& settings, std::string_view key, std::string_view value) {
  int number = 0;
  if (key == "baud" && ParseNumber(value, number) &&
      std::ranges::find(kStandardBauds, number) != std::end(kStandardBauds)) {
    settings.BaudRate = static_cast<DWORD>(number);
  } else if (key == "parity" && (value == "N" || value == "n")) {
    settings.fParity = FALSE;
    settings.Parity = NOPARITY;
  } else if (key == "parity" && (value == "E" || value == "e")) {
    settings.fParity = TRUE;
    settings.Parity = EVENPARITY;
  } else if (key == "parity" && (value == "O" || value == "o")) {
    settings.fParity = TRUE;
    settings.Parity = ODDPARITY;
  } else if (key == "data" && ParseNumber(value, number) && number >= 5 && number <= 8) {
    settings.ByteSize = static_cast<BYTE>(number);
  } else if (key == "stop" && ParseNumber(value, number) && (number == 1 || number == 2)) {
    settings.StopBits = number == 2 ? TWOSTOPBITS : ONESTOPBIT;
  }
}

bool Configure(HANDLE device, std::string_view mode) {
  DCB settings{};
  settings.DCBlength = sizeof(settings);
  if (GetCommState(device, &settings) == 0) {
    return false;
  }
  // Every kind of flow control off: with any of them on, the driver would move
  // DTR or RTS itself or hold back on CTS, DSR or XON/XOFF. The lines then
  // change only when EscapeCommFunction says so.
  settings.fBinary = TRUE;
  settings.fOutxCtsFlow = FALSE;
  settings.fOutxDsrFlow = FALSE;
  settings.fDtrControl = DTR_CONTROL_DISABLE;
  settings.fDsrSensitivity = FALSE;
  settings.fOutX = FALSE;
  settings.fInX = FALSE;
  settings.fRtsControl = RTS_CONTROL_DISABLE;
  settings.fAbortOnError = FALSE;
  NextWord(mode);
  for (std::string_view word = NextWord(mode); !word.empty(); word = NextWord(mode)) {
    const auto equals = word.find('=');
    if (equals != std::string_view::npos) {
      ApplySetting(settings, word.substr(0, equals), word.substr(equals + 1));
    }
  }
  return SetCommState(device, &settings) != 0;
}

std::int32_t ChangeLine(DWORD function) {
  if (port == INVALID_HANDLE_VALUE || port_failed) {
    return -1;
  }
  if (EscapeCommFunction(port, function) == 0) {
    port_failed = true;
    return -1;
  }
  return 0;
}

}  // namespace

std::int32_t OPENCOM(const char* mode) {
  CLOSECOM();
  port_failed = true;
  const std::string path = ComDevicePath(mode);
  if (path.empty()) {
    return -1;
  }
  // No sharing: nobody else may drive these lines during a run.
  const HANDLE device = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
  if (device == INVALID_HANDLE_VALUE) {
    return -1;
  }
  if (!Configure(device, mode)) {
    CloseHandle(device);
    return -1;
  }
  port = device;
  port_failed = false;
  return 0;
}

std::int32_t CLOSECOM() {
  if (port == INVALID_HANDLE_VALUE) {
    return 0;
  }
  const BOOL closed = CloseHandle(port);
  port = INVALID_HANDLE_VALUE;
  return closed != 0 ? 0 : -1;
}

std::int32_t DTR(std::int32_t level) {
  return ChangeLine(level != 0 ? SETDTR : CLRDTR);
}

std::int32_t RTS(std::int32_t level) {
  return ChangeLine(level != 0 ? SETRTS : CLRRTS);
}

std::int32_t CTS() {
  if (port == INVALID_HANDLE_VALUE || port_failed) {
    return 0;
  }
  DWORD status = 0;
  if (GetCommModemStatus(port, &status) == 0) {
    port_failed = true;
    return 0;
  }
  return (status & MS_CTS_ON) != 0 ? 1 : 0;
}

bool PortFailed() {
  return port_failed;
}
