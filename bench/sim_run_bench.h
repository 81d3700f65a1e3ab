// SPDX-License-Identifier: MIT
// Whole runs of ebrilo-sim (page mode, byte mode, APP reset): the wall time
// of each against the time its protocol takes on this machine, worked out
// from the trace of the same run, and the line intervals in that trace.
#pragma once

#include <string>

// Adds the rows. pass_ns is the measured length of one pass of the busy loop;
// the runs' files go to work_dir.
void BenchSimRuns(const std::string& work_dir, double pass_ns);
