// SPDX-License-Identifier: MIT
// Port names on POSIX systems: a path, COMn for the n-th on-board port, or the
// name of a device in /dev (ttyUSB0, ttyACM0, ttyAMA0).
#include <string>

#include "platform/platform.h"
#include "platform/port_mode.h"

std::string PortDevicePath(std::string_view mode) {
  const PortMode port = ParsePortMode(mode);
  if (port.name.empty()) {
    return {};
  }
  if (port.name.find('/') != std::string_view::npos) {
    return std::string(port.name);
  }
  if (port.port_number != 0) {
    return "/dev/ttyS" + std::to_string(port.port_number - 1);
  }
  return "/dev/" + std::string(port.name);
}

void ReportUnusablePortName(std::string_view mode) {
  Diagnostic("cannot open port '" + std::string(ParsePortMode(mode).name) +
             "': no port name (give COMn, a device in /dev such as ttyUSB0, or a path)");
}
