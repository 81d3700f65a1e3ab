// SPDX-License-Identifier: MIT
// The Linux i2c-dev adapter, opened against a file system tree that tests can
// hand in place of the machine's own.
#pragma once

#include <string>

// I2cAdapterOpen with the kernel's devices looked up under root (empty for
// this machine): root/sys/bus/i2c/devices tells which drivers are bound on
// the adapter's bus.
bool I2cAdapterOpenUnder(const std::string& device, const std::string& root);
