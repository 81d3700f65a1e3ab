// SPDX-License-Identifier: MIT
// Port names on Windows: COMn, or a device path beginning \\.\ as given.
#include <string>

#include "platform/platform.h"
#include "platform/port_mode.h"

std::string PortDevicePath(std::string_view mode) {
  const PortMode port = ParsePortMode(mode);
  if (port.name.starts_with("\\\\.\\") && port.name.size() > 4) {
    return std::string(port.name);
  }
  // Only the \\.\ form reaches COM10 and above.
  return port.port_number == 0 ? std::string() : "\\\\.\\COM" + std::to_string(port.port_number);
}

void ReportUnusablePortName(std::string_view mode) {
  Diagnostic("cannot open port '" + std::string(ParsePortMode(mode).name) +
             "': not a port name (give COM1 to COM255, or a device path beginning \\\\.\\)");
}
