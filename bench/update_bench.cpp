// SPDX-License-Identifier: MIT
#include "bench/update_bench.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "bench/chip_bench.h"
#include "bench/report_table.h"
#include "bench/shell_run.h"
#include "bench/whole_run.h"

namespace {

// A read costs about what a write costs without its write cycle, so what an
// update spares differs by carrier: the serial port's bit-banged read is
// slowest beside its writes, the CH341A's fastest.
struct Carrier {
  std::string port;
  std::string chip;
  std::size_t size;
  std::size_t page;
  double most_of_write;  // an update's share of the whole verified write
};

// A compare reads each unit once where a read into a file reads it twice.
constexpr double kMostOfRead = 0.6;

// The chip's old contents: the dump with one byte changed in each of four
// pages spread over the chip.
std::string MakeOldContents(const std::string& work_dir, const Carrier& carrier,
                            const std::string& dump) {
  std::string bytes = FileText(dump);
  const std::size_t pages = carrier.size / carrier.page;
  for (const std::size_t page : {std::size_t{3}, pages / 4, pages / 2, pages - 1}) {
    bytes[page * carrier.page + 5] = static_cast<char>(bytes[page * carrier.page + 5] ^ 0x5A);
  }
  const std::string path = work_dir + "/" + carrier.chip + "-old.bin";
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

std::string Ratio(const WholeRun& run, const WholeRun& whole) {
  return Seconds(run.start_to_prompt_s) + ", " +
         Fixed(run.start_to_prompt_s / whole.start_to_prompt_s, 2);
}

void AddRatioRow(const std::string& measure, const WholeRun& run, const WholeRun& whole,
                 double most) {
  if (!run.done || !whole.done) {
    AddRow(measure, "failed: " + run.err + whole.err, "", MetText(false));
    return;
  }
  const double ratio = run.start_to_prompt_s / whole.start_to_prompt_s;
  AddRow(measure, Ratio(run, whole), "≤ " + Fixed(most, 2), MetText(ratio <= most));
}

}  // namespace

void BenchUpdates(const std::string& work_dir) {
  AddSection("Compare (/C) and update (/U /F /V), start to prompt, simulated time");
  const Carrier carriers[] = {{"COM1", "24C64", 8192, 32, 0.55},
                              {"i2c-1", "24C512", 65536, 128, 0.45},
                              {"ch341a", "24C512", 65536, 128, 0.35}};
  for (const Carrier& carrier : carriers) {
    const std::string dump = MakeDump(work_dir, carrier.chip, carrier.size);
    const std::string old = MakeOldContents(work_dir, carrier, dump);
    const std::string sim = "write_ms=5;chip=" + carrier.chip;
    const std::string name = "update-" + carrier.chip + "-" + carrier.port;
    const std::string job = Quoted(dump) + " /CHIP:" + carrier.chip;
    const std::string head = carrier.port + ", " + carrier.chip + ": ";
    const WholeRun whole =
        RunJob(work_dir, name + "-write", job + " /F /V", carrier.port, sim + ";load=" + old, dump);
    AddRow(head + "/F /V of a chip 4 pages off the dump",
           whole.done ? Seconds(whole.start_to_prompt_s) : "failed: " + whole.err, "",
           whole.done ? "" : MetText(false));
    AddRatioRow(
        head + "/U /F /V of it, and its ratio",
        RunJob(work_dir, name + "-4", job + " /U /F /V", carrier.port, sim + ";load=" + old, dump),
        whole, carrier.most_of_write);
    AddRatioRow(
        head + "/U /F /V of a chip that holds the dump, and its ratio",
        RunJob(work_dir, name + "-0", job + " /U /F /V", carrier.port, sim + ";load=" + dump, dump),
        whole, carrier.most_of_write);
    const std::string copy = work_dir + "/" + name + "-copy.bin";
    std::filesystem::remove(copy);
    const WholeRun read =
        RunJob(work_dir, name + "-read", Quoted(copy) + " /R /CHIP:" + carrier.chip, carrier.port,
               sim + ";load=" + dump, dump);
    AddRatioRow(
        head + "/C of a chip that holds the dump, and its ratio to /R",
        RunJob(work_dir, name + "-compare", job + " /C", carrier.port, sim + ";load=" + dump, dump),
        read, kMostOfRead);
  }
}
