// SPDX-License-Identifier: MIT
// The serial port listing on POSIX systems, read from a file system tree
// that tests can hand in place of the machine's own.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"

// The ports under root (empty for this machine): root/sys/class/tty for the
// ports, root/dev/serial/by-id for their lasting names and root/run/lock for
// the processes holding them.
std::vector<SerialPortInfo> ListSerialPortsUnder(const std::string& root);
