// SPDX-License-Identifier: MIT
#include "bench/adapter_bench.h"

#include <cstdio>
#include <string>

#include "bench/report_table.h"
#include "bench/shell_run.h"
#include "bench/sim_run_bench.h"
#include "bench/trace_reader.h"

namespace {

constexpr double kNsPerMs = 1e6;
constexpr double kOperationMs = 1;
// The workaround raises the delay after every line change to this; the
// program has no switch for it, so its time is worked out from the run's
// own line primitives and writes, as they take it on the same adapter.
constexpr double kWorkaroundDelayMs = 6;
constexpr double kPortSettleMs = 200;
constexpr double kWriteSettleMs = 51;
// With a 3 ms lag, the run takes at most this share of the workaround's time.
constexpr double kTargetShare = 0.5;

// The simulated clock runs this much faster than real time. The adapter's
// costs take no real time, but the waits do, and a moment the system gives
// the process no processor counts that many times over: a faster clock would
// show the machine's load more than the program's own time.
constexpr const char* kSpeed = "speed=10;";

// Runs the sample dump's page-mode write with /V; false when it failed or
// left the chip wrong. Its standard error goes to err.
bool Run(const std::string& work_dir, const std::string& name, const std::string& adapter,
         TraceFigures& trace, std::string& err) {
  const std::string sim = "speed=100;" + adapter + ";save=" + name + ".bin;trace=" + name + ".vcd";
  std::printf("Running a verified page-mode write, %s...\n", adapter.c_str());
  std::fflush(stdout);
  const int status =
      RunShell("cd " + Quoted(work_dir) + " && export EBRILO_SIM=" + Quoted(sim) + " && exec " +
               Quoted(EBRILO_SIM_PATH) + " " + Quoted(EBRILO_SAMPLE_DUMP) + " /V </dev/null >" +
               name + ".out 2>" + name + ".err");
  trace = ReadTrace(work_dir + "/" + name + ".vcd");
  err = FileText(work_dir + "/" + name + ".err");
  while (!err.empty() && (err.back() == '\n' || err.back() == '\r')) {
    err.pop_back();
  }
  return status == 0 && trace.read &&
         FileText(work_dir + "/" + name + ".bin") == FileText(EBRILO_SAMPLE_DUMP);
}

}  // namespace

void BenchAdapterRuns(const std::string& work_dir) {
  AddSection("USB adapter model: page mode /V, 1 ms per line operation (simulated time)");
  TraceFigures reference;
  std::string err;
  if (!Run(work_dir, "adapter-none", "op_us=0", reference, err)) {
    AddRow("Reference run on a fast port", "failed", "", MetText(false));
    return;
  }
  int primitives = 0;
  int writes = 0;
  ProtocolCounts(reference, primitives, writes);
  const double workaround_ms =
      kPortSettleMs + primitives * (kOperationMs + kWorkaroundDelayMs) + writes * kWriteSettleMs;
  AddRow("Workaround, every bit delay 6 ms: " + std::to_string(primitives) +
             " line operations × 7 ms + " + std::to_string(writes) + " writes × 51 ms + 200 ms",
         Fixed(workaround_ms / 1000, 1) + " s");
  for (const int lag_ms : {0, 3, 16}) {
    const std::string name = "adapter-lag" + std::to_string(lag_ms);
    TraceFigures trace;
    if (!Run(work_dir, name, "op_us=1000;cts_lag_us=" + std::to_string(lag_ms * 1000), trace,
             err)) {
      AddRow("CTS lag " + std::to_string(lag_ms) + " ms", "failed: " + err, "", MetText(false));
      continue;
    }
    const double run_ms = static_cast<double>(trace.end_ns) / kNsPerMs;
    const double share = run_ms / workaround_ms;
    const std::string title = "CTS lag " + std::to_string(lag_ms) + " ms";
    AddRow(title + ": standard error", "`" + err + "`");
    if (lag_ms == 3) {
      AddRow(title + ": port opening to the last line change, and its share of the workaround",
             Fixed(run_ms / 1000, 1) + " s, " + Fixed(share, 2), "≤ " + Fixed(kTargetShare, 2),
             MetText(share <= kTargetShare));
    } else {
      AddRow(title + ": port opening to the last line change, and its share of the workaround",
             Fixed(run_ms / 1000, 1) + " s, " + Fixed(share, 2));
    }
  }
}
