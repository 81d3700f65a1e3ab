// SPDX-License-Identifier: MIT
// The timing benchmark. The program's speed is set by its protocol: a bit
// delay calibrated to 40 µs after every line change, and a wait of just over
// 50 ms after every write. This measures how closely it keeps to that:
// the calibration and the bit delay it gives, what a line operation adds,
// and whole runs of ebrilo-sim against the time their protocol takes.
//
// Usage: ebrilo-bench --markdown FILE [--port DEVICE] [--only SECTION]
// The table goes to standard output and, as Markdown, to FILE; the runs'
// files go to a folder bench-runs beside it. A real port is timed only when
// named: this machine's own serial ports may be its console. --only runs
// the sections whose name holds SECTION.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <thread>

#include "bench/adapter_bench.h"
#include "bench/bit_delay_bench.h"
#include "bench/ch341a_bench.h"
#include "bench/chip_bench.h"
#include "bench/i2c_adapter_bench.h"
#include "bench/line_op_bench.h"
#include "bench/report_table.h"
#include "bench/sim_run_bench.h"
#include "bench/update_bench.h"

namespace {

int Usage() {
  std::fputs("usage: ebrilo-bench --markdown FILE [--port DEVICE] [--only SECTION]\n", stderr);
  return 2;
}

// The system's 1-minute load average: other work on the machine shares its
// cores with the busy loops and shows in every figure.
std::string LoadAverage() {
  std::ifstream file("/proc/loadavg");
  std::string load = "unknown";
  file >> load;
  return load;
}

}  // namespace

int main(int argc, char** argv) {
  std::string markdown;
  std::string device;
  std::string only;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string_view option = argv[i];
    if (option == "--markdown") {
      markdown = argv[i + 1];
    } else if (option == "--port") {
      device = argv[i + 1];
    } else if (option == "--only") {
      only = argv[i + 1];
    } else {
      return Usage();
    }
  }
  if (markdown.empty() || argc % 2 == 0) {
    return Usage();
  }
  const std::filesystem::path work_dir =
      std::filesystem::absolute(markdown).parent_path() / "bench-runs";
  std::filesystem::create_directories(work_dir);

  const std::string load_before = LoadAverage();
  std::puts("Calibrating and timing the bit delay...");
  std::fflush(stdout);
  // --only runs one section: its name in the table, or a word of it.
  const auto section = [&only](std::string_view name) {
    return only.empty() || name.find(only) != std::string_view::npos;
  };
  if (section("bit delay")) {
    BenchBitDelay();
  }
  if (section("line operations")) {
    BenchLineOps(work_dir.string(), device);
  }
  if (section("serial port runs")) {
    BenchSimRuns(work_dir.string());
  }
  if (section("USB serial adapter")) {
    BenchAdapterRuns(work_dir.string());
  }
  if (section("I2C adapter")) {
    BenchI2cAdapterRuns(work_dir.string());
  }
  if (section("CH341A programmer")) {
    BenchProgrammerRuns(work_dir.string());
  }
  if (section("start-up")) {
    BenchStartUps(work_dir.string());
  }
  if (section("24Cxx family")) {
    BenchChipFamily(work_dir.string());
  }
  if (section("Compare and update")) {
    BenchUpdates(work_dir.string());
  }
  AddSection("Machine");
  AddRow("Hardware threads", std::to_string(std::thread::hardware_concurrency()));
  AddRow("Load average (1 min) before / after: other work slows every figure",
         load_before + " / " + LoadAverage());

  PrintTable();
  if (!WriteMarkdown(markdown, "ebrilo timing benchmark")) {
    std::fprintf(stderr, "ebrilo-bench: cannot write %s\n", markdown.c_str());
    return 1;
  }
  std::printf("\nWritten to %s\n", markdown.c_str());
  return 0;
}
