// SPDX-License-Identifier: MIT
#include "platform/i2c_dev_posix.h"

#include <linux/i2c-dev.h>
#include <sys/ioctl.h>

bool I2cDevStatus(int descriptor, struct stat& status) {
  return fstat(descriptor, &status) == 0;
}

bool I2cDevFunctions(int descriptor, unsigned long& functions) {
  return ioctl(descriptor, I2C_FUNCS, &functions) == 0;
}

int I2cDevTransfer(int descriptor, std::span<i2c_msg> messages) {
  i2c_rdwr_ioctl_data transfer{messages.data(), static_cast<__u32>(messages.size())};
  return ioctl(descriptor, I2C_RDWR, &transfer);
}
