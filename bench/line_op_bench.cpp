// SPDX-License-Identifier: MIT
#include "bench/line_op_bench.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <span>

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

// A byte received costs no more port operations than a byte sent.
constexpr double kReadOpsPerByteTarget = 28;

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
    WritePage(static_cast<std::uint32_t>(n * kPageSize % kDataSize), kPageSize, page);
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

std::uint64_t PortOperations(const SimCounters& counters) {
  return counters.dtr_calls + counters.rts_calls + counters.cts_calls;
}

// Port operations of a random read of count bytes (at most a 128-byte block)
// through the program's own read transaction, on the simulated chip.
std::uint64_t ReadOperations(std::size_t count) {
  std::array<std::uint8_t, 128> bytes{};
  const std::uint64_t before = PortOperations(SimGetCounters());
  ReadEepromBytes(0, std::span(bytes).first(count));
  return PortOperations(SimGetCounters()) - before;
}

// Two reads that differ only in their length: the difference is what the
// bytes themselves cost, apart from the transaction around them.
double ReadOpsPerByte() {
  SimReset();
  const std::int32_t calibrated = delay_count;
  delay_count = 0;
  OpenSerialPort();
  SdaHigh();
  SclHigh();
  const std::uint64_t long_read = ReadOperations(128);
  const std::uint64_t short_read = ReadOperations(64);
  CloseSerialPort();
  delay_count = calibrated;
  SimReset();
  return static_cast<double>(long_read - short_read) / 64;
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
  const double read_ops = ReadOpsPerByte();
  AddRow("Port operations per byte read", Fixed(read_ops, 2),
         "≤ " + Fixed(kReadOpsPerByteTarget, 0), MetText(read_ops <= kReadOpsPerByteTarget));
  AddPortRow(work_dir, device);
}
