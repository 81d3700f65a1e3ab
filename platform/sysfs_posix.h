// SPDX-License-Identifier: MIT
// Reading sysfs, where the port and adapter listings find what the machine
// has without opening any device.
#pragma once

#include <filesystem>
#include <string>

// The first line of a sysfs attribute without its trailing white space, or
// empty where there is none.
std::string SysfsAttribute(const std::filesystem::path& path);
