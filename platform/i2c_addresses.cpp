// SPDX-License-Identifier: MIT
// The chip's addresses an I2C adapter must have free: shared by the real
// adapters and the simulated ones.
#include "platform/platform.h"

std::vector<std::uint8_t> i2c_chip_addresses = {0x54, 0x55, 0x56, 0x57, 0x5C};
