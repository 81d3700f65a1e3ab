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

// A 24C64's verified write on the serial port, at the plain chips' 100 kHz,
// start-up and all; a 24C512's through the CH341A at its 400 kHz, and at
// /KHZ:100.
constexpr double kSerial24C64Seconds = 4.4;
constexpr double kProgrammer24C512Seconds = 7.0;
constexpr double kProgrammer24C512At100Seconds = 15.5;

// A verified page-mode write with /F of the chip (at address pins 0), its
// write cycle 5 ms.
WholeRun VerifiedWrite(const std::string& work_dir, const std::string& chip, std::size_t size,
                       const std::string& port, const std::string& more = "") {
  const std::string dump = MakeDump(work_dir, chip, size);
  return RunJob(work_dir, "family-" + chip + "-" + port + more.substr(more.find(':') + 1),
                Quoted(dump) + " /F /V /CHIP:" + chip + more, port, "write_ms=5;chip=" + chip,
                dump);
}

std::string Figures(const WholeRun& run) {
  return Seconds(run.start_to_prompt_s) + " (bus " +
         Seconds(run.start_to_prompt_s - run.opening_s) + "; wall time " + Seconds(run.wall_s) +
         ")";
}

void TargetRow(const std::string& title, const WholeRun& run, double target) {
  AddRow(title, run.done ? Figures(run) : "failed: " + run.err, "≤ " + Seconds(target),
         MetText(run.done && run.start_to_prompt_s <= target));
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
  AddRow("Serial port: 24RF08 (40 µs bit delay)", rf08.done ? Figures(rf08) : "failed: " + rf08.err,
         "", rf08.done ? "" : MetText(false));
  TargetRow("Serial port: 24C64 (100 kHz)", VerifiedWrite(work_dir, "24C64", 8192, "COM1"),
            kSerial24C64Seconds);
  const WholeRun adapter = VerifiedWrite(work_dir, "24C512", 65536, "i2c-1");
  AddRow("i2c-1: 24C512 (100 kHz)", adapter.done ? Figures(adapter) : "failed: " + adapter.err, "",
         adapter.done ? "" : MetText(false));
  TargetRow("ch341a: 24C512 (400 kHz)", VerifiedWrite(work_dir, "24C512", 65536, "ch341a"),
            kProgrammer24C512Seconds);
  TargetRow("ch341a: 24C512 at /KHZ:100",
            VerifiedWrite(work_dir, "24C512", 65536, "ch341a", " /KHZ:100"),
            kProgrammer24C512At100Seconds);
}
