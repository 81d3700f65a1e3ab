// SPDX-License-Identifier: MIT
// The simulator's VCD trace of a run, read back as a logic analyser reads
// the bus: what it carried, independent of how the line changes were timed
// and of the changes a check of the port makes outside any transaction.
#pragma once

#include <string>
#include <vector>

// The bus's STARTs, STOPs and bytes in the bus monitor's notation ("S A8+
// 00+ P": each byte in hex, '+' acknowledged, '-' not). Bits outside a
// START ... STOP frame and bytes cut short are left out.
std::string TraceTransactions(const std::string& path);

// How long SCL stays high each time, in microseconds of the simulated clock.
std::vector<double> SclHighTimes(const std::string& path);

// The middle one of SclHighTimes: most SCL high phases are data bits, one
// bit delay each. 0 for a trace without any.
double MedianSclHigh(const std::string& path);
