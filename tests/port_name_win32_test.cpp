// SPDX-License-Identifier: MIT
// /PORT: names on Windows: COM1 to COM255, always opened as \\.\COMn (the bare
// name reaches only COM1 to COM9), or a device path beginning \\.\ as given.
// The mapping is plain text work, so it is tested here on the build machine.
#include <gtest/gtest.h>

#include "platform/platform.h"

namespace {

TEST(PortDevicePathWin32Test, MapsPortNamesToDevicePaths) {
  const struct {
    const char* mode;
    const char* path;
  } cases[] = {
      {"COM1: baud=9600 parity=N data=8 stop=0", R"(\\.\COM1)"},
      {"COM12: baud=9600", R"(\\.\COM12)"},
      {"com5: baud=9600", R"(\\.\COM5)"},
      {"COM255: baud=9600", R"(\\.\COM255)"},
      {R"(\\.\COM3: baud=9600)", R"(\\.\COM3)"},
      {R"(\\.\CNCA0: baud=9600)", R"(\\.\CNCA0)"},
      {"COM0: baud=9600", ""},
      {"COM256: baud=9600", ""},
      {"ttyUSB0: baud=9600", ""},
      {"/dev/ttyS0: baud=9600", ""},
      {R"(\\.\: baud=9600)", ""},
      {": baud=9600", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(PortDevicePath(c.mode), c.path) << c.mode;
  }
}

}  // namespace
