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

// The run's time on the bus, from the port's opening to its last line
// change: what the job itself costs. The start-up before it (on the serial
// port the bit delay's calibration, a second or more) is the same for every
// job, and would hide how much less a compare or an update does.
double Bus(const WholeRun& run) {
  return run.start_to_prompt_s - run.opening_s;
}

// The fastest of runs runs of one job. On the serial port the bus is timed
// by busy loops, and other work on the machine only ever makes a run slower:
// the fastest is the nearest to what the job itself takes. /R leaves its
// file, which the next read must find gone.
WholeRun Fastest(int runs, const std::string& work_dir, const std::string& name,
                 const std::string& job, const std::string& port, const std::string& sim,
                 const std::string& dump, const std::string& made = "") {
  WholeRun fastest;
  for (int run = 0; run < runs; ++run) {
    if (!made.empty()) {
      std::filesystem::remove(made);
    }
    const WholeRun this_run = RunJob(work_dir, name, job, port, sim, dump);
    if (run == 0 || !this_run.done || (fastest.done && Bus(this_run) < Bus(fastest))) {
      fastest = this_run;
    }
    if (!fastest.done) {
      break;
    }
  }
  return fastest;
}

// "bus 2.034 s (run 5.796 s)".
std::string Figures(const WholeRun& run) {
  return "bus " + Seconds(Bus(run)) + " (run " + Seconds(run.start_to_prompt_s) + ")";
}

void AddRatioRow(const std::string& measure, const WholeRun& run, const WholeRun& whole,
                 double most) {
  if (!run.done || !whole.done) {
    AddRow(measure, "failed: " + run.err + whole.err, "", MetText(false));
    return;
  }
  const double ratio = Bus(run) / Bus(whole);
  AddRow(measure, Figures(run) + ", " + Fixed(ratio, 2), "≤ " + Fixed(most, 2),
         MetText(ratio <= most));
}

}  // namespace

void BenchUpdates(const std::string& work_dir) {
  AddSection("Compare and update (/C, /U /F /V), bus time, simulated clock");
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
    // The serial port's runs take real time, and the fastest of three is kept.
    const int runs = carrier.port == "COM1" ? 3 : 1;
    const WholeRun whole = Fastest(runs, work_dir, name + "-write", job + " /F /V", carrier.port,
                                   sim + ";load=" + old, dump);
    AddRow(head + "/F /V of a chip 4 pages off the dump",
           whole.done ? Figures(whole) : "failed: " + whole.err, "",
           whole.done ? "" : MetText(false));
    AddRatioRow(head + "/U /F /V of it, and its ratio",
                Fastest(runs, work_dir, name + "-4", job + " /U /F /V", carrier.port,
                        sim + ";load=" + old, dump),
                whole, carrier.most_of_write);
    AddRatioRow(head + "/U /F /V of a chip that holds the dump, and its ratio",
                Fastest(runs, work_dir, name + "-0", job + " /U /F /V", carrier.port,
                        sim + ";load=" + dump, dump),
                whole, carrier.most_of_write);
    const std::string copy = work_dir + "/" + name + "-copy.bin";
    const WholeRun read =
        Fastest(runs, work_dir, name + "-read", Quoted(copy) + " /R /CHIP:" + carrier.chip,
                carrier.port, sim + ";load=" + dump, dump, copy);
    AddRatioRow(head + "/C of a chip that holds the dump, and its ratio to /R",
                Fastest(runs, work_dir, name + "-compare", job + " /C", carrier.port,
                        sim + ";load=" + dump, dump),
                read, kMostOfRead);
  }
}
