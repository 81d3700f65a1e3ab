// SPDX-License-Identifier: MIT
// Running other programs of the build through the shell, and reading what
// they left in files.
#pragma once

#include <string>

// The text as one single-quoted shell word.
std::string Quoted(const std::string& text);

// Runs a shell command and returns its status as std::system gives it:
// 0 when it exited with status 0.
int RunShell(const std::string& command);

// The whole file, or an empty string when it cannot be read.
std::string FileText(const std::string& path);
