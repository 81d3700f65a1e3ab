// SPDX-License-Identifier: MIT
#include "bench/sim_run_bench.h"

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench/report_table.h"
#include "bench/shell_run.h"
#include "bench/spread.h"
#include "bench/trace_reader.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr double kNsPerMs = 1e6;

// The protocol's fixed parts, in bit delays: OpenBus raises both lines and
// checks the circuit (2 + 3), CloseBus raises both lines again (2). The
// device probe opens with a STOP (4) and gives 3 per clearing pulse. Each
// frame is a START (4), 28 per byte with its acknowledge, and a STOP (4).
constexpr int kOpenCheckCloseDelays = 7;
constexpr int kProbeStopDelays = 4;
constexpr int kDelaysPerClearingPulse = 3;
constexpr int kFrameDelays = 8;
constexpr int kDelaysPerByte = 28;
// Of these, a frame's START edge comes after 2 of its bit delays and its STOP
// edge before the last 1, so 5 lie between its START and STOP edges and 3
// between one frame's STOP edge and the next one's START edge.
constexpr int kStartToStopDelays = 5;
constexpr int kStopToStartDelays = 3;
// Every write and every read (each frame after the probe) first samples SDA
// once, one bit delay before its START, to see that no slave holds the bus.
constexpr int kBusFreeSampleDelays = 1;
// A read turns the bus round with a repeated START (4) inside its frame. The
// bytes it receives take 28 bit delays each, as those it sends.
constexpr int kRestartDelays = 4;

// The port settles 200 ticks; a write settles until the tick counter has
// moved on by more than 50. The tick counter is the steady clock's
// milliseconds, so each wait ends on a millisecond boundary of that clock.
constexpr std::int64_t kPortSettleTicks = 200;
constexpr std::int64_t kWriteSettleTicks = 51;

// With /F a write is followed by polls instead of the fixed wait: a START,
// the control byte of data block 0 with its acknowledge, the word address 0
// once acknowledged, and a STOP. Its budget is the simulated chip's write
// cycle (the simulator's default, named in the run's settings) and one
// acknowledged poll.
constexpr int kPollDelays = kFrameDelays + 2 * kDelaysPerByte;
constexpr std::int64_t kChipWriteCycleMs = 5;

// A whole run may take at most 2% longer than its protocol.
constexpr double kRunTolerance = 0.02;

// The bit delay the runs' bus actually got may be at most 10% off 40 µs.
constexpr double kBitDelayNs = 40'000;
constexpr double kBitDelayTolerance = 0.10;

// What a run must leave behind: the dump in the chip, APP registers 0 to 9
// at 0xFF, or the dump (loaded into the chip first) in the file it read.
enum class Outcome { kChipHoldsDump, kAppReset, kFileHoldsDump };

struct SimRun {
  std::string name;       // also the stem of its files
  std::string title;      // as the table shows it
  std::string arguments;  // after the program name
  Outcome outcome = Outcome::kChipHoldsDump;
  bool polls = false;  // /F: polls follow each write
};

// What the protocol takes for one run, in nanoseconds, beside the count of
// bit delays and the wait after each frame (0 after the probe and reads).
struct Budget {
  int delays = 0;
  int writes = 0;
  double startup = 0;
  double port_wait = 0;
  double bus = 0;
  double write_waits = 0;
  std::vector<double> waits;
};

std::int64_t SteadyNs(Clock::time_point time) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(time.time_since_epoch()).count();
}

// From a time on the steady clock to the end of a wait of ticks that starts
// there: the ticks-th millisecond boundary after it.
double TickWaitNs(double start_ns, std::int64_t ticks) {
  const double first_tick = std::floor(start_ns / kNsPerMs);
  return (first_tick + static_cast<double>(ticks)) * kNsPerMs - start_ns;
}

std::string Ms(double ns) {
  return Fixed(ns / kNsPerMs, 1) + " ms";
}

std::string Us(double ns) {
  return Fixed(ns / 1000, 2) + " µs";
}

// Measured against expected, with the difference in percent.
std::string Against(double measured, double expected) {
  return Ms(measured) + " vs " + Ms(expected) + " (" + (measured >= expected ? "+" : "") +
         Fixed((measured / expected - 1) * 100, 2) + "%)";
}

