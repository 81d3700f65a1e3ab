// SPDX-License-Identifier: MIT
#include "platform/platform.h"

// A POSIX console program has no message queue to serve.
void PumpMessages() {}
