// SPDX-License-Identifier: MIT
// Pieces of the POSIX serial port that tests reach directly, so that they can
// exercise the real port code on a device of their own instead of COM1.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The device behind the port named at the start of a mode text: "COMn" is
// /dev/ttyS(n-1). Empty when the text names no such port.
std::string ComDevicePath(std::string_view mode);

// The lock file a run holds, besides the device's own lock, for as long as
// it has the device open.
std::string PortLockPath(const char* device);

// OPENCOM on an explicit device path, with the settings of the mode text.
std::int32_t OpenSerialDevice(const char* path, std::string_view mode);
