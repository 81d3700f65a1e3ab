// SPDX-License-Identifier: MIT
// The kernel's I2C adapters that i2c-dev gives a device, found in sysfs
// without opening any: /sys/class/i2c-dev/i2c-N for /dev/i2c-N, whose "name"
// is the adapter's (its driver and where it sits, or the USB bridge).
#include "platform/i2c_list_posix.h"

#include <algorithm>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <utility>

#include "platform/sysfs_posix.h"

namespace {

namespace fs = std::filesystem;

// The adapter number of a name such as i2c-12, or -1.
long AdapterNumber(const std::string& name) {
  constexpr std::string_view kStem = "i2c-";
  const std::string digits = name.substr(std::min(name.size(), kStem.size()));
  if (!name.starts_with(kStem) || digits.empty() || digits.size() > 6 ||
      digits.find_first_not_of("0123456789") != std::string::npos) {
    return -1;
  }
  return std::stol(digits);
}

}  // namespace

std::vector<SerialPortInfo> ListI2cAdaptersUnder(const std::string& root) {
  std::error_code error;
  std::vector<std::pair<long, std::string>> found;
  for (const auto& entry : fs::directory_iterator(root + "/sys/class/i2c-dev", error)) {
    const std::string name = entry.path().filename().string();
    if (const long number = AdapterNumber(name); number >= 0) {
      found.emplace_back(number, name);
    }
  }
  std::sort(found.begin(), found.end());
  std::vector<SerialPortInfo> adapters;
  for (const auto& [number, name] : found) {
    const fs::path folder = root + "/sys/class/i2c-dev/" + name;
    std::string adapter = SysfsAttribute(folder / "name");
    if (adapter.empty()) {
      adapter = SysfsAttribute(folder / "device" / "name");
    }
    adapters.push_back(
        {name, "/dev/" + name, adapter.empty() ? "I2C adapter" : "I2C adapter " + adapter});
  }
  return adapters;
}

std::vector<SerialPortInfo> ListI2cAdapters() {
  return ListI2cAdaptersUnder("");
}