long DelayCountPrinted(const std::string& output) {
  const std::string label = "Initializing timer...";
  const auto at = output.find(label);
  return at == std::string::npos ? 0 : std::strtol(output.c_str() + at + label.size(), nullptr, 10);
}

// The file the /R run reads the chip into.
constexpr const char* kReadFile = "chip-read.bin";

bool ChipAsExpected(const SimRun& run, const std::string& work_dir) {
  const std::string dump = FileText(EBRILO_SAMPLE_DUMP);
  switch (run.outcome) {
    case Outcome::kChipHoldsDump:
      return FileText(work_dir + "/" + run.name + ".bin") == dump;
    case Outcome::kFileHoldsDump:
      return FileText(work_dir + "/" + kReadFile) == dump;
    case Outcome::kAppReset:
      break;
  }
  const std::string app = FileText(work_dir + "/" + run.name + ".app");
  return app.size() >= 10 && app.substr(0, 10) == std::string(10, '\xFF');
}

// The bit delays between a frame's START and STOP edges.
int InFrameDelays(const TraceFigures& trace, std::size_t frame) {
  return kStartToStopDelays + kDelaysPerByte * trace.frame_bytes[frame] +
         kRestartDelays * trace.frame_restarts[frame];
}

// The trace with the polls of a /F run taken out of its frames: after the
// device probe, every frame of one byte (refused) or two (acknowledged, with
// its word address) that does not read; a write carries three or more.
// Returns how many there were.
int RemovePolls(TraceFigures& trace) {
  TraceFigures kept = trace;
  kept.frame_bytes.clear();
  kept.frame_restarts.clear();
  kept.frame_reads.clear();
  kept.frame_starts.clear();
  kept.frame_stops.clear();
  int polls = 0;
  for (std::size_t frame = 0; frame < trace.frame_bytes.size(); ++frame) {
    if (frame > 0 && trace.frame_bytes[frame] <= 2 && !trace.frame_reads[frame]) {
      ++polls;
      continue;
    }
    kept.frame_bytes.push_back(trace.frame_bytes[frame]);
    kept.frame_restarts.push_back(trace.frame_restarts[frame]);
    kept.frame_reads.push_back(trace.frame_reads[frame]);
    kept.frame_starts.push_back(trace.frame_starts[frame]);
    kept.frame_stops.push_back(trace.frame_stops[frame]);
  }
  trace = kept;
  return polls;
}

// The start-up and calibration the run measured itself, the port's settling
// wait, every primitive's bit delay and every write's settling wait. Every
// frame after the device probe is a write or a read; a write's wait starts
// when the bit delay after its STOP ends, and a read has none. With /F (the
// polls taken out of the trace) a write waits the chip's write cycle and one
// poll instead.
Budget ProtocolBudget(const TraceFigures& trace, double bit_delay_ns, bool polls) {
  Budget budget;
  budget.delays =
      kOpenCheckCloseDelays + kProbeStopDelays + kDelaysPerClearingPulse * trace.clearing_pulses;
  for (std::size_t frame = 0; frame < trace.frame_bytes.size(); ++frame) {
    budget.delays += kFrameDelays - kStartToStopDelays + InFrameDelays(trace, frame) +
                     (frame > 0 ? kBusFreeSampleDelays : 0);
  }
  const double origin = static_cast<double>(trace.origin_ns);
  budget.startup = static_cast<double>(trace.program_ns);
  budget.port_wait = TickWaitNs(origin, kPortSettleTicks);
  budget.bus = budget.delays * bit_delay_ns;
  for (std::size_t frame = 0; frame < trace.frame_stops.size(); ++frame) {
    const bool write = frame > 0 && !trace.frame_reads[frame];
    const double poll_wait =
        static_cast<double>(kChipWriteCycleMs) * kNsPerMs + kPollDelays * bit_delay_ns;
    const double fixed_wait = TickWaitNs(
        origin + static_cast<double>(trace.frame_stops[frame]) + bit_delay_ns, kWriteSettleTicks);
    budget.waits.push_back(write ? (polls ? poll_wait : fixed_wait) : 0);
    budget.write_waits += budget.waits.back();
    budget.writes += write ? 1 : 0;
  }
  return budget;
}

