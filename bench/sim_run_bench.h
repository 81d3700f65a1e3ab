// SPDX-License-Identifier: MIT
// Whole runs of ebrilo-sim (page mode, byte mode, APP reset, /R, /V, and the
// writes again with /F): the wall time of each against the time its protocol
// takes on this machine, worked out from the trace of the same run, the line
// intervals in that trace, and the /F runs beside the same runs without it.
#pragma once

#include <string>

// Adds the rows; the runs' files go to work_dir. Each run's bit delay is
// measured from its own trace, not worked out from its delay_count.
void BenchSimRuns(const std::string& work_dir);

// The line primitives (each one port call and one bit delay) and the writes
// (each followed by the 51 ms wait) of the run a trace shows, counted as the
// budget above counts them.
struct TraceFigures;
void ProtocolCounts(const TraceFigures& trace, int& primitives, int& writes);
