// SPDX-License-Identifier: MIT
// A VCD trace of the port and bus lines, for GTKWave or sigrok's I2C decoder,
// and of what the chip made of them: address_only changes at every
// acknowledged address-only write, which can corrupt the real chip.
// Times are nanoseconds of the simulated clock since the trace opened, so a
// trace made at any speed shows the bus as the program timed it.
// A comment in the header places time 0 on the steady clock and tells how long
// the program had run by then (start-up and delay calibration), so that a
// trace made at speed 1, where the simulated clock is the steady clock, can be
// laid beside the tick counter and the run's own wall time.
// Changes collect in memory and reach the file at close or when the buffer
// grows large, so that tracing adds little to a line operation.
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <string>

#include "sim/sim_parts.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kFlushSize = 1 << 20;

OutputFile file;
std::int64_t written = 0;  // bytes in the file so far
std::string buffer;
int write_error = 0;  // errno of the first failed write
Clock::time_point origin;
std::int64_t simulated_origin = 0;
// Taken while the program loads, before main runs.
const Clock::time_point program_start = Clock::now();
std::int64_t last_time = 0;
LineLevels last;

std::string Nanoseconds(Clock::duration duration) {
  return std::to_string(std::chrono::duration_cast<std::chrono::nanoseconds>(duration).count());
}

std::int64_t Now() {
  return SimNanoseconds() - simulated_origin;
}

void Write(const char* bytes, std::size_t size) {
  if (write_error == 0 && !OutputWrite(file, written, bytes, size)) {
    write_error = errno;
  }
  written += static_cast<std::int64_t>(size);
}

void Flush() {
  Write(buffer.data(), buffer.size());
  buffer.clear();
}

void AddChange(bool level, char id) {
  buffer += level ? '1' : '0';
  buffer += id;
  buffer += '\n';
}

// One identifier character per signal, in the order of the $var lines.
void AddChanges(const LineLevels& levels, bool all) {
  if (all || levels.scl != last.scl) {
    AddChange(levels.scl, '!');
  }
  if (all || levels.sda != last.sda) {
    AddChange(levels.sda, '"');
  }
  if (all || levels.dtr != last.dtr) {
    AddChange(levels.dtr, '#');
  }
  if (all || levels.rts != last.rts) {
    AddChange(levels.rts, '%');
  }
  if (all || levels.cts != last.cts) {
    AddChange(levels.cts, '&');
  }
  if (all || levels.address_only != last.address_only) {
    AddChange(levels.address_only, '\'');
  }
  last = levels;
}

}  // namespace

bool TraceOpen(const std::string& path, const LineLevels& levels, std::string& reason) {
  if (!OutputCreate(path, file, reason)) {
    return false;
  }
  written = 0;
  write_error = 0;
  origin = Clock::now();
  simulated_origin = SimNanoseconds();
  last_time = 0;
  buffer =
      "$version ebrilo-sim $end\n"
      "$comment time 0 is steady clock " +
      Nanoseconds(origin.time_since_epoch()) + " ns, program start + " +
      Nanoseconds(origin - program_start) +
      " ns $end\n"
      "$timescale 1ns $end\n"
      "$scope module port $end\n"
      "$var wire 1 ! scl $end\n"
      "$var wire 1 \" sda $end\n"
      "$var wire 1 # dtr $end\n"
      "$var wire 1 % rts $end\n"
      "$var wire 1 & cts $end\n"
      "$var wire 1 ' address_only $end\n"
      "$upscope $end\n"
      "$enddefinitions $end\n"
      "#0\n"
      "$dumpvars\n";
  AddChanges(levels, true);
  buffer += "$end\n";
  return true;
}

void TraceLines(const LineLevels& levels, std::int64_t simulated_time) {
  if (file.descriptor == -1 ||
      (levels.scl == last.scl && levels.sda == last.sda && levels.dtr == last.dtr &&
       levels.rts == last.rts && levels.cts == last.cts &&
       levels.address_only == last.address_only)) {
    return;
  }
  const std::int64_t time = simulated_time - simulated_origin;
  if (time != last_time) {
    buffer += '#';
    buffer += std::to_string(time);
    buffer += '\n';
    last_time = time;
  }
  AddChanges(levels, false);
  if (buffer.size() >= kFlushSize) {
    Flush();
  }
}

bool TraceClose() {
  if (file.descriptor == -1) {
    return true;
  }
  Flush();
  // A VCD change lasts until the next time stamp: the trace ends with one,
  // or a decoder never sees the last levels held, and the final STOP is lost.
  char end[24] = "#";
  char* const digits_end =
      std::to_chars(end + 1, end + sizeof end - 1, std::max(Now(), last_time + 1)).ptr;
  *digits_end = '\n';
  Write(end, static_cast<std::size_t>(digits_end + 1 - end));
  if (write_error != 0) {
    OutputDiscard(file);
    errno = write_error;
    return false;
  }
  return OutputCommit(file);
}

void TraceDiscard() {
  OutputDiscard(file);
  buffer.clear();
}
