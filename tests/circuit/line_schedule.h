// SPDX-License-Identifier: MIT
// The program's own line sequence as the stimulus of a circuit simulation,
// taken from ebrilo-sim's VCD traces. The traces come from runs on the fast
// simulated clock, whose gaps between line changes are the bit delays plus
// the simulator's own cost, stretched now and then by the machine's load. So
// only the order of the changes and the number of bit delays between them
// are kept, and each step is laid on a grid of exactly one bit delay (an SCL
// phase of one bit delay lengthened to the program's least one for SCL);
// waits far longer than a few bit delays (the port's settling time, the
// write cycle) shrink to a few bit delays, as nothing moves on the lines.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Levels as the trace gives them: scl and sda at the bus, true high; dtr, rts
// and cts at the port, true asserted.
struct LineLevels {
  bool scl = false;
  bool sda = false;
  bool dtr = false;
  bool rts = false;
  bool cts = false;
  bool operator==(const LineLevels&) const = default;
};

struct TraceChange {
  std::int64_t time_ns = 0;
  LineLevels lines;  // after the change
};

// The changes of an ebrilo-sim trace, the opening levels first (time 0).
// Throws std::runtime_error on a file that is not such a trace.
std::vector<TraceChange> ReadTrace(const std::string& path);

inline constexpr double kBitDelay = 40e-6;

struct ScheduleStep {
  double time = 0;  // seconds of circuit time
  LineLevels lines;
  // The chip pulls SDA low from this step on: it changes its output only at
  // a falling SCL, which is where this changes.
  bool chip_low = false;
  // SDA changed while SCL stayed high: a START or a STOP.
  bool start_or_stop = false;
  // The program may sample CTS from two bit delays after the previous step
  // up to this one: the gap holds two bit delays or more, as every read does
  // (a line change's own delay, then the read's).
  bool sampled_before = false;
};

struct Schedule {
  std::vector<ScheduleStep> steps;
  double end = 0;  // the circuit simulation runs this long
  double bit_delay = kBitDelay;
};

// What a stretch of trace holds, to show that the stimulus covers what it
// should.
struct ScheduleCounts {
  int starts = 0;
  int stops = 0;
  int chip_acknowledges = 0;  // SCL high while the chip pulls SDA low after a byte it took
  int chip_zero_bits = 0;     // ... while it sends a 0 bit of a byte it reads out
  int chip_one_bits = 0;      // SCL high with SDA released by both, while the chip sends
};

// The circuit check, the probe and the first page write of a write run, then
// the first read transaction of a read run up to and including data_bytes of
// data. released_when_dtr tells which DTR level releases SDA (false with /D).
// Throws std::runtime_error when the traces do not hold that much, or when
// the chip's output cannot be told from them.
Schedule BuildSchedule(const std::vector<TraceChange>& write_run,
                       const std::vector<TraceChange>& read_run, int data_bytes,
                       bool released_when_dtr, ScheduleCounts& write_counts,
                       ScheduleCounts& read_counts, double bit_delay);
