// SPDX-License-Identifier: MIT
// The CH341A programmer, simulated at 1 ms per USB round trip: the round
// trips each transaction takes, and a verified page-mode write with /F from
// start to prompt, beside the same job on a serial port. And /P /R on a
// serial port, an I2C adapter and the programmer: start-up on each.
#pragma once

#include <string>

void BenchProgrammerRuns(const std::string& work_dir);
void BenchStartUps(const std::string& work_dir);
