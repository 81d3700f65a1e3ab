// SPDX-License-Identifier: MIT
#include <windows.h>

#include "platform/platform.h"

// The system's own millisecond tick: unsigned 32-bit, wrapping after about
// 49.7 days, which the waits allow for.
std::uint32_t TickCount() {
  return GetTickCount();
}

// The performance counter: monotonic, and fine enough to time one port call.
// Its count is split into whole seconds and the rest before scaling, so that
// no product overflows however long the machine has been running.
std::uint64_t MicrosecondCount() {
  LARGE_INTEGER count{};
  LARGE_INTEGER frequency{};
  QueryPerformanceCounter(&count);
  QueryPerformanceFrequency(&frequency);
  const auto ticks = static_cast<std::uint64_t>(count.QuadPart);
  const auto per_second = static_cast<std::uint64_t>(frequency.QuadPart);
  return ticks / per_second * 1000000U + ticks % per_second * 1000000U / per_second;
}