double Total(const Budget& budget) {
  return budget.startup + budget.port_wait + budget.bus + budget.write_waits;
}

// Where the trace says the time went, beside what the protocol implies for
// each stretch: inside the frames (bit delays only) and between them (bit
// delays and the write waits).
void AddTraceRows(const std::string& title, const TraceFigures& trace, double bit_delay_ns,
                  const Budget& budget) {
  double in_frames = 0;
  double in_frames_expected = 0;
  double between = 0;
  double between_expected = 0;
  for (std::size_t frame = 0; frame < trace.frame_stops.size(); ++frame) {
    in_frames += static_cast<double>(trace.frame_stops[frame] - trace.frame_starts[frame]);
    in_frames_expected += InFrameDelays(trace, frame) * bit_delay_ns;
    if (frame + 1 < trace.frame_stops.size()) {
      between += static_cast<double>(trace.frame_starts[frame + 1] - trace.frame_stops[frame]);
      between_expected +=
          (kStopToStartDelays + kBusFreeSampleDelays) * bit_delay_ns + budget.waits[frame];
    }
  }
  AddRow(title + ": in frames, START to STOP (trace vs protocol)",
         Against(in_frames, in_frames_expected));
  AddRow(title + ": between frames, STOP to START (trace vs protocol)",
         Against(between, between_expected));
}

void AddRunRows(const SimRun& run, const TraceFigures& traced, long count, double bit_delay_ns,
                std::int64_t started, std::int64_t ended) {
  TraceFigures trace = traced;
  const int polls = run.polls ? RemovePolls(trace) : 0;
  const Budget budget = ProtocolBudget(trace, bit_delay_ns, run.polls);
  const double wall = static_cast<double>(ended - started);
  const double ratio = wall / Total(budget);
  const auto reads = static_cast<int>(trace.frame_bytes.size()) - 1 - budget.writes;
  AddRow(run.title + ": writes, reads, " + (run.polls ? "polls, " : "") + "delay_count",
         std::to_string(budget.writes) + ", " + std::to_string(reads) + ", " +
             (run.polls ? std::to_string(polls) + ", " : "") + std::to_string(count));
  AddRow(run.title + ": wall time", Ms(wall));
  AddRow(run.title + ": budget: start-up + port wait + " + std::to_string(budget.delays) +
             " bit delays + " + std::to_string(budget.writes) +
             (run.polls ? " × (" + std::to_string(kChipWriteCycleMs) + " ms write cycle + " +
                              std::to_string(kPollDelays) + "-delay poll)"
                        : " write waits"),
         Ms(Total(budget)) + " = " + Fixed(budget.startup / kNsPerMs, 1) + " + " +
             Fixed(budget.port_wait / kNsPerMs, 1) + " + " + Fixed(budget.bus / kNsPerMs, 1) +
             " + " + Ms(budget.write_waits));
  AddRow(run.title + ": wall time / budget", Fixed(ratio, 4), "≤ " + Fixed(1 + kRunTolerance, 2),
         MetText(ratio <= 1 + kRunTolerance));
  AddTraceRows(run.title, trace, bit_delay_ns, budget);
  const double origin = static_cast<double>(trace.origin_ns);
  const double last_wait_ended =
      origin + static_cast<double>(trace.frame_stops.back()) + bit_delay_ns + budget.waits.back();
  AddRow(run.title + ": outside the budget: process start / exit",
         Ms(origin - budget.startup - static_cast<double>(started)) + " / " +
             Ms(static_cast<double>(ended) - last_wait_ended));
}

void AddIntervalRow(const std::string& title, const std::string& what,
                    const std::vector<double>& samples, int delays, double bit_delay_ns) {
  const Spread spread = SpreadOf(samples);
  AddRow(title + ": " + what, "median " + Us(spread.median) + ", p95 " + Us(spread.p95),
         std::to_string(delays) + " bit delay" + (delays > 1 ? "s" : "") + ": " +
             Us(delays * bit_delay_ns));
}

