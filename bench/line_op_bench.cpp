// SPDX-License-Identifier: MIT
#include "bench/line_op_bench.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>

#include "bench/report_table.h"
#include "bench/shell_run.h"
#include "bus/serial_lines.h"
#include "eeprom/transactions.h"
#include "sim/sim.h"
#include "timing/delay.h"

namespace {

using Clock = std::chrono::steady_clock;

// About two million line operations.
constexpr int kPages = 4000;
constexpr int kPageSize = 16;
constexpr int kDataSize = 1024;

// A line operation should cost no more than 0.5% of a 40 µs bit delay.
constexpr double kLineOpTargetNs = 200;

// Page writes through the program's own bus code with delay_count 0, so that
// each primitive makes no busy pass and what is timed is its line operation.
// With no write cycle the chip takes every page, so every byte goes out.
double SimLineOpNs(const std::string& trace) {
  SimReset();
  SimConfig config;
  config.write_ms = 0;
  config.trace = trace;
  SimConfigure(config);
  const std::int32_t calibrated = delay_count;
  delay_count = 0;
  std::array<std::uint8_t, kPageSize> page{};
  for (std::size_t i = 0; i < page.size(); ++i) {
    page[i] = static_cast<std::uint8_t>(i * 37 + 5);
  }
  OpenSerialPort();
  SdaHigh();
  SclHigh();
  const SimCounters before = SimGetCounters();
  const Clock::time_point start = Clock::now();
  for (int n = 0; n < kPages; ++n) {
    WritePage(static_cast<std::uint16_t>(n * kPageSize % kDataSize), kPageSize, page);
  }
  const double ns = std::chrono::duration<double, std::nano>(Clock::now() - start).count();
  const SimCounters after = SimGetCounters();
  CloseSerialPort();
  delay_count = calibrated;
  SimReset();
  const std::uint64_t operations = (after.dtr_calls - before.dtr_calls) +
                                   (after.rts_calls - before.rts_calls) +
                                   (after.cts_calls - before.cts_calls);
  return ns / static_cast<double>(operations);
}

void AddSimRow(const std::string& measure, double ns) {
  AddRow(measure, Fixed(ns, 1) + " ns", "< " + Fixed(kLineOpTargetNs / 1000, 1) + " µs",
         MetText(ns < kLineOpTargetNs));
}

// The real port is timed by a program of its own, since it and the simulated
// port provide the same five operations. It prints the nanoseconds of one
// operation, or why it could not measure them.
void AddPortRow(const std::string& work_dir, const std::string& device) {
  if (device.empty()) {
    AddRow("Real port line operation (adds to each bit delay)", "no port");
    return;
  }
  const std::string output = work_dir + "/port.txt";
  RunShell("exec " + Quoted(EBRILO_PORT_BENCH_PATH) + " " + Quoted(device) + " >" + Quoted(output) +
           " 2>&1");
  std::string text = FileText(output);
  text.erase(text.find_last_not_of("\r\n") + 1);
  char* end = nullptr;
  const double ns = std::strtod(text.c_str(), &end);
  const std::string measure = "Real port line operation on " + device + " (adds to each bit delay)";
  if (end == text.c_str() || *end != '\0') {
    AddRow(measure, text.empty() ? "no result" : text);
    return;
  }
  AddRow(measure, Fixed(ns / 1000, 2) + " µs");
}

}  // namespace

void BenchLineOps(const std::string& work_dir, const std::string& device) {
  AddSection("Line operations");
  AddSimRow("Simulated line operation, untraced", SimLineOpNs(""));
  // The trace of two million operations is large and of no further use.
  const std::string trace = work_dir + "/line-ops.vcd";
  AddSimRow("Simulated line operation, traced", SimLineOpNs(trace));
  std::filesystem::remove(trace);
  AddPortRow(work_dir, device);
}
