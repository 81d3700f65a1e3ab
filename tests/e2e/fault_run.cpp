// SPDX-License-Identifier: MIT
#include "tests/e2e/fault_run.h"

#include <algorithm>
#include <filesystem>
#include <random>
#include <string_view>

namespace {

constexpr int kAppRegistersReset = 10;

bool Has(const std::vector<std::string>& switches, const char* wanted) {
  return std::find(switches.begin(), switches.end(), wanted) != switches.end();
}

std::string AppErrorLine(int index) {
  return "error at " + std::to_string(index) + " 184:" + std::to_string(index);
}

std::string OpeningFailure(int status) {
  return RunHead() +
         Lines({status == 4 ? "ERROR: Circuit not found or bus error!"
                            : "ERROR: Eeprom not available!"}) +
         Closing();
}

// The registers listed in the error lines between the head and the tail of
// an APP reset's output, or nothing when a line is not an error line.
std::optional<std::vector<int>> ListedRegisters(std::string_view lines) {
  std::vector<int> failed;
  for (int index = 0; index < kAppRegistersReset && !lines.empty(); ++index) {
    const std::string line = AppErrorLine(index) + "\r\n";
    if (lines.starts_with(line)) {
      failed.push_back(index);
      lines.remove_prefix(line.size());
    }
  }
  if (!lines.empty()) {
    return std::nullopt;
  }
  return failed;
}

}  // namespace

ImageWrite FaultRun::WriteImage(const Bytes& image, const Bytes& before,
                                const std::vector<std::string>& switches,
                                const std::string& faults) const {
  ImageWrite write;
  write.byte_mode = Has(switches, "/B");
  write.ignore_errors = Has(switches, "/E");
  write.image = image;
  write.before = before;
  WriteFile("dump.bin", image);
  WriteFile("old.bin", before);
  std::filesystem::remove(Path("chip.bin"));
  std::vector<std::string> arguments = {"dump.bin"};
  arguments.insert(arguments.end(), switches.begin(), switches.end());
  write.run = Run({.arguments = arguments, .sim = "load=old.bin;save=chip.bin;" + faults});
  write.after = ReadFile("chip.bin");
  return write;
}

ProgramRun FaultRun::ResetApp(const Bytes& before, const std::vector<std::string>& switches,
                              const std::string& faults, Bytes& app) const {
  WriteFile("old_app.bin", before);
  std::filesystem::remove(Path("app.bin"));
  std::vector<std::string> arguments = {"/P"};
  arguments.insert(arguments.end(), switches.begin(), switches.end());
  const ProgramRun run =
      Run({.arguments = arguments, .sim = "app_load=old_app.bin;app_save=app.bin;" + faults});
  app = ReadFile("app.bin");
  return run;
}

std::string CheckAppReset(const ProgramRun& run, const Bytes& before, const Bytes& after,
                          const std::optional<std::vector<int>>& expected_failed) {
  const std::string out = MaskDelayCount(run.out);
  if (after.size() != before.size()) {
    return "the APP registers were not saved; status " + std::to_string(run.status) +
           ", output ends: " + TextAround(run.out, run.out.size()) +
           ", standard error: " + TextAround(run.err, 0) + "\n";
  }
  if (run.status == 4 || run.status == 5) {
    const std::string difference = TextDifference(out, OpeningFailure(run.status));
    std::string problems = difference.empty() ? "" : "the output and the expected " + difference;
    return problems + (after == before ? "" : "registers changed by a run that never opened\n");
  }
  const std::string head = RunHead() + Lines({"", "Resetting APP..."});
  const std::string tail = Lines({"Done."}) + Closing();
  if (run.status != 0 || !out.starts_with(head) || !out.ends_with(tail) ||
      out.size() < head.size() + tail.size()) {
    return "status " + std::to_string(run.status) + ", signal " + std::to_string(run.signal) +
           ", output: " + HeadOrTailDifference(out, head, tail);
  }
  const auto failed = ListedRegisters(
      std::string_view(out).substr(head.size(), out.size() - head.size() - tail.size()));
  if (!failed) {
    return "unexpected lines after the head: " + TextAround(out, head.size()) + "\n";
  }
  std::string problems;
  if (expected_failed && *failed != *expected_failed) {
    problems += "other registers listed as failed than expected\n";
  }
  for (std::size_t index = 0; index < after.size(); ++index) {
    const bool reset =
        index < kAppRegistersReset &&
        std::find(failed->begin(), failed->end(), static_cast<int>(index)) == failed->end();
    if (after[index] != (reset ? 0xFF : before[index])) {
      problems += "register " + std::to_string(index) + " holds " + std::to_string(after[index]) +
                  (reset ? ", not 255 (reported reset)\n" : ", not its old value\n");
    }
  }
  return problems;
}

Bytes RandomBytes(std::uint32_t seed, std::size_t count) {
  std::mt19937 generator(seed);
  Bytes bytes(count);
  for (auto& byte : bytes) {
    byte = static_cast<std::uint8_t>(generator());
  }
  return bytes;
}
