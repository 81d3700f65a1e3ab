// SPDX-License-Identifier: MIT
// Runs of the program against a simulated chip with faults, over memory
// that already holds something, so that every byte left alone and every byte
// written can be told apart afterwards.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tests/e2e/write_outcome.h"

class FaultRun : public ScratchDirectory {
 protected:
  // Writes image over a chip whose data holds before, with the switches
  // after the file name and the simulator's faults; /B and /E among the
  // switches choose byte mode and ignoring errors.
  ImageWrite WriteImage(const Bytes& image, const Bytes& before,
                        const std::vector<std::string>& switches, const std::string& faults) const;

  // The APP reset over registers that held before (16 bytes). Returns the
  // run, with the registers afterwards in app.
  ProgramRun ResetApp(const Bytes& before, const std::vector<std::string>& switches,
                      const std::string& faults, Bytes& app) const;
};

// Checks an APP reset run: its output lists failed registers, in order, and
// ends with "Done."; registers not listed hold 0xFF, listed ones and those
// past the tenth their old contents. With expected_failed, the list must be
// exactly that. A run that ended at the bus opening must have left every
// register alone. Returns the problems found (empty: none).
std::string CheckAppReset(const ProgramRun& run, const Bytes& before, const Bytes& after,
                          const std::optional<std::vector<int>>& expected_failed);

// Random bytes of any value, reproducible from seed.
Bytes RandomBytes(std::uint32_t seed, std::size_t count);
