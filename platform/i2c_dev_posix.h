// SPDX-License-Identifier: MIT
// The little of Linux's i2c-dev interface that the adapter uses, in a file of
// its own: the tests link a fake kernel in its place, which stands a regular
// file in for the device, records the messages it is given and answers with
// the errors a driver gives.
#pragma once

#include <linux/i2c.h>
#include <sys/stat.h>

#include <span>

// fstat of the open device. False with errno set when it fails.
bool I2cDevStatus(int descriptor, struct stat& status);

// I2C_FUNCS: what the adapter can do. False with errno set when the ioctl
// fails.
bool I2cDevFunctions(int descriptor, unsigned long& functions);

// I2C_RDWR: the messages as one transfer, with a repeated START between
// them and one STOP at the end. The number of messages carried, or -1 with
// errno set.
int I2cDevTransfer(int descriptor, std::span<i2c_msg> messages);
