// SPDX-License-Identifier: MIT
#include <windows.h>

#include "platform/platform.h"

// The system's own millisecond tick: unsigned 32-bit, wrapping after about
// 49.7 days, which the waits allow for.
std::uint32_t TickCount() {
  return GetTickCount();
}
