// SPDX-License-Identifier: MIT
// The simulated adapter's transfers move the simulated clock on by their bus
// time without taking it in real time, as a USB adapter's round trips do in
// the simulator: a real adapter's I2C_RDWR call blocks for that long. So the
// whole run is measured on the simulated clock, which at speed 1 is the
// steady clock plus the bus time spent: the program's time up to the bus's
// opening, from the trace's header, and from there to the last STOP. The
// simulator's own wall time is given beside it.
#include "bench/i2c_adapter_bench.h"

#include <chrono>
#include <cstdio>
#include <string>

#include "bench/report_table.h"
#include "bench/shell_run.h"
#include "bench/trace_reader.h"

namespace {

constexpr double kNsPerMs = 1e6;
constexpr double kTargetMs = 1500;

struct JobFigures {
  bool done = false;
  double wall_ns = 0;
  double bus_ns = 0;  // START to STOP, over every transfer
  std::size_t transfers = 0;
  TraceFigures trace;
};

std::string Ms(double ns) {
  return Fixed(ns / kNsPerMs, 0) + " ms";
}

// The sample dump written with /F /V on the port given, the chip's write
// cycle 5 ms; false done when the run failed or left the chip wrong.
JobFigures RunJob(const std::string& work_dir, const std::string& name,
                  const std::string& port_switch) {
  const std::string sim = "write_ms=5;save=" + name + ".bin;trace=" + name + ".vcd";
  std::printf("Running page mode /F /V %s...\n", port_switch.c_str());
  std::fflush(stdout);
  const auto started = std::chrono::steady_clock::now();
  const int status =
      RunShell("cd " + Quoted(work_dir) + " && export EBRILO_SIM=" + Quoted(sim) + " && exec " +
               Quoted(EBRILO_SIM_PATH) + " " + Quoted(EBRILO_SAMPLE_DUMP) + " /F /V " +
               port_switch + " </dev/null >" + name + ".out 2>" + name + ".err");
  const auto ended = std::chrono::steady_clock::now();
  JobFigures job;
  job.wall_ns = static_cast<double>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(ended - started).count());
  job.trace = ReadTrace(work_dir + "/" + name + ".vcd");
  for (std::size_t i = 0; i < job.trace.frame_stops.size(); ++i) {
    job.bus_ns += static_cast<double>(job.trace.frame_stops[i] - job.trace.frame_starts[i]);
  }
  job.transfers = job.trace.frame_stops.size();
  job.done = status == 0 && job.trace.read &&
             FileText(work_dir + "/" + name + ".bin") == FileText(EBRILO_SAMPLE_DUMP);
  return job;
}

// Start to prompt on the simulated clock: the trace's last line change is
// the bus's end; what follows it (the last line and the prompt) takes
// microseconds.
double WholeRunNs(const JobFigures& job) {
  return static_cast<double>(job.trace.program_ns + job.trace.end_ns);
}

}  // namespace

void BenchI2cAdapterRuns(const std::string& work_dir) {
  AddSection("I2C adapter (simulated i2c-dev, 100 kHz): page mode /F /V at speed 1");
  const JobFigures adapter = RunJob(work_dir, "i2c-adapter", "/PORT:i2c-1");
  const JobFigures serial = RunJob(work_dir, "i2c-serial", "");
  if (!adapter.done) {
    AddRow("Through i2c-1", "failed", "", MetText(false));
    return;
  }
  AddRow("Through i2c-1: program start to the adapter's opening (start-up)",
         Ms(static_cast<double>(adapter.trace.program_ns)));
  AddRow("Through i2c-1: bus busy, START to STOP over " + std::to_string(adapter.transfers) +
             " transfers",
         Ms(adapter.bus_ns));
  AddRow("Through i2c-1: adapter opened to the last STOP, write cycles and polls included",
         Ms(static_cast<double>(adapter.trace.end_ns)));
  AddRow("Through i2c-1: whole run, start to prompt (simulated clock)", Ms(WholeRunNs(adapter)),
         "≤ " + Fixed(kTargetMs, 0) + " ms", MetText(WholeRunNs(adapter) <= kTargetMs * kNsPerMs));
  AddRow("Through i2c-1: the simulator's wall time, start to prompt (bus time not waited)",
         Ms(adapter.wall_ns));
  if (!serial.done) {
    AddRow("Through the serial port", "failed", "", MetText(false));
    return;
  }
  AddRow("Through the serial port: bus busy, START to STOP over " +
             std::to_string(serial.transfers) + " transactions",
         Ms(serial.bus_ns));
  AddRow("Through the serial port: port opened to the last line change",
         Ms(static_cast<double>(serial.trace.end_ns)));
  AddRow("Through the serial port: whole run, start to prompt (simulated clock; wall time)",
         Ms(WholeRunNs(serial)) + "; " + Ms(serial.wall_ns));
  AddRow("Whole run through i2c-1 / through the serial port",
         Fixed(WholeRunNs(adapter) / WholeRunNs(serial), 3));
}
