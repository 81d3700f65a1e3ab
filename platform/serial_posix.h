// SPDX-License-Identifier: MIT
// Pieces of the POSIX serial port that tests reach directly, so that they can
// exercise the real port code on a device of their own instead of COM1.
#pragma once

#include <cstdint>
#include <string_view>

// OPENCOM on an explicit device path, with the settings of the mode text.
std::int32_t OpenSerialDevice(const char* path, std::string_view mode);
