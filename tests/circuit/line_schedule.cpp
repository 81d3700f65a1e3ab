// SPDX-License-Identifier: MIT
#include "tests/circuit/line_schedule.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <stdexcept>

#include "bus/bus_speed.h"

namespace {

// A gap this many bit delays long or more is a wait (the port's settling
// time, a write cycle) and shrinks to this length. The sample of the free
// bus that the program takes two bit delays before a START then still comes
// four bit delays after the change before it.
constexpr long kLongestGap = 6;

// One step of a trace laid on the grid: its change and the bit delays since
// the change before it.
struct GridStep {
  LineLevels lines;
  long delays = 0;
};

bool IsStop(const LineLevels& before, const LineLevels& after) {
  return before.scl && after.scl && !before.sda && after.sda;
}

bool IsStart(const LineLevels& before, const LineLevels& after) {
  return before.scl && after.scl && before.sda && !after.sda;
}

bool SclFalls(const LineLevels& before, const LineLevels& after) {
  return before.scl && !after.scl;
}

// The index of the count-th change of the run, from first on, for which
// found(before, after) holds.
std::size_t FindChange(const std::vector<TraceChange>& run, std::size_t first, int count,
                       bool (*found)(const LineLevels&, const LineLevels&), const char* what) {
  for (std::size_t index = std::max<std::size_t>(first, 1); index < run.size(); ++index) {
    if (found(run[index - 1].lines, run[index].lines) && --count == 0) {
      return index;
    }
  }
  throw std::runtime_error(std::string("the trace has too few ") + what);
}

// The bit delay of a run as its trace shows it: most gaps between changes
// are one bit delay (with the simulator's own cost), so the median is one.
double GapUnit(const std::vector<TraceChange>& run, std::size_t first, std::size_t last) {
  std::vector<std::int64_t> gaps;
  for (std::size_t index = first + 1; index <= last; ++index) {
    gaps.push_back(run[index].time_ns - run[index - 1].time_ns);
  }
  if (gaps.empty()) {
    throw std::runtime_error("the trace has no line changes");
  }
  std::nth_element(gaps.begin(), gaps.begin() + static_cast<std::ptrdiff_t>(gaps.size() / 2),
                   gaps.end());
  return static_cast<double>(gaps[gaps.size() / 2]);
}

// Changes first + 1 to last of a run on the grid, each after the bit delays
// its gap in the trace held.
void AddStretch(const std::vector<TraceChange>& run, std::size_t first, std::size_t last,
                std::vector<GridStep>& grid) {
  const double unit = GapUnit(run, first, last);
  for (std::size_t index = first + 1; index <= last; ++index) {
    const double gap = static_cast<double>(run[index].time_ns - run[index - 1].time_ns);
    grid.push_back({run[index].lines, std::clamp(std::lround(gap / unit), 1L, kLongestGap)});
  }
}

// The chip changes its output only as SCL falls (its acknowledge, its data
// bits) and lets go at a START or STOP. Between two falls its output is seen
// wherever the master releases SDA: SDA is low there exactly when the chip
// pulls it low. Where the master holds SDA low all the time, the chip is
// taken to let go.
void MarkChipOutput(std::vector<ScheduleStep>& steps, bool released_when_dtr) {
  std::size_t begin = 0;
  for (std::size_t end = 1; end <= steps.size(); ++end) {
    if (end < steps.size() && !SclFalls(steps[end - 1].lines, steps[end].lines)) {
      continue;
    }
    bool seen = false;
    bool low = false;
    for (std::size_t index = begin; index < end; ++index) {
      const LineLevels& lines = steps[index].lines;
      if (lines.dtr != released_when_dtr) {
        continue;
      }
      if (seen && low != !lines.sda) {
        throw std::runtime_error("the chip changed SDA while SCL did not fall");
      }
      seen = true;
      low = !lines.sda;
    }
    for (std::size_t index = begin; index < end; ++index) {
      steps[index].chip_low = low;
    }
    begin = end;
  }
}

// Decodes the bus from START to STOP, 9 clocks a byte, the read bit of each
// control byte telling who sends the bytes after it.
ScheduleCounts Count(const std::vector<ScheduleStep>& steps, std::size_t first, std::size_t last) {
  ScheduleCounts counts;
  bool framed = false;
  bool chip_sends = false;
  int clock = 0;
  int byte = 0;
  unsigned value = 0;
  for (std::size_t index = std::max<std::size_t>(first, 1); index <= last; ++index) {
    const LineLevels& before = steps[index - 1].lines;
    const LineLevels& after = steps[index].lines;
    if (IsStart(before, after) || IsStop(before, after)) {
      ++(after.sda ? counts.stops : counts.starts);
      framed = !after.sda;
      clock = 0;
      byte = 0;
      chip_sends = false;
      continue;
    }
    if (!framed || before.scl || !after.scl) {
      continue;
    }
    const bool chip_low = steps[index].chip_low;
    if (clock < 8) {
      value = value << 1 | (after.sda ? 1U : 0U);
      if (chip_sends) {
        ++(chip_low ? counts.chip_zero_bits : counts.chip_one_bits);
      }
    } else if (!chip_sends && chip_low) {
      ++counts.chip_acknowledges;
    }
    if (++clock == 9) {
      if (byte++ == 0) {
        chip_sends = (value & 1U) != 0;
      }
      clock = 0;
      value = 0;
    }
  }
  return counts;
}

}  // namespace

