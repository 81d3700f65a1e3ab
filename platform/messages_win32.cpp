// SPDX-License-Identifier: MIT
#include <windows.h>

#include "platform/platform.h"

// A console program may still own windows (a console host, an input method)
// whose messages land in this thread's queue; a long polling wait must not
// leave them unanswered. PeekMessage never waits, so this costs nothing when
// the queue is empty.
void PumpMessages() {
  MSG message{};
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE) != 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}
