// SPDX-License-Identifier: MIT
// The CH341A programmer, simulated at 1 ms per USB round trip: the round
// trips each transaction takes, and a verified page-mode write with /F from
// start to prompt, beside the same job on a serial port.
#pragma once

#include <string>

void BenchProgrammerRuns(const std::string& work_dir);
