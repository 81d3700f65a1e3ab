// SPDX-License-Identifier: MIT
// The test processes that run the program's own code in-process: a run that
// fails there still reaches the closing prompt, which waits for a line on
// standard input. That input is the test's, never the terminal or whatever
// ctest was started with: it is at its end from the start, so the prompt
// returns at once and the test fails instead of waiting.
#include <fcntl.h>
#include <unistd.h>

namespace {

struct InputAtEnd {
  InputAtEnd() {
    const int null = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (null != -1) {
      dup2(null, STDIN_FILENO);
      close(null);
    }
  }
};

const InputAtEnd input_at_end;

}  // namespace