void AddIntervalRows(const SimRun& run, const TraceFigures& trace, double bit_delay_ns) {
  AddIntervalRow(run.title, "SCL high, data bit", trace.scl_high_data, 1, bit_delay_ns);
  AddIntervalRow(run.title, "SCL high, acknowledge", trace.scl_high_ack, 2, bit_delay_ns);
  AddIntervalRow(run.title, "SCL low", trace.scl_low, 2, bit_delay_ns);
  AddIntervalRow(run.title, "data setup", trace.data_setup, 1, bit_delay_ns);
  if (!trace.read_scl_high_data.empty()) {
    AddIntervalRow(run.title, "SCL high, data bit received", trace.read_scl_high_data, 2,
                   bit_delay_ns);
    AddIntervalRow(run.title, "SCL high, master's acknowledge", trace.read_scl_high_ack, 1,
                   bit_delay_ns);
  }
}

// Why a run cannot be measured, or empty when it can.
std::string RunFailure(const SimRun& run, const std::string& work_dir, int status, long count,
                       const TraceFigures& trace) {
  if (status != 0) {
    return "run failed (std::system status " + std::to_string(status) + ")";
  }
  if (count <= 0) {
    return "no delay count in " + run.name + ".out";
  }
  if (!trace.read || trace.frame_stops.size() < 2) {
    return "no time comment or no transactions in " + run.name + ".vcd";
  }
  if (!ChipAsExpected(run, work_dir)) {
    return run.outcome == Outcome::kFileHoldsDump ? "the file does not hold what the chip held"
                                                  : "the chip does not hold what was written";
  }
  return "";
}

// The bit delay as the bus got it: every line interval in the trace that
// spans a known number of primitives (one port operation and one bit delay
// each), divided by that number. Returns the median; adds its row.
double AddBitDelayRow(const SimRun& run, const TraceFigures& trace) {
  std::vector<double> per_primitive = trace.scl_high_data;
  for (const std::vector<double>* single : {&trace.data_setup, &trace.read_scl_high_ack}) {
    per_primitive.insert(per_primitive.end(), single->begin(), single->end());
  }
  for (const std::vector<double>* doubled :
       {&trace.scl_low, &trace.scl_high_ack, &trace.read_scl_high_data}) {
    for (const double interval : *doubled) {
      per_primitive.push_back(interval / 2);
    }
  }
  const Spread spread = SpreadOf(per_primitive);
  const bool met = std::abs(spread.median - kBitDelayNs) <= kBitDelayNs * kBitDelayTolerance;
  AddRow(run.title + ": bit delay from the trace, per primitive (" +
             std::to_string(per_primitive.size()) + " intervals)",
         "median " + Us(spread.median) + ", p5 " + Us(spread.p5) + ", p95 " + Us(spread.p95),
         "40 µs ± 10%", MetText(met));
  return spread.median;
}

// Runs the program as a user would, timing it from the bench's side, and
// adds its rows. Its bit delay is measured on the bus, from its own trace.
// Returns its trace; false read when it failed. wall_ns is its time from
// start to prompt (the prompt's wait ends at once on an empty input).
TraceFigures BenchRun(const SimRun& run, const std::string& work_dir, double& bit_delay_ns,
                      double& wall_ns) {
  std::string sim =
      "save=" + run.name + ".bin;app_save=" + run.name + ".app;trace=" + run.name + ".vcd";
  if (run.polls) {
    sim += ";write_ms=" + std::to_string(kChipWriteCycleMs);
  }
  if (run.outcome == Outcome::kFileHoldsDump) {
    sim += ";load=" + std::string(EBRILO_SAMPLE_DUMP);
    std::remove((work_dir + "/" + kReadFile).c_str());
  }
  std::printf("Running %s...\n", run.title.c_str());
  std::fflush(stdout);
  const std::int64_t started = SteadyNs(Clock::now());
  const int status = RunShell("cd " + Quoted(work_dir) + " && export EBRILO_SIM=" + Quoted(sim) +
                              " && exec " + Quoted(EBRILO_SIM_PATH) + " " + run.arguments +
                              " </dev/null >" + run.name + ".out 2>&1");
  const std::int64_t ended = SteadyNs(Clock::now());
  wall_ns = static_cast<double>(ended - started);
  TraceFigures trace = ReadTrace(work_dir + "/" + run.name + ".vcd");
  const long count = DelayCountPrinted(FileText(work_dir + "/" + run.name + ".out"));
  const std::string failure = RunFailure(run, work_dir, status, count, trace);
  if (!failure.empty()) {
    trace.read = false;
    AddRow(run.title, failure, "", MetText(false));
    return trace;
  }
  bit_delay_ns = AddBitDelayRow(run, trace);
  AddRunRows(run, trace, count, bit_delay_ns, started, ended);
  return trace;
}