std::vector<TraceChange> ReadTrace(const std::string& path) {
  std::ifstream file(path);
  if (!file) {
    throw std::runtime_error("cannot read " + path);
  }
  std::vector<TraceChange> changes;
  TraceChange current;
  bool started = false;
  std::string line;
  while (std::getline(file, line)) {
    if (line.empty() || line[0] == '$') {
      continue;
    }
    if (line[0] == '#') {
      if (started) {
        changes.push_back(current);
      }
      started = true;
      current.time_ns = std::stoll(line.substr(1));
      continue;
    }
    if (line.size() != 2 || (line[0] != '0' && line[0] != '1')) {
      throw std::runtime_error("unexpected trace line '" + line + "'");
    }
    const bool level = line[0] == '1';
    switch (line[1]) {
      case '!':
        current.lines.scl = level;
        break;
      case '"':
        current.lines.sda = level;
        break;
      case '#':
        current.lines.dtr = level;
        break;
      case '%':
        current.lines.rts = level;
        break;
      case '&':
        current.lines.cts = level;
        break;
      case '\'':
        // address_only: what the chip made of the lines, not a line.
        break;
      default:
        throw std::runtime_error("unexpected trace line '" + line + "'");
    }
  }
  // The last time stamp only ends the trace.
  if (changes.empty()) {
    throw std::runtime_error(path + " holds no line changes");
  }
  return changes;
}

Schedule BuildSchedule(const std::vector<TraceChange>& write_run,
                       const std::vector<TraceChange>& read_run, int data_bytes,
                       bool released_when_dtr, ScheduleCounts& write_counts,
                       ScheduleCounts& read_counts, double bit_delay) {
  // The probe opens and ends with a STOP; the first page write ends with the
  // third.
  const std::size_t write_end = FindChange(write_run, 0, 3, IsStop, "STOPs in the write run");
  const std::size_t read_begin = FindChange(read_run, 0, 2, IsStop, "STOPs in the read run");
  const std::size_t repeated_start =
      FindChange(read_run, read_begin, 2, IsStart, "STARTs in the read run");
  // The repeated START's own fall, then 9 clocks for the control byte and 9
  // for each data byte.
  const std::size_t read_end =
      FindChange(read_run, repeated_start, 1 + 9 * (1 + data_bytes), SclFalls, "clocks");
  if (write_run[write_end].lines != read_run[read_begin].lines) {
    throw std::runtime_error("the runs do not join: their lines differ after the probe");
  }

  std::vector<GridStep> grid;
  grid.push_back({write_run[0].lines, 0});
  AddStretch(write_run, 0, write_end, grid);
  const std::size_t read_first = grid.size();
  AddStretch(read_run, read_begin, read_end, grid);

  Schedule schedule{.bit_delay = bit_delay};
  double time = 0;
  const double hold = std::max(kSclWaitMicroseconds * 1e-6 - bit_delay, 0.0);
  bool scl_moved = false;  // by the step before: moved again a bit delay on, it waits hold more
  for (const GridStep& step : grid) {
    const bool again =
        scl_moved && step.delays == 1 && schedule.steps.back().lines.rts != step.lines.rts;
    time += static_cast<double>(step.delays) * bit_delay + (again ? hold : 0);
    scl_moved = !schedule.steps.empty() && schedule.steps.back().lines.rts != step.lines.rts;
    ScheduleStep& added = schedule.steps.emplace_back();
    added.time = time;
    added.lines = step.lines;
    added.sampled_before = step.delays >= 2;
    if (schedule.steps.size() > 1) {
      const LineLevels& before = schedule.steps[schedule.steps.size() - 2].lines;
      added.start_or_stop = IsStart(before, step.lines) || IsStop(before, step.lines);
    }
  }
  schedule.end = time + 2 * bit_delay;
  MarkChipOutput(schedule.steps, released_when_dtr);
  write_counts = Count(schedule.steps, 0, read_first - 1);
  read_counts = Count(schedule.steps, read_first - 1, schedule.steps.size() - 1);
  return schedule;
}
