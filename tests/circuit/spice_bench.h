// SPDX-License-Identifier: MIT
// The test bench around an interface circuit: the port's drivers, cable and
// receiver, the chip's pins and supply, driven by the program's line
// sequence; run through ngspice in batch mode.
#pragma once

#include <string>
#include <vector>

#include "tests/circuit/line_schedule.h"

// What drives the circuit's port side.
struct PortModel {
  std::string name;     // as the results show it, such as "RS-232 +-12 V"
  bool rs232 = false;   // RS-232 levels; otherwise a logic-level adapter
  double volts = 0;     // RS-232: the driver's swing (+-volts); logic: the I/O voltage
  double chip_vcc = 0;  // the chip's and circuit's supply
};

// RS-232: a driver of 300 ohms output resistance whose edges slew at 4 V/us,
// a receiver of 5 kilohms; 500 pF of cable on each line. A logic-level
// adapter: outputs of 100 ohms with 20 ns edges, an input that draws nothing;
// the same 500 pF of wiring.
inline constexpr double kRs232Slew = 4e6;  // V/s
inline constexpr double kRs232Receiver = 5e3;

// The circuit: its subcircuit's name and its file's text, which the
// weakened variants change.
struct Design {
  std::string subcircuit;
  std::string text;
};

// The circuit simulation's results, one row per time point.
struct Waveforms {
  std::vector<double> time;
  std::vector<double> scl;          // at the chip's pin
  std::vector<double> sda;          // at the chip's pin
  std::vector<double> cts;          // at the port's receiver
  std::vector<double> supply;       // current drawn from VCC
  std::vector<double> clamp;        // the largest current through any of the chip's clamp diodes
  std::vector<double> port_output;  // the largest current out of (or into) a port output
};

// Writes the bench for the design under this port model into directory,
// runs ngspice there and reads its results. Throws std::runtime_error, with
// the end of ngspice's log, when the simulation does not complete.
Waveforms SimulateBench(const Design& design, const PortModel& port, const Schedule& schedule,
                        const std::string& directory);
