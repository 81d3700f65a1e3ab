// SPDX-License-Identifier: MIT
#include "bench/ch341a_bench.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/report_table.h"
#include "bench/shell_run.h"
#include "bench/whole_run.h"
#include "bus/serial_lines.h"
#include "bus/transfer.h"
#include "sim/sim.h"
#include "sim/sim_parts.h"

namespace {

// The whole verified write through the programmer, start to prompt, and
// its time on the bus: the chip's 64 write cycles and the bus's own time at
// 100 kHz take half a second of it (as through an I2C adapter), the pages'
// round trip each and the polls' one each the rest.
constexpr double kTargetS = 1.0;
constexpr double kBusTargetS = 0.8;
// A programmer that clocks the bus itself has no bit delay to calibrate:
// /P /R through it takes at most this share of the same job on a serial port.
constexpr double kStartUpShare = 0.35;

struct RoundTrips {
  std::size_t probe = 0;
  std::size_t page = 0;
  std::size_t busy_poll = 0;
  std::size_t ready_poll = 0;
  std::size_t block_read = 0;
};

// The round trips since the packet numbered before: the packets after which
// the program waited for the answers.
std::size_t TripsSince(std::size_t before) {
  const std::vector<SimPacket>& packets = SimProgrammerPackets();
  return static_cast<std::size_t>(
      std::count_if(packets.begin() + static_cast<std::ptrdiff_t>(before), packets.end(),
                    [](const SimPacket& packet) { return packet.answered; }));
}

// Counts the round trips of each transaction the jobs are made of, in this
// process, against the simulated programmer.
RoundTrips CountRoundTrips() {
  RoundTrips trips;
  SimReset();
  SimConfigureText("write_ms=1000");
  port_name = "ch341a";
  OpenBus();
  trips.probe = TripsSince(0);
  const std::vector<std::uint8_t> page(16, 0x5A);
  std::size_t before = SimProgrammerPackets().size();
  WriteTransaction(0xA8, 0x00, 1, page);
  trips.page = TripsSince(before);
  before = SimProgrammerPackets().size();
  PollTransaction();
  trips.busy_poll = TripsSince(before);
  SimTimeSpend(1'000'000'000);
  before = SimProgrammerPackets().size();
  PollTransaction();
  trips.ready_poll = TripsSince(before);
  std::vector<std::uint8_t> block(128);
  before = SimProgrammerPackets().size();
  ReadTransaction(0xA8, 0x00, 1, block);
  trips.block_read = TripsSince(before);
  CloseBus();
  SimReset();
  port_name.clear();
  return trips;
}

// The jobs timed: the sample dump's page-mode write with /F /V, and the APP
// page shown, which is little more than start-up and the bus's opening.
const std::string kVerifiedWrite = Quoted(EBRILO_SAMPLE_DUMP) + " /F /V";
const std::string kAppListing = "/P /R";

// The job at speed 1 on the port given, the chip's write cycle 5 ms; the
// write is done only when it left the dump in the chip.
WholeRun Run(const std::string& work_dir, const std::string& name, const std::string& job,
             const std::string& port) {
  return RunJob(work_dir, name, job, port, "write_ms=5",
                job == kVerifiedWrite ? EBRILO_SAMPLE_DUMP : "");
}

}  // namespace

void BenchProgrammerRuns(const std::string& work_dir) {
  AddSection("CH341A programmer, simulated at 1 ms per USB round trip: page mode /F /V");
  const RoundTrips trips = CountRoundTrips();
  AddRow("Round trips: probe, page (16 bytes), poll while busy, poll once ready, 128-byte read",
         std::to_string(trips.probe) + ", " + std::to_string(trips.page) + ", " +
             std::to_string(trips.busy_poll) + ", " + std::to_string(trips.ready_poll) + ", " +
             std::to_string(trips.block_read));
  const WholeRun serial = Run(work_dir, "ch341a-serial", kVerifiedWrite, "COM1");
  const WholeRun programmer = Run(work_dir, "ch341a", kVerifiedWrite, "ch341a");
  for (const WholeRun* run : {&serial, &programmer}) {
    const std::string title = run == &serial ? "Serial port" : "CH341A";
    if (!run->done) {
      AddRow(title, "failed: " + run->err, "", MetText(false));
      continue;
    }
    const double bus_s = run->start_to_prompt_s - run->opening_s;
    const std::string value = Seconds(run->start_to_prompt_s) + " (start-up " +
                              Seconds(run->opening_s) + ", bus " + Seconds(bus_s) + "; wall time " +
                              Seconds(run->wall_s) + ")";
    if (run == &programmer) {
      AddRow(title + ": start to prompt, simulated time", value, "≤ " + Seconds(kTargetS),
             MetText(run->start_to_prompt_s <= kTargetS));
      AddRow(title + ": bus, opening to prompt, simulated time", Seconds(bus_s),
             "≤ " + Seconds(kBusTargetS), MetText(bus_s <= kBusTargetS));
    } else {
      AddRow(title + ": start to prompt", value);
    }
  }
}

void BenchStartUps(const std::string& work_dir) {
  AddSection("Start-up on each kind of port: /P /R, start to prompt, simulated time");
  const WholeRun serial = Run(work_dir, "app-serial", kAppListing, "COM1");
  if (!serial.done) {
    AddRow("Serial port", "failed: " + serial.err, "", MetText(false));
    return;
  }
  AddRow("Serial port (start-up " + Seconds(serial.opening_s) + ")",
         Seconds(serial.start_to_prompt_s));
  for (const std::string port : {"i2c-1", "ch341a"}) {
    const WholeRun run = Run(work_dir, "app-" + port, kAppListing, port);
    if (!run.done) {
      AddRow(port, "failed: " + run.err, "", MetText(false));
      continue;
    }
    const double share = run.start_to_prompt_s / serial.start_to_prompt_s;
    AddRow(port + " (start-up " + Seconds(run.opening_s) + "), and its share of the serial port's",
           Seconds(run.start_to_prompt_s) + ", " + Fixed(share, 2), "≤ " + Fixed(kStartUpShare, 2),
           MetText(share <= kStartUpShare));
  }
}
