// SPDX-License-Identifier: MIT
// A pseudo-terminal for the port tests: a real terminal device, but one
// without modem lines, and never one of this machine's own serial ports.
#pragma once

#include <sys/types.h>

#include <string>

// Opens a new pair; returns the master's descriptor (-1 on failure) and
// sets slave_path to the device the port code is to open.
int OpenPseudoTerminal(std::string& slave_path);

// A process id that no longer runs: a child that has ended and been reaped,
// for the lock files that name a process gone away.
pid_t EndedProcess();