// The wall time of the run of this name, or 0 when there is none.
double WallOf(const std::vector<SimRun>& runs, const std::vector<double>& walls,
              const std::string& name) {
  for (std::size_t i = 0; i < runs.size(); ++i) {
    if (runs[i].name == name) {
      return walls[i];
    }
  }
  return 0;
}

// Each /F run beside the same run with the fixed wait (its name without
// "-f"), and the targets for whole runs with /F, start to prompt. A failed
// run counts as 0 and misses its target.
void AddFastWriteRows(const std::vector<SimRun>& runs, const std::vector<double>& walls) {
  AddSection("Fast writes (/F) against the fixed wait, start to prompt");
  for (std::size_t i = 0; i < runs.size(); ++i) {
    if (runs[i].polls) {
      const double fixed = WallOf(runs, walls, runs[i].name.substr(0, runs[i].name.size() - 2));
      AddRow(runs[i].title + " vs without /F",
             Ms(walls[i]) + " vs " + Ms(fixed) +
                 (fixed > 0 ? " (" + Fixed(walls[i] / fixed * 100, 1) + "%)" : ""));
    }
  }
  const double verified = WallOf(runs, walls, "verify-f");
  const double bytes = WallOf(runs, walls, "byte-f");
  const double pages = WallOf(runs, walls, "page-f");
  const double ratio = pages / WallOf(runs, walls, "page");
  AddRow("Page mode /F /V", Ms(verified), "≤ 4000 ms",
         MetText(verified > 0 && verified <= 4000 * kNsPerMs));
  AddRow("Page mode /F / page mode", Fixed(ratio, 3), "≤ 0.55",
         MetText(pages > 0 && ratio <= 0.55));
  const double byte_ratio = bytes / WallOf(runs, walls, "page");
  AddRow("Byte mode /F / page mode", Fixed(byte_ratio, 3), "≤ 2.5",
         MetText(bytes > 0 && byte_ratio <= 2.5));
}

}  // namespace

void BenchSimRuns(const std::string& work_dir) {
  const std::string dump = Quoted(EBRILO_SAMPLE_DUMP);
  const std::vector<SimRun> runs = {
      {"page", "Page mode", dump, Outcome::kChipHoldsDump},
      {"byte", "Byte mode", dump + " /B", Outcome::kChipHoldsDump},
      {"app", "APP reset", "/P", Outcome::kAppReset},
      {"read", "Read (/R)", std::string(kReadFile) + " /R", Outcome::kFileHoldsDump},
      {"verify", "Page mode, verified (/V)", dump + " /V", Outcome::kChipHoldsDump},
      {"page-f", "Page mode /F", dump + " /F", Outcome::kChipHoldsDump, true},
      {"byte-f", "Byte mode /F", dump + " /B /F", Outcome::kChipHoldsDump, true},
      {"app-f", "APP reset /F", "/P /F", Outcome::kAppReset, true},
      {"verify-f", "Page mode, verified (/V) /F", dump + " /V /F", Outcome::kChipHoldsDump, true},
  };
  std::vector<TraceFigures> traces;
  std::vector<double> bit_delays;
  std::vector<double> walls;
  AddSection("Whole runs of ebrilo-sim");
  for (const SimRun& run : runs) {
    double bit_delay_ns = 0;
    double wall_ns = 0;
    traces.push_back(BenchRun(run, work_dir, bit_delay_ns, wall_ns));
    bit_delays.push_back(bit_delay_ns);
    walls.push_back(traces.back().read ? wall_ns : 0);
  }
  AddFastWriteRows(runs, walls);
  AddSection("Line intervals in the runs' traces");
  for (std::size_t i = 0; i < runs.size(); ++i) {
    if (traces[i].read) {
      AddIntervalRows(runs[i], traces[i], bit_delays[i]);
    }
  }
}

void ProtocolCounts(const TraceFigures& trace, int& primitives, int& writes) {
  const Budget budget = ProtocolBudget(trace, 0, false);
  primitives = budget.delays;
  writes = budget.writes;
}
