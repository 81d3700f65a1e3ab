// SPDX-License-Identifier: MIT
#include <fcntl.h>
#include <io.h>

#include <cstdint>
#include <cstdlib>

#include "platform/platform.h"

namespace {

// The C runtime calls this where it would otherwise end the process on a bad
// argument, such as a standard stream that has no handle because the program
// was started without a console. Returning lets the call fail with errno
// set, so the console code reports the failure instead of the process dying.
void IgnoreInvalidParameter(const wchar_t*, const wchar_t*, const wchar_t*, unsigned int,
                            std::uintptr_t) {}

}  // namespace

void ConsoleInit() {
  _set_invalid_parameter_handler(IgnoreInvalidParameter);
  // Binary mode: the console code writes CR LF itself, which text mode would
  // turn into CR CR LF; and a CR read at the closing prompt is just ignored.
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
}
