// SPDX-License-Identifier: MIT
#include "bench/chip_bench.h"

#include <cstdint>
#include <fstream>
#include <random>
#include <string>

#include "bench/report_table.h"
#include "bench/shell_run.h"
#include "bench/whole_run.h"

namespace {

// A 24C64 holds 8 times the 24RF08's bytes in pages twice as long: its
// verified write may take at most this many times the 24RF08's, start-up
// and all, on the serial port.
constexpr double kLargestRatio = 8.8;

// A verified page-mode write with /F of the chip (at address pins 0), its
// write cycle 5 ms.
WholeRun VerifiedWrite(const std::string& work_dir, const std::string& chip, std::size_t size,
                       const std::string& port) {
  const std::string dump = MakeDump(work_dir, chip, size);
  return RunJob(work_dir, "family-" + chip + "-" + port, Quoted(dump) + " /F /V /CHIP:" + chip,
                port, "write_ms=5;chip=" + chip, dump);
}

std::string Figures(const WholeRun& run) {
  return Seconds(run.start_to_prompt_s) + " (bus " +
         Seconds(run.start_to_prompt_s - run.opening_s) + "; wall time " + Seconds(run.wall_s) +
         ")";
}

}  // namespace

std::string MakeDump(const std::string& work_dir, const std::string& chip, std::size_t size) {
  const std::string path = work_dir + "/" + chip + "-dump.bin";
  std::mt19937 generator(static_cast<std::uint32_t>(size));
  std::ofstream file(path, std::ios::binary);
  for (std::size_t i = 0; i < size; ++i) {
    file.put(static_cast<char>(generator() & 0xFF));
  }
  return path;
}

void BenchChipFamily(const std::string& work_dir) {
  AddSection("The 24Cxx family: page mode /F /V, start to prompt, simulated time");
  const WholeRun rf08 = VerifiedWrite(work_dir, "24RF08", 1024, "COM1");
  const WholeRun c64 = VerifiedWrite(work_dir, "24C64", 8192, "COM1");
  if (!rf08.done || !c64.done) {
    AddRow("Serial port: 24RF08, 24C64", "failed: " + rf08.err + c64.err, "", MetText(false));
  } else {
    AddRow("Serial port: 24RF08", Figures(rf08));
    const double ratio = c64.start_to_prompt_s / rf08.start_to_prompt_s;
    AddRow("Serial port: 24C64, and its ratio to the 24RF08's",
           Figures(c64) + ", " + Fixed(ratio, 2), "≤ " + Fixed(kLargestRatio, 1),
           MetText(ratio <= kLargestRatio));
  }
  for (const std::string port : {"i2c-1", "ch341a"}) {
    const WholeRun run = VerifiedWrite(work_dir, "24C512", 65536, port);
    AddRow(port + ": 24C512", run.done ? Figures(run) : "failed: " + run.err, "",
           run.done ? "" : MetText(false));
  }
}
