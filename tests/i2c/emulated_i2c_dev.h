// SPDX-License-Identifier: MIT
// A kernel I2C adapter, /dev/i2c-1, emulated in front of the unchanged
// i2c-dev code of the program under test. umockdev stands the adapter's
// sysfs entries and node in a testbed of this process; a program started
// with the preload libraries below sees them in place of the machine's own
// devices, and its I2C_FUNCS and I2C_RDWR requests on the node come to this
// process, which carries each transfer on the simulated chip.
#pragma once

#include <string>

struct EmulatedI2cDev {
  // A kernel driver bound at one of the chip's addresses, or none.
  std::string driver_at_chip;
  unsigned driver_address = 0x54;
};

// Builds the testbed; the programs started from now on see it. The simulated
// chip starts as SimConfigure and SimData leave it.
void EmulatedI2cDevStart(const EmulatedI2cDev& adapter);
// Once the program has ended: ends the simulated session (the chip's files
// saved) and removes the testbed.
void EmulatedI2cDevStop();

// The environment entry that makes a program see the testbed: the library
// that answers fstat() for the node first, then umockdev's.
inline constexpr const char* kI2cDevPreload =
    "LD_PRELOAD=" EBRILO_DESCRIPTOR_STATUS " libumockdev-preload.so.0";
