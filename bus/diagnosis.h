// SPDX-License-Identifier: MIT
// Finding out why the bus did not open. A circuit wired with other polarities
// than the switches say has a clear signature: under the wrong switches the
// loop-back check or the probe fails, under the right ones both pass. So once
// either has failed, the other combinations of /X, /D and /I are tried, each
// with the same check and probe a run given those switches would make, and
// the finding is put in words for the user.
#pragma once

#include <string>

// Call once the check or the probe failed under the switches in
// bus_options (after other probes, if any: each leaves the bus idle);
// check_passed tells which of the two it was. Tries the other
// seven combinations, reading and writing nothing of the chip's memory, then
// puts bus_options back and leaves the bus idle. Returns one line for
// standard error: the switches that work (the fewest, when several do), or
// what the lines showed when none does. Empty when the port has failed, as
// nothing can be learnt from a port that does not move its lines.
std::string DiagnoseBus(bool check_passed);
