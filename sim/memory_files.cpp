// SPDX-License-Identifier: MIT
// The chip's memory as raw files: exactly 1024 data bytes, or 16 APP
// registers, with nothing else in the file.
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

#include "sim/sim_parts.h"

bool ReadExactly(const std::string& path, std::span<std::uint8_t> bytes) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    return false;
  }
  const std::size_t count = std::fread(bytes.data(), 1, bytes.size(), file);
  const bool at_end = std::fgetc(file) == EOF && std::feof(file) != 0;
  const bool closed = std::fclose(file) == 0;
  return count == bytes.size() && at_end && closed;
}

bool WriteWhole(const std::string& path, std::span<const std::uint8_t> bytes) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    return false;
  }
  const std::size_t count = std::fwrite(bytes.data(), 1, bytes.size(), file);
  const bool closed = std::fclose(file) == 0;
  return count == bytes.size() && closed;
}
