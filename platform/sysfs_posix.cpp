// SPDX-License-Identifier: MIT
#include "platform/sysfs_posix.h"

#include <cctype>
#include <fstream>

std::string SysfsAttribute(const std::filesystem::path& path) {
  std::ifstream file(path);
  std::string line;
  std::getline(file, line);
  while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back())) != 0) {
    line.pop_back();
  }
  return line;
}
