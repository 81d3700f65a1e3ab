// SPDX-License-Identifier: MIT
// A page-mode write with /V through the simulator's USB adapter model (1 ms
// per line operation, CTS lagging 0, 3 and 16 ms), in simulated time, against
// the usual workaround for such adapters: every bit delay raised to 6 ms.
#pragma once

#include <string>

void BenchAdapterRuns(const std::string& work_dir);
