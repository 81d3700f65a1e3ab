// SPDX-License-Identifier: MIT
#include "bench/whole_run.h"

#include <chrono>
#include <cstdio>

#include "bench/report_table.h"
#include "bench/shell_run.h"
#include "bench/trace_reader.h"

namespace {

constexpr double kNsPerS = 1e9;

}  // namespace

WholeRun RunJob(const std::string& work_dir, const std::string& name, const std::string& job,
                const std::string& port, const std::string& sim, const std::string& dump) {
  const std::string items = sim + ";save=" + name + ".bin;trace=" + name + ".vcd";
  std::printf("Running %s (%s through %s)...\n", name.c_str(), job.c_str(), port.c_str());
  std::fflush(stdout);
  const auto started = std::chrono::steady_clock::now();
  const int status = RunShell("cd " + Quoted(work_dir) + " && export EBRILO_SIM=" + Quoted(items) +
                              " && exec " + Quoted(EBRILO_SIM_PATH) + " " + job + " /PORT:" + port +
                              " </dev/null >" + name + ".out 2>" + name + ".err");
  WholeRun run;
  run.wall_s = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  const TraceFigures trace = ReadTrace(work_dir + "/" + name + ".vcd");
  run.err = FileText(work_dir + "/" + name + ".err");
  run.done = status == 0 && trace.read &&
             (dump.empty() || FileText(work_dir + "/" + name + ".bin") == FileText(dump));
  run.opening_s = static_cast<double>(trace.program_ns) / kNsPerS;
  run.start_to_prompt_s = static_cast<double>(trace.program_ns + trace.end_ns) / kNsPerS;
  return run;
}

std::string Seconds(double seconds) {
  return Fixed(seconds, 3) + " s";
}
