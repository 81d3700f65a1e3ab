// SPDX-License-Identifier: MIT
// The run sequence: banner, then either the usage text or one job (writing
// a dump file into the EEPROM, reading the EEPROM into a new file, or
// resetting its APP registers), then the closing prompt.
#pragma once

#include <span>
#include <string_view>

// arguments are argument 1 to the last. Never returns: every run ends
// through the closing prompt or a fatal error.
[[noreturn]] void RunSequence(std::span<const std::string_view> arguments);
