// SPDX-License-Identifier: MIT
// Shared by the unit tests: putting the program's process-wide state and the
// fakes back to their start, and running code that ends the process.
#pragma once

#include <functional>
#include <string>

// Every process-wide variable of the program and of the fakes as at start-up.
void ResetState();

// Runs body in a death-test child and expects it to exit with status. The
// child's standard input is at end of input, so the closing prompt cannot
// wait, and its standard output goes to a file. Returns what it printed.
std::string OutputOfExit(const std::function<void()>& body, int status);

// The closing sequence that follows every fatal error message.
inline const std::string kClosingLines =
    "\r\n----------------------------------------------------------------\r\n"
    "Hit <Enter> to exit...\r\n";
