// SPDX-License-Identifier: MIT
// Reads a VCD trace of ebrilo-sim and decodes its bus lines: where time 0
// lies, the START ... STOP frames with their bytes, and the lengths of the
// SCL phases and of the data setup before each clock.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TraceFigures {
  bool read = false;            // the file held the time comment and the lines
  std::int64_t origin_ns = 0;   // time 0 (the port's opening) on the steady clock
  std::int64_t program_ns = 0;  // how long the program had run by time 0
  std::int64_t end_ns = 0;      // time of the last line change
  // SCL pulses between the device probe's leading STOP and its START.
  int clearing_pulses = 0;
  // Each START ... STOP frame in order: its whole bytes (nine clocks each),
  // its repeated STARTs, whether it reads from the chip (a control byte with
  // the read bit), and the times of its START and its STOP.
  std::vector<int> frame_bytes;
  std::vector<int> frame_restarts;
  std::vector<bool> frame_reads;
  std::vector<std::int64_t> frame_starts;
  std::vector<std::int64_t> frame_stops;
  // Nanoseconds, for bytes the master sends: SCL high in a data bit's clock
  // and in the ninth (acknowledge) clock; SCL low between clocks. For bytes
  // it receives: SCL high in a data bit's clock, while the master samples
  // SDA, and in its own acknowledge's clock. And from the master's change of
  // SDA to the rise of SCL that follows it.
  std::vector<double> scl_high_data;
  std::vector<double> scl_high_ack;
  std::vector<double> scl_low;
  std::vector<double> read_scl_high_data;
  std::vector<double> read_scl_high_ack;
  std::vector<double> data_setup;
};

TraceFigures ReadTrace(const std::string& path);
