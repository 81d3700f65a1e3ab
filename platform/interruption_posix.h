// SPDX-License-Identifier: MIT
// Files a run makes and must not leave behind when a signal ends it: the
// temporary output file of a read and the port's lock file. Ctrl-C (SIGINT),
// kill (SIGTERM) and a closed terminal (SIGHUP) remove them, say where a job
// that changes the chip stopped (SayWhenInterrupted in platform.h), and then
// hand the signal to what handled it before: the default action, which ends
// the run as the signal would have, or a simulated port's handler, which
// passes it on in turn. A signal the program was started ignoring (a
// background job's Ctrl-C) stays ignored.
#pragma once

#include <string>

enum class Leftover { OutputTemporary, PortLock };

// Hold back the three signals, and let them through again (a signal that came
// meanwhile arrives then): a file is made and noted for removal with no signal
// in between.
void HoldInterruptions();
void AllowInterruptions();

// From now on an interruption removes path. Call with interruptions held.
void RemoveWhenInterrupted(Leftover leftover, const std::string& path);

// The file was published or removed: an interruption leaves that name alone.
void KeepWhenInterrupted(Leftover leftover);
