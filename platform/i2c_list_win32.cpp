// SPDX-License-Identifier: MIT
#include "platform/platform.h"

std::vector<SerialPortInfo> ListI2cAdapters() {
  return {};
}
