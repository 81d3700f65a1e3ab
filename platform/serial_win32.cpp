// SPDX-License-Identifier: MIT
// The serial port library on Windows. The bus uses only the modem lines of
// the port (DB9 pins): RTS pin 7 is SCL, DTR pin 4 is SDA-Out, CTS pin 8
// reads SDA-In, GND pin 5. The data lines carry nothing.
#include <windows.h>

#include <cstdio>
#include <string>

#include "platform/platform.h"
#include "platform/port_mode.h"
#include "platform/system_error_win32.h"

namespace {

HANDLE port = INVALID_HANDLE_VALUE;
bool port_failed = false;
std::string port_path;  // as the messages name the open port

void ApplyMode(DCB& settings, const PortMode& mode) {
  if (mode.baud != 0) {
    settings.BaudRate = static_cast<DWORD>(mode.baud);
  }
  if (mode.parity != 0) {
    settings.fParity = mode.parity == 'N' ? FALSE : TRUE;
    settings.Parity = mode.parity == 'N' ? NOPARITY : mode.parity == 'E' ? EVENPARITY : ODDPARITY;
  }
  if (mode.data_bits != 0) {
    settings.ByteSize = static_cast<BYTE>(mode.data_bits);
  }
  if (mode.stop_bits != 0) {
    settings.StopBits = mode.stop_bits == 2 ? TWOSTOPBITS : ONESTOPBIT;
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
  ApplyMode(settings, ParsePortMode(mode));
  return SetCommState(device, &settings) != 0;
}

// The program itself says only that the circuit was not found, which reads
// like a wiring fault; this line tells the user what the system refused.
void ReportOpenFailure(const std::string& path, DWORD error) {
  std::string report = "cannot open " + path + ": " + SystemErrorText(error);
  // A port is opened without sharing, so one in use elsewhere is refused as
  // access denied.
  if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION) {
    report += " (held by another run or program)";
  }
  Diagnostic(report);
}

// A USB adapter pulled out, or a device whose driver has no modem lines to
// drive: every later line operation fails the same way, so the reason is
// said once, at the first.
void LinesFailedWith(DWORD error) {
  port_failed = true;
  if (error == ERROR_INVALID_FUNCTION || error == ERROR_NOT_SUPPORTED) {
    Diagnostic(port_path + ": its modem lines cannot be driven: " + SystemErrorText(error) +
               " (a device that has no modem lines)");
  } else {
    Diagnostic(port_path + ": the port stopped answering: " + SystemErrorText(error) +
               " (it may have been unplugged)");
  }
}

std::int32_t ChangeLine(DWORD function) {
  if (port == INVALID_HANDLE_VALUE || port_failed) {
    return -1;
  }
  if (EscapeCommFunction(port, function) == 0) {
    LinesFailedWith(GetLastError());
    return -1;
  }
  return 0;
}

}  // namespace

std::string PortDevice(const char* mode) {
  return PortDevicePath(mode);
}

std::int32_t OPENCOM(const char* mode) {
  CLOSECOM();
  port_failed = true;
  const std::string path = PortDevicePath(mode);
  if (path.empty()) {
    ReportUnusablePortName(mode);
    return -1;
  }
  // No sharing: nobody else may drive these lines during a run.
  const HANDLE device = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
  if (device == INVALID_HANDLE_VALUE) {
    ReportOpenFailure(path, GetLastError());
    return -1;
  }
  if (!Configure(device, mode)) {
    ReportOpenFailure(path, GetLastError());
    CloseHandle(device);
    return -1;
  }
  port = device;
  port_path = path;
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
    LinesFailedWith(GetLastError());
    return 0;
  }
  return (status & MS_CTS_ON) != 0 ? 1 : 0;
}

bool PortFailed() {
  return port_failed;
}
