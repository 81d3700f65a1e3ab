// SPDX-License-Identifier: MIT
// The system's own text for a Windows error code, shared by the Windows
// files of the platform layer.
#pragma once

#include <windows.h>

#include <string>

// The message for error, without its trailing line end and full stop, or
// "error N" when the system has none.
std::string SystemErrorText(DWORD error);
