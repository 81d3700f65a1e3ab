// SPDX-License-Identifier: MIT
// A recording serial port library, linked into the unit tests in place of the
// real one. Every call is kept in order; CTS answers from a queue of scripted
// values and, once that is empty, from a fixed rule that models the circuit.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

enum class PortOp { Open, Close, Dtr, Rts, Cts };

// level: what DTR or RTS was passed, or what CTS answered.
struct PortCall {
  PortOp op;
  std::int32_t level;
};

// How CTS answers once its queue is empty: a fixed value, or a loop-back
// circuit in which CTS follows (or opposes) the last level given to DTR.
enum class CtsRule { Constant, FollowsDtr, OpposesDtr };

extern std::vector<PortCall> fake_port_calls;
extern std::string fake_port_mode;  // the mode text of the latest OPENCOM
extern std::deque<std::int32_t> fake_cts_queue;
extern CtsRule fake_cts_rule;
extern std::int32_t fake_cts_constant;
extern bool fake_port_failed;  // what PortFailed() answers
// When not 0: PortFailed() also answers true once this many calls are made.
extern std::size_t fake_port_fails_at_call;

// Nothing recorded, nothing queued, CTS constantly 0, the port healthy.
void FakeSerialReset();

// The calls so far as words: "open", "close", "D1"/"D0" for DTR, "R1"/"R0"
// for RTS and "C" for a CTS read, separated by spaces.
std::string FakePortTrace();
