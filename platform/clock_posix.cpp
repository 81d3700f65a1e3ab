// SPDX-License-Identifier: MIT
#include <ctime>

#include "platform/platform.h"

std::uint32_t TickCount() {
  // The monotonic clock cannot jump with the wall clock; keeping only the low
  // 32 bits of its milliseconds gives a counter that wraps like a Windows tick.
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const auto ms = static_cast<std::uint64_t>(now.tv_sec) * 1000U +
                  static_cast<std::uint64_t>(now.tv_nsec) / 1000000U;
  return static_cast<std::uint32_t>(ms);
}

std::uint64_t MicrosecondCount() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000000U +
         static_cast<std::uint64_t>(now.tv_nsec) / 1000U;
}
