// SPDX-License-Identifier: MIT
// Windows has no I2C adapters to list: see i2c_adapter_win32.cpp.
#include "platform/platform.h"

std::vector<SerialPortInfo> ListI2cAdapters() {
  return {};
}
