// SPDX-License-Identifier: MIT
// One whole run of ebrilo-sim at speed 1, timed on the simulated clock from
// its trace: the program's start to its opening of the port, and on to the
// last line change, which the prompt follows at once. The adapters' round
// trips and bus time move that clock on without real time passing, so it
// gives what a run takes on real hardware.
#pragma once

#include <string>

struct WholeRun {
  bool done = false;
  double wall_s = 0;
  double start_to_prompt_s = 0;  // simulated: program start to the last line change
  double opening_s = 0;          // simulated: program start to the port's opening
  std::string err;
};

// Runs "ebrilo-sim job /PORT:port" in work_dir with EBRILO_SIM set to sim
// and the session's data saved to name.bin; its output goes to name.out and
// name.err. The run is done when it ended with status 0 and, where dump is
// given, left the chip holding the dump.
WholeRun RunJob(const std::string& work_dir, const std::string& name, const std::string& job,
                const std::string& port, const std::string& sim, const std::string& dump);

// "1.234 s".
std::string Seconds(double seconds);
