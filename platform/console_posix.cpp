// SPDX-License-Identifier: MIT
#include <fcntl.h>

#include <signal.h>
#include <unistd.h>
#include <cerrno>

#include "platform/platform.h"

namespace {

// A standard descriptor that was closed when the program started would be
// handed out again by the next open, and console text could then end up in the
// dump file or on the serial port. Park a /dev/null opened the wrong way round
// on it instead, so that console input/output on it fails just as it would
// have on the closed descriptor.
void ParkClosedDescriptor(int descriptor, int unusable_mode) {
  if (fcntl(descriptor, F_GETFD) != -1 || errno != EBADF) {
    return;
  }
  const int parked = open("/dev/null", unusable_mode | O_CLOEXEC);
  if (parked != -1 && parked != descriptor) {
    dup2(parked, descriptor);
    close(parked);
  }
}

}  // namespace

void ConsoleInit() {
  ParkClosedDescriptor(STDIN_FILENO, O_WRONLY);
  ParkClosedDescriptor(STDOUT_FILENO, O_RDONLY);
  ParkClosedDescriptor(STDERR_FILENO, O_RDONLY);
  // A write to a pipe whose reader has gone then fails with EPIPE, and one
  // past the file size limit (ulimit -f) with EFBIG; each is reported like
  // any other output failure, instead of killing the process.
  signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);
}
