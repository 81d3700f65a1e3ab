// SPDX-License-Identifier: MIT
// Runs the program under test as a separate process, the way a user would,
// and captures what it printed and how it ended.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct ProgramRun {
  std::string out;  // standard output, byte for byte
  std::string err;  // standard error
  int status = -1;  // exit status, or -1 when ended by a signal
  int signal = 0;   // the signal that ended it, if any
};

// The simulated clock's speed of the runs that do not measure time: the
// program runs this many times faster than real time, with the same output,
// chip and bus. Runs that measure time, or that act on the program from
// outside while it runs, opt out: speed 1 for the ones that measure time.
inline constexpr std::uint32_t kFastSpeed = 50;
// Runs that a signal must reach in the middle of their work: slow enough that
// the rest of the work takes a few hundred milliseconds even then.
inline constexpr std::uint32_t kSignalSpeed = 5;

struct ProgramSetup {
  std::vector<std::string> command;  // empty: ProgramCommand()
  std::vector<std::string> arguments;
  std::string sim;                       // EBRILO_SIM for the simulated chip
  std::vector<std::string> environment;  // more "NAME=value" for the program
  std::string stdin_path = "/dev/null";  // empty: standard input closed
  std::string stdout_path;               // empty: captured through a pipe
  bool close_stdout = false;
  bool stdout_reader_gone = false;  // a pipe whose reading end is closed
  // A pipe whose reader goes away once it has read this many bytes (0: never).
  std::size_t stdout_reader_quits_after = 0;
  // The file size limit (ulimit -f) in bytes, for every file the program
  // writes, standard output included (0: none).
  std::size_t file_size_limit = 0;
  // Tests run as root: the program then runs as the unprivileged user and
  // group 65534, so that file permissions hold for it.
  bool as_nobody = false;
  // Once standard output contains signal_after, signal_to_send goes to the
  // program (0: none), as a user's Ctrl-C or a kill would come in the middle
  // of a run. A SIGSTOP is followed by SIGCONT after stopped_ms, as job
  // control or a debugger would do.
  int signal_to_send = 0;
  std::string signal_after;
  int stopped_ms = 0;
  // Once standard output contains create_after, the file create_name is made
  // in the run's directory, as another program might make it meanwhile.
  std::string create_after;
  std::string create_name;
  // Added to sim as "speed=N" unless 1, or sim names a speed of its own.
  std::uint32_t speed = kFastSpeed;
};

// The command that starts the program under test: EBRILO_E2E_COMMAND when
// set (for example "wine /path/ebrilo-sim.exe"), else the ebrilo-sim built
// beside these tests. Split at spaces.
std::vector<std::string> ProgramCommand();

// The real program, ebrilo, for the runs on pseudo-terminals and emulated
// devices: EBRILO_E2E_REAL when set (such as the sanitizer build's), else
// the ebrilo built beside these tests.
std::string RealProgram();

// Runs it in directory, with the setup's arguments, environment and streams.
ProgramRun RunProgram(const std::string& directory, const ProgramSetup& setup);
