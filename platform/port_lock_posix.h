// SPDX-License-Identifier: MIT
// The lock file that terminal programs and ebrilo use to keep off a serial
// port another one has: /run/lock/LCK.. followed by the device's base name,
// holding the owner's process id as ten ASCII digits, right-aligned, and a
// newline. A lock whose process no longer runs is stale.
#pragma once

#include <sys/types.h>
#include <string>

// The lock file of a device, named after the device's base name once symbolic
// links are resolved, so that /dev/serial/by-id/... and the ttyUSB0 it
// points at share one lock.
std::string PortLockPath(const char* device);

// The running process that the lock file names, or 0 when there is no such
// file, it names nobody, or its process no longer runs.
pid_t LockOwner(const std::string& lock_path);

// Takes the lock file for device (symbolic links resolved) before the port is
// opened, saying on standard error what stands in the way: a lock held by a
// running process refuses the port (false); a stale lock is taken over;
// anything at the lock's name that is not a regular file, or a lock folder
// that cannot be written, is passed over, and the run goes on with the
// device's own lock. shown is the name the user gave.
bool LockPort(const std::string& device, const char* shown);

// Removes the lock file taken by LockPort, if any.
void UnlockPort();
