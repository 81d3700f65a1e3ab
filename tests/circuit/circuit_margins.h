// SPDX-License-Identifier: MIT
// What must hold of an interface circuit driven by the program's line
// sequence, and by how much it holds: the worst case of each condition over
// one simulation.
#pragma once

#include <string>

#include "tests/circuit/line_schedule.h"
#include "tests/circuit/spice_bench.h"

inline constexpr double kSettleLimit = 10e-6;
inline constexpr double kClampLimit = 1e-3;
inline constexpr double kSupplyLimit = 5e-3;
// An RS-232 driver is rated for loads of 3 kilohms; a logic-level adapter's
// output for a couple of milliamperes.
inline constexpr double kRs232RatedLoad = 3e3;
inline constexpr double kLogicOutputLimit = 2e-3;

struct Margins {
  // SCL and SDA at the chip: the longest time a change took to reach 0.7 or
  // 0.3 VCC, and how far beyond it the line then stayed until its next change.
  double settle = 0;
  double level = 0;
  // SDA at the chip while SCL is above 0.3 VCC, outside the START and STOP
  // edges: how far it stayed on its side of 0.7 or 0.3 VCC.
  double held = 0;
  // CTS at the port, wherever the program may sample it: how far beyond the
  // receiver's thresholds (2.4 V and 0.8 V; logic-level: 0.7 and 0.3 of its
  // I/O voltage).
  double cts = 0;
  double scl_high = 0, scl_low = 0;  // SCL's shortest high and low as the chip sees it
  // The chip's pins: how far inside -0.5 V to VCC + 0.5 V, and the largest
  // current through their clamp diodes.
  double pins = 0;
  double clamp = 0;
  // The largest current drawn from VCC, and out of a port output, with the
  // latter's limit.
  double supply = 0;
  double port_output = 0;
  double port_output_limit = 0;
  // One line for each condition that failed, saying where.
  std::string failures;
};

Margins Evaluate(const Waveforms& waves, const PortModel& port, const Schedule& schedule);

// The margins as one row of a Markdown table, and that table's head.
std::string MarginsHead();
std::string MarginsRow(const std::string& name, const Margins& margins);
