// SPDX-License-Identifier: MIT
// What one line operation costs on top of its bit delay: on the simulated
// port, without and with its trace, and on a real port named on the command
// line.
#pragma once

#include <string>

// Adds the rows. The trace goes to work_dir. An empty device means no real
// port is measured: this machine's own serial ports are never opened unless
// named.
void BenchLineOps(const std::string& work_dir, const std::string& device);
