// SPDX-License-Identifier: MIT
#include "tests/pseudo_terminal.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

int OpenPseudoTerminal(std::string& slave_path) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master == -1 || grantpt(master) != 0 || unlockpt(master) != 0) {
    if (master != -1) {
      close(master);
    }
    return -1;
  }
  slave_path = ptsname(master);
  return master;
}

pid_t EndedProcess() {
  const pid_t child = fork();
  if (child == 0) {
    _exit(0);
  }
  waitpid(child, nullptr, 0);
  return child;
}
