// SPDX-License-Identifier: MIT
// The I2C adapter listing on Linux, read from a file system tree that tests
// can hand in place of the machine's own.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"

// The adapters under root (empty for this machine): root/sys/class/i2c-dev.
std::vector<SerialPortInfo> ListI2cAdaptersUnder(const std::string& root);
